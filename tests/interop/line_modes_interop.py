#!/usr/bin/env python3
"""The tollan command beyond its own serial line: on standard input and output the way sz and rz
run inside a remote shell (against rz and sz, over a pseudo-terminal that tollan holds as its
stdin and stdout), the terminal settings given back on every way a stdio run ends, and a line
speed beyond the component's.
"""

import os
import signal
import sys
import termios
import time

from interop_support import CANCEL_SEQUENCE, TOLLAN, batch_files, check, check_files, \
    file_lines, main, random_bytes, read, read_until, wait_for_size, wait_until, write


def stdio_with_rz_and_sz(case):
    """tollan on its standard input and output sends a batch to rz and receives one from sz; its
    file lines go to stderr, not into the data stream. "-l -" is needed: standard input is a pipe
    from the case, no terminal (the default is tried in stdio_default_without_terminal)."""
    files, times = batch_files(case)
    for send in (True, False):
        line, peer = case.pty_pair(f"tty{send}")
        args = ["send", "-l", "-", *files] if send else ["receive", "-l", "-"]
        tollan = case.start([TOLLAN, *args], line=line, cwd=case.out if send else case.into)
        lrzsz = case.start(["rz", "-q"] if send else ["sz", "-q", *files], line=peer,
                           cwd=case.into if send else case.out)
        _, err = case.expect(tollan, 0, "tollan on stdio")
        case.expect(lrzsz, 0, lrzsz.args[0])
        check_files(case.into, files, times)
        check(sorted(file_lines(err)[:len(files)]) == sorted((name, "OK") for name in files), err)
        case.empty_folder(case.into)


def stdio_default_without_terminal(case):
    """Without --line and with a standard input that is no terminal, the line is stdin/stdout:
    a receiver whose input ends at once gives up with its own failure, not a usage error."""
    tollan = case.tollan("receive", "-p", "xmodem", "got.bin")
    code, out, err = case.finish(tollan)
    check(code not in (0, 64) and "--line is required" not in err, f"{code}: {out} {err}")
    check(out.startswith("C") and "got.bin" in err, f"stdout {out!r}, stderr {err!r}")


def fast_line_speed(case):
    """-b 921600 sets the line to 921600 bit/s, a speed beyond the component's BaudRate."""
    line, peer = case.pty_pair()
    case.open_end(peer)  # a silent peer
    write(case.path("f.bin"), b"x")
    tollan = case.tollan("send", "-b", "921600", "-l", line, "f.bin")
    case.wait_opened(tollan, line)
    fd = case.open_end(line)
    wait_until(lambda: termios.tcgetattr(fd)[5] == termios.B921600, "the line at 921600", tollan)
    tollan.send_signal(signal.SIGTERM)
    case.expect(tollan, 6, "tollan send")


def line_pulled(case):
    """The line on standard input and output vanishes mid-file (the pair's process killed), with
    no time-out: tollan says the line was lost and keeps what arrived. (On a serial line, each
    way: resume in zmodem_interop.py.)"""
    data = write(case.path("out", "big.bin"), random_bytes(16 << 20, 3))
    line, peer = case.pty_pair()
    tollan = case.start([TOLLAN, "receive", "--timeout", "0", "-l", "-"], line=line, cwd=case.into)
    case.start(["sz", "-q", "big.bin"], line=peer, cwd=case.out)
    wait_for_size(case.path("in", "big.bin"), 256 << 10)
    case.cut()
    code, _, err = case.finish(tollan)
    got = read(case.path("in", "big.bin"))
    check(code == 15 and "The line was lost" in err, f"exit {code}: {err}")
    check(0 < len(got) < len(data) and data.startswith(got), f"{len(got)} bytes kept")
    check(f"the partial file big.bin is kept ({len(got)} bytes)" in err, err)


def stdio_terminal_given_back(case):
    """A stdio receiver on a terminal in its usual (cooked) mode: the run makes it raw, and however
    the run ends (SIGTERM, SIGHUP, the peer's cancel), the terminal has its settings back."""
    for ending, wanted in (("SIGTERM", 6), ("SIGHUP", 6), ("cancel", 16)):
        master, slave = os.openpty()
        case.fds.extend([master, slave])
        before = termios.tcgetattr(slave)
        tollan = case.start([TOLLAN, "receive", "-l", "-"], cwd=case.into,
                            line=os.ttyname(slave))
        wait_until(lambda: termios.tcgetattr(slave) != before, "the terminal made raw", tollan)
        if ending == "cancel":
            # Input waiting before the run starts is discarded: cancel once it asks (ZRINIT).
            read_until(master, lambda seen: b"B01" in seen, "tollan's ZRINIT", tollan)
            os.write(master, CANCEL_SEQUENCE)
        else:
            time.sleep(0.2)
            tollan.send_signal(getattr(signal, ending))
        code, _, err = case.finish(tollan)
        check(code == wanted, f"{ending}: exit {code}, wanted {wanted}: {err}")
        check(termios.tcgetattr(slave) == before, f"{ending}: the terminal's settings were not "
              "given back")


if __name__ == "__main__":
    sys.exit(main(globals()))
