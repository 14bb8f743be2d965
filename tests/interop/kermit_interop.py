#!/usr/bin/env python3
"""The tollan command's Kermit against G-Kermit (2.01) and C-Kermit (402 beta 8), both ways:
each block check, 8-bit and 7-bit (even parity: the peer asks for 8th-bit prefixing and sends a
parity bit), short and long packets, a batch with an empty file and one full of control and high-bit bytes,
and a noisy line (bench/line_simulator). C-Kermit runs on its own line (-l) with its messages
kept off it; G-Kermit runs on its standard input and output. A receiver starts first.
"""

import os
import subprocess
import sys

from interop_support import check, check_files, file_lines, main, random_bytes, wait_until, \
    write

TIME = 0x50000000
FILES = {"empty": b"",
         "controls.bin": bytes(range(256)) * 16 + bytes(500) + b"#&~" * 90 + b"\xff" * 300 +
         bytes([0x01, 0x0D, 0x03, 0x03, 0x0D, 0x8D, 0x81]) * 40,
         "random.bin": random_bytes(150000, 3),
         "name with spaces.txt": b"a line of text\r\n" * 200}


def ckermit(line, commands):
    return ["kermit", "-Y", "-H", "-B", "-l", line, "-b", "115200", "-C",
            "set carrier-watch off, set flow none, set transfer mode manual, set file patterns off, "
            "set file type binary, "
            "set file collision overwrite, set file names literal, " + ", ".join(commands) + ", exit \\v(status)"]


def transfer(case, send, tollan_options, peer, line=None, files=FILES):
    """tollan sending `files` from "out" to the peer in "in", or receiving them from it; `peer`
    makes the peer's command from its line and the names (None when receiving)."""
    for name, data in files.items():
        write(os.path.join(case.out, name), data, TIME)
    tollan_line, peer_line = line or case.pty_pair()
    stdio = peer(peer_line, None)[0] == "gkermit"
    peer_end = peer_line if stdio else None
    if send:
        other = case.start(peer(peer_line, None), line=peer_end, cwd=case.into)
        case.wait_opened(other, peer_line)
        tollan = case.tollan("send", "-p", "kermit", *tollan_options, "-l", tollan_line,
                             *files, cwd=case.out)
    else:
        tollan = case.tollan("receive", "-p", "kermit", *tollan_options, "-l", tollan_line,
                             "--dir", case.into)
        case.wait_opened(tollan, tollan_line)
        other = case.start(peer(peer_line, list(files)), line=peer_end, cwd=case.out)
    out = case.both_succeed(tollan, other)
    # G-Kermit sends no dates.
    dated = not send and not stdio
    check_files(case.into, files, {name: TIME for name in files} if dated else None)
    check(file_lines(out) == [(name, "OK") for name in files], out)
    if line is None:
        case.cut()
    case.empty_folder(case.into)


def gkermit(options):
    return lambda line, names: ["gkermit", "-q", "-i", "-P", *options] + (
        ["-s", *names] if names else ["-r"])


def ckermit_with(settings):
    return lambda line, names: ckermit(
        line, settings + (["msend " + " ".join(f"{{{n}}}" for n in names)] if names else
                          ["receive"]))


def with_gkermit(case):
    """8-bit and 7-bit (even parity), each way; --seven-bit asks for the prefixing itself."""
    for send in (True, False):
        transfer(case, send, [], gkermit([]))
        transfer(case, send, ["--block-check", "1"], gkermit(["-p", "e"]))
        transfer(case, send, ["--seven-bit", "--packet-length", "94"], gkermit(["-e", "90"]))


def with_ckermit(case):
    """Each block check, each way: 1 on a 7-bit line with short packets, 2 and 3 with long ones
    (the peer's choice of length, then tollan's); sliding windows throughout (C-Kermit offers
    30), and a window of 4."""
    runs = [(["--block-check", "1"], ["set parity even", "set receive packet-length 90"]),
            (["--block-check", "2"], ["set block-check 2", "set receive packet-length 4000"]),
            (["--block-check", "3", "--packet-length", "2000"], ["set block-check 3"]),
            (["--packet-length", "500"], ["set window 4"])]
    for options, settings in runs:
        for send in (True, False):
            transfer(case, send, options, ckermit_with(settings))


def noisy_line(case):
    """One bit in 10^5 flipped each way, at 230400 bit/s: packets are lost and tried again."""
    simulator = os.environ["TOLLAN_LINE_SIMULATOR"]
    files = {"random.bin": random_bytes(120000, 9), "controls.bin": FILES["controls.bin"]}
    for send, seed in ((True, 1), (False, 2)):
        ends = case.path(f"lineA{seed}"), case.path(f"lineB{seed}")
        line = subprocess.Popen([simulator, "--bps", "230400", "--link-a", ends[0], "--link-b",
                                 ends[1], "--bit-errors", "100000", "--seed", str(seed)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        case.processes.append(line)
        wait_until(lambda: all(os.path.exists(end) for end in ends), "the simulated line", line)
        transfer(case, send, ["--block-check", "3"],
                 ckermit_with(["set block-check 3", "set receive packet-length 2000"]), ends,
                 files)
        line.terminate()
        line.wait()


if __name__ == "__main__":
    sys.exit(main(globals()))
