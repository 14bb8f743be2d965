#!/usr/bin/env python3
"""tollan.dll in a host application under Wine: a JScript host creates the registered class,
sets its properties and calls TransferFiles, which moves files over COM7 to lrzsz's rz and sz
on the other end of the line, bench/line_simulator at 115200 bit/s.
One case per path through the Windows code: sending to rz and receiving from sz (ZModem) in
five_hosts_under_load, and a host run that the user cancels. The protocols and their variants
are proved against lrzsz in tests/interop; the dialog of a port that will not open and a log
that cannot be created in tests/win32/component.

A case passes when TransferFiles returns the expected result, Attempted and Transferred, the
peer ends as expected and every copy is byte-identical. The dialog is reached from outside
through dialog_hand.exe (found by its caption, MaxTitle).

Usage: host_interop.py CASE. Runs in the Wine session of the caller (WINEPREFIX); needs
TOLLAN_HOST_BITS (32 or 64: the DLL's width, and so the host's and regsvr32's), TOLLAN_DLL,
TOLLAN_HAND (dialog_hand.exe) and TOLLAN_NATIVE (the native build tree: the line simulator and
the shim that keeps lrzsz's last output).
"""

import os
import subprocess
import sys

NATIVE = os.environ["TOLLAN_NATIVE"]
os.environ.setdefault("TOLLAN_KEEP_OUTPUT",
                      os.path.join(NATIVE, "tests", "interop", "libtollan_keep_output.so"))
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "interop"))

from interop_support import GUARD, check, check_files, main, random_bytes, read, \
    wait_for_size, wait_until, write  # noqa: E402

DLL = os.environ["TOLLAN_DLL"]
HAND = os.environ["TOLLAN_HAND"]
SIMULATOR = os.path.join(NATIVE, "bench", "line_simulator")
PREFIX = os.environ["WINEPREFIX"]
HOST_BITS = os.environ["TOLLAN_HOST_BITS"]
LINE_PORT = 7
ZMODEM = 1


def windows_path(path):
    """Wine's Z: drive is the Linux root."""
    return "Z:" + path.replace("/", "\\")


def host_program(name):
    """A builtin program of the DLL's width: plain `wine` is the 32-bit loader where 32-bit Wine
    is installed, and runs the programs of system32 from SysWOW64."""
    if HOST_BITS == "64":
        return ["/usr/lib/wine/wine64", rf"C:\windows\system32\{name}.exe"]
    return ["wine", rf"C:\windows\syswow64\{name}.exe"]


def wine(program, *args):
    builtin = program in ("cscript", "reg", "regsvr32")
    command = host_program(program) if builtin else ["wine", program]
    subprocess.run([*command, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=GUARD)


def prepare(line_end):
    """COM7 is `line_end` and in the port list; the class is registered. Each host process reads
    the port list when it loads the DLL."""
    link = os.path.join(PREFIX, "dosdevices", f"com{LINE_PORT}")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(line_end, link)
    wine("reg", "add", r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM", "/v",
         rf"\Device\TollanTest{LINE_PORT}", "/d", f"COM{LINE_PORT}", "/f")
    wine("regsvr32", "/s", DLL)


def simulated_line(case):
    """A line at 115200 bit/s: the paths of its two ends."""
    ends = case.path("lineA"), case.path("lineB")
    process = subprocess.Popen([SIMULATOR, "--bps", "115200", "--link-a", ends[0], "--link-b",
                                ends[1]], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    case.processes.append(process)
    wait_until(lambda: all(os.path.exists(end) for end in ends), "the simulated line", process)
    return ends


class Host:
    """A host script running TransferFiles; the dialog's caption is the case's name. `runs`
    lists the settings changed before each further run in the same host; the Nth run's dialog
    has the caption titles[N]."""

    def __init__(self, case, settings, cwd=None, show_errors=0, runs=()):
        self.case, title = case, "tollan test " + os.path.basename(case.dir)
        self.titles = [title] + [f"{title} run {n}" for n in range(2, len(runs) + 2)]
        script = windows_path(os.path.join(HERE, "transfer_host.js"))
        args = [*host_program("cscript"), "//nologo", script, f"ShowErrors={show_errors}"]
        for n, changes in enumerate([dict(settings, BaudRate=115200), *runs]):
            changes = dict(changes, MaxTitle=self.titles[n])
            args += ["Run=1"] * (n > 0) + [f"{name}={value}" for name, value in changes.items()]
        self.process = subprocess.Popen(args, cwd=cwd or case.dir, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        encoding="utf-8", errors="replace")
        case.processes.append(self.process)

    def hand(self, *steps, run=0):
        """dialog_hand on the dialog of this host's run `run`: its printed lines as a dict."""
        done = subprocess.run(["wine", HAND, self.titles[run], *map(str, steps)],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=GUARD,
                              encoding="utf-8", errors="replace")
        check(done.returncode == 0, f"dialog_hand {steps}: {done.stderr}")
        lines = done.stdout.replace("\r", "").splitlines()
        return dict(line.split("=", 1) for line in lines if "=" in line)

    def outcomes(self):
        """Waits for the host: what each of its runs printed, as dicts of numbers."""
        lines = self.case.finish(self.process)[1].replace("\r", "").splitlines()
        check("DONE" in lines, f"the host script failed: {lines!r}")
        return [{name: int(value) for name, value in (item.split("=") for item in line.split())}
                for line in lines if line.startswith("result=")]

    def expect(self, result, attempted, transferred):
        """Waits for the host and checks its outcome."""
        got = self.outcomes()[0]
        wanted = {"result": result, "attempted": attempted, "transferred": transferred}
        check(got == wanted, f"TransferFiles gave {got}, wanted {wanted}")


def host_run_two_senders_then_cancel(case):
    line, peer = simulated_line(case)
    prepare(line)
    files = {"first.bin": random_bytes(9000, 4), "second.txt": b"second sender\r\n" * 200}
    for name, data in files.items():
        write(case.path("out", name), data)
    host = Host(case, {"Port": LINE_PORT, "Protocol": ZMODEM, "Transfer": 0, "HostMode": 1,
                       "DefaultDir": windows_path(case.into), "LogToScreen": 1})
    for name in files:
        host.hand("wait-status", "Waiting for")
        case.expect(case.start(["sz", "-q", name], line=peer, cwd=case.out), 0, "sz " + name)
        wait_for_size(case.path("in", name), len(files[name]))
    host.hand("wait-status", "Waiting for", "click", 2)
    host.expect(6, 0, 2)
    check_files(case.into, files)


def five_hosts_under_load(case):
    """Five hosts one after another in the same prefix and on the same line, receiving from sz
    and sending to rz in turn, each peer started before its host, while two other processes
    keep both processors busy: the load slows the runs down and fails none of them."""
    case.processes += [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                       for _ in range(2)]
    name = "data with spaces.bin"
    data = write(case.path("out", name), random_bytes(50000, 9))
    line, peer = simulated_line(case)
    prepare(line)
    for run in range(1, 6):
        into = case.path(f"in{run}")
        os.mkdir(into)
        # Odd runs send, even ones receive into the host's current folder under the sender's name.
        settings = {"Port": LINE_PORT, "Protocol": ZMODEM, "Transfer": run % 2}
        if run % 2:
            lrzsz = case.start(["rz", "-q"], line=peer, cwd=into)
            settings["FileList"] = windows_path(case.path("out", name))
        else:
            lrzsz = case.start(["sz", "-q", name], line=peer, cwd=case.out)
        Host(case, settings, cwd=into).expect(0, 1, 1)
        case.expect(lrzsz, 0, f"lrzsz in run {run}")
        check(read(os.path.join(into, name)) == data, f"run {run}: the copy differs")


if __name__ == "__main__":
    sys.exit(main({
        "host_run_two_senders_then_cancel": host_run_two_senders_then_cancel,
        "five_hosts_under_load": five_hosts_under_load,
    }))
