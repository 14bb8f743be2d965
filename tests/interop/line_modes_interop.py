#!/usr/bin/env python3
"""The tollan command on a terminal's standard input and output, at a speed beyond the
component's, and dialling a modem on a pseudo-terminal (no carrier: see --no-carrier-detect).
"""

import os
import signal
import subprocess
import sys
import termios

from interop_support import CANCEL_SEQUENCE, TOLLAN, check, main, random_bytes, read, \
    read_until, wait_for_size, wait_until, write
from modem_peer import ModemPeer

# What the command sends before it dials: "AT", its init line, the flow control of --flow.
PREAMBLE = b"AT\rAT&F&C1&D2\rAT&K0\r"
# A dial answer comes after a pause longer than the two seconds a command's "OK" is awaited.
DIAL_PAUSE = 2.5


def fast_line_speed(case):
    line, peer = case.pty_pair()
    case.open_end(peer)  # a silent peer
    write(case.path("f.bin"), b"x")
    tollan = case.tollan("send", "-b", "921600", "-l", line, "f.bin")
    case.wait_opened(tollan, line)
    fd = case.open_end(line)
    wait_until(lambda: termios.tcgetattr(fd)[5] == termios.B921600, "the line at 921600", tollan)
    tollan.send_signal(signal.SIGTERM)
    case.expect(tollan, 6, "tollan send")


def stdio_terminal_given_back(case):
    """A stdio run makes a cooked terminal raw; however it ends, the settings come back."""
    for ending, wanted in (("SIGTERM", 6), ("SIGHUP", 6), ("cancel", 16)):
        master, slave = os.openpty()
        case.fds.extend([master, slave])
        before = termios.tcgetattr(slave)
        tollan = case.start([TOLLAN, "receive", "-l", "-"], cwd=case.into,
                            line=os.ttyname(slave))
        wait_until(lambda: termios.tcgetattr(slave) != before, "the terminal made raw", tollan)
        # Input waiting before the run starts is discarded: act once it asks (ZRINIT).
        read_until(master, lambda seen: b"B01" in seen, "tollan's ZRINIT", tollan)
        if ending == "cancel":
            os.write(master, CANCEL_SEQUENCE)
        else:
            tollan.send_signal(getattr(signal, ending))
        code, _, err = case.finish(tollan)
        check(code == wanted, f"{ending}: exit {code}, wanted {wanted}: {err}")
        check(termios.tcgetattr(slave) == before, f"{ending}: the terminal's settings were not "
              "given back")


def dial(case):
    """Connected, data, escape and hang-up cross; a failed connect initialises again."""
    data = write(case.path("out", "report.bin"), random_bytes(40000, 5))
    for i, (options, status, commands) in enumerate((
            (["555 1234", "--no-carrier-detect", "--modem-command", "M0"], 0,
             b"ATM0\rATDT555 1234\rATH0\r"),
            (["5551234", "--dial-prefix", "DP"], 20, b"ATDP5551234\rAT\rAT&F&C1&D2\r"))):
        line, end = case.pty_pair(str(i))
        peer = ModemPeer(case.open_end(end))
        case.relays.append(peer)
        rz = subprocess.Popen(["rz", "-q"], cwd=case.into, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        case.processes.append(rz)
        connect = [lambda: peer.bridge(rz)] if status == 0 else []
        peer.configure(results={"ATD": [DIAL_PAUSE, "CONNECT 33600", *connect]})
        tollan = case.tollan("send", "-l", line, "--dial", *options, "report.bin", cwd=case.out)
        _, err = case.expect(tollan, status, "tollan send --dial " + " ".join(options))
        if status == 0:
            check(case.finish(rz)[0] == 0 and read(case.path("in", "report.bin")) == data, "rz")
        else:
            check("Failed to connect." in err, err)
        peer.finish()
        check(bytes(peer.received) == PREAMBLE + commands, f"the modem got {peer.received!r}")


if __name__ == "__main__":
    sys.exit(main(globals()))
