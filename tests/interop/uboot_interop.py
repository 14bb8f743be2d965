#!/usr/bin/env python3
"""The tollan command sending to loadx, loady and loadb (Kermit) of U-Boot (2023.01, in QEMU);
U-Boot's crc32 and ${filesize} check what arrived. loadx does not count three or more trailing
0x1A.
"""

import os
import re
import subprocess
import sys
import termios
import zlib

from interop_support import check, file_lines, main, random_bytes, write

# Around each block size, and a larger file.
SIZES = (1, 125, 128, 129, 1000, 1024, 1025, 20000)
MACHINE = {"arm64": ["qemu-system-aarch64", "-M", "virt", "-cpu", "cortex-a57"],
           "arm": ["qemu-system-arm", "-M", "virt"]}


class Console:
    def __init__(self, case, arch):
        self.case = case
        qemu = subprocess.Popen(
            MACHINE[arch] + ["-m", "128", "-nodefaults", "-display", "none", "-monitor", "none",
                             "-bios", f"/usr/lib/u-boot/qemu_{arch}/u-boot.bin",
                             "-serial", "pty"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        case.processes.append(qemu)
        found = re.search(rb"(/dev/pts/\d+)", qemu.stdout.readline())
        check(found is not None, "QEMU gave no pseudo-terminal")
        self.line, inner = case.pty_pair()
        self.relay = case.relay(inner, found.group(1).decode())
        self.fd = case.open_end(self.line)
        self.mark = 0
        # Any key stops the autoboot.
        self.relay.wait_for(lambda seen: b"Hit any key" in seen["right"], "U-Boot's autoboot")
        os.write(self.fd, b"\r")
        self.prompt()

    def prompt(self):
        start, seen = self.mark, self.relay.seen["right"]
        self.relay.wait_for(lambda seen: seen["right"].find(b"\n=> ", start) >= 0,
                            "U-Boot's prompt")
        self.mark = seen.find(b"\n=> ", start) + 4
        termios.tcflush(self.fd, termios.TCIFLUSH)
        return bytes(seen[start:self.mark]).decode("latin-1")

    def load(self, command, tollan_args, data):
        write(self.case.path("image.bin"), data)
        if command == "loadb":
            # A Kermit sender speaks first: the loader must be listening, or the shell takes the
            # Send-Init for a command line.
            start, seen = self.mark, self.relay.seen["right"]
            os.write(self.fd, command.encode() + b"\r")
            self.relay.wait_for(lambda seen: seen["right"].find(b"download", start) >= 0,
                                "loadb's banner")
            tollan = self.case.tollan("send", *tollan_args, "-l", self.line, "image.bin")
        else:
            # tollan waits first: the command's echo and the loader's banner come before its 'C'.
            tollan = self.case.tollan("send", *tollan_args, "-l", self.line, "image.bin")
            self.case.wait_opened(tollan, self.line)
            os.write(self.fd, command.encode() + b"\r")
        out, _ = self.case.expect(tollan, 0, "tollan " + " ".join(tollan_args))
        check(file_lines(out) == [("image.bin", "OK")], out)
        check("## Total Size" in self.prompt(), command)
        for typed, shown in (("printenv filesize", f"filesize={len(data):x}"),
                             (f"crc32 ${{loadaddr}} {len(data):x}", f"==> {zlib.crc32(data):08x}"),
                             ("echo clean", "\r\nclean\r\n=> ")):
            os.write(self.fd, typed.encode() + b"\r")
            printed = self.prompt()
            check(shown in printed, f"{command}, {len(data)} bytes: {typed}: {printed!r}")


def loader(arch, runs):
    def run(case):
        console = Console(case, arch)
        for command, options in runs:
            for size in SIZES:
                # U-Boot cannot tell padding from data that ends in 0x1A.
                console.load(command, options, random_bytes(size - 1, size) + b"\x55")
    return run


loadx_arm64 = loader("arm64", [("loadx", ["-p", "xmodem"]), ("loadx", ["-p", "xmodem-1k"])])
loady_arm = loader("arm", [("loady", ["-p", "ymodem"])])
loadb_arm64 = loader("arm64", [("loadb", ["-p", "kermit"]),
                               ("loadb", ["-p", "kermit", "--block-check", "1", "--seven-bit"])])

if __name__ == "__main__":
    sys.exit(main(globals()))
