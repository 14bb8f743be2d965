#!/usr/bin/env python3
"""The tollan command through a Hayes modem: a modem played on the other end of a pseudo-terminal
answers the commands, connects the call to rz, and takes the hang-up. A pseudo-terminal has no
carrier wire: with --no-carrier-detect the "CONNECT" line alone connects, without it the command
gives up with "Failed to connect." after the modem's "CONNECT".

Usage: modem_interop.py CASE   (TOLLAN and TOLLAN_KEEP_OUTPUT name the command and the shim)
"""

import subprocess

from interop_support import TOLLAN, check, check_files, main, random_bytes, write
from modem_peer import ModemPeer

# What the command sends before it dials: "AT", its init line, the flow control of --flow.
PREAMBLE = b"AT\rAT&F&C1&D2\rAT&K0\r"
# A dial answer comes after a pause longer than the two seconds a command's "OK" is awaited.
DIAL_PAUSE = 2.5


def modem_on_line(case):
    line, end = case.pty_pair()
    peer = ModemPeer(case.open_end(end))
    case.cleanups.append(peer.stop)
    return line, peer


def dial_to_rz_without_carrier_wire(case):
    files = {"report.bin": random_bytes(40000, 5)}
    for name, data in files.items():
        write(case.path("out", name), data)
    line, peer = modem_on_line(case)
    rz = subprocess.Popen(["rz", "-q"], cwd=case.into, stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    case.processes.append(rz)
    peer.configure(results={"ATD": [DIAL_PAUSE, "CONNECT 33600", lambda: peer.bridge(rz)]})
    tollan = case.start([TOLLAN, "send", "-l", line, "--dial", "555 1234", "--no-carrier-detect",
                         "--modem-command", "M0", *files], cwd=case.out)
    case.expect(tollan, 0, "tollan send --dial")
    case.expect(rz, 0, "rz")
    check_files(case.into, files)
    peer.finish()
    # The commands; the data and the escape crossed while connected.
    got = bytes(peer.received)
    check(got == PREAMBLE + b"ATM0\rATDT555 1234\rATH0\r", f"the modem got {got!r}")


def dial_refused_without_carrier(case):
    write(case.path("out", "report.bin"), b"data")
    line, peer = modem_on_line(case)
    peer.configure(results={"ATD": [DIAL_PAUSE, "CONNECT 33600"]})
    tollan = case.start([TOLLAN, "send", "-l", line, "--dial", "5551234", "--dial-prefix", "DP",
                         "report.bin"], cwd=case.out)
    out, err = case.expect(tollan, 20, "tollan send --dial")
    check("Failed to connect." in err, err)
    peer.finish()
    # After the failed connect the modem is initialised again.
    got = bytes(peer.received)
    check(got == PREAMBLE + b"ATDP5551234\r" + b"AT\rAT&F&C1&D2\r", f"the modem got {got!r}")


if __name__ == "__main__":
    raise SystemExit(main(globals()))
