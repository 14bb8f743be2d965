#!/usr/bin/env python3
"""The tollan command through a Hayes modem: a modem played on the other end of a pseudo-terminal
answers the commands, connects the call to rz, and takes the hang-up. A pseudo-terminal has no
carrier wire: with --no-carrier-detect the "CONNECT" line alone connects, without it the command
gives up with "Failed to connect." after the modem's "CONNECT".
"""

import subprocess

from interop_support import check, main, random_bytes, read, write
from modem_peer import ModemPeer

# What the command sends before it dials: "AT", its init line, the flow control of --flow.
PREAMBLE = b"AT\rAT&F&C1&D2\rAT&K0\r"
# A dial answer comes after a pause longer than the two seconds a command's "OK" is awaited.
DIAL_PAUSE = 2.5


def dial(case):
    """Connected, the data and the escape cross, then the hang-up; after a failed connect the
    modem is initialised again."""
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
    raise SystemExit(main(globals()))
