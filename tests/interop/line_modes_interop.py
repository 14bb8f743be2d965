#!/usr/bin/env python3
"""The tollan command beyond its own serial line: on standard input and output the way sz and rz
run inside a remote shell (against rz and sz, over a pseudo-terminal that tollan holds as its
stdin and stdout), XModem-1K against sx -k and rx, YModem batches against sb and rb, and the
terminal settings given back on every way a stdio run ends.

Facts about lrzsz (0.12.21rc) found by trying, which the cases rely on:
- sx -k sends 1024-byte blocks (STX) and pads the last one with 0x1A; rx takes both kinds of
  block and keeps the padding. rx -c asks for CRC-16.
- sb sends 128-byte blocks, sb -k 1024-byte ones; both announce name, size and time in block 0
  and end the batch with an empty block 0. rb cuts each file at the announced size and sets its
  time; without a mode in block 0 it creates the file 0600.
- sb -f sends each path as given (absolute, or with "..").

Usage: line_modes_interop.py CASE   (TOLLAN and TOLLAN_KEEP_OUTPUT name the command and the shim)
"""

import os
import select
import signal
import sys
import termios
import time

from interop_support import CANCEL_SEQUENCE, TOLLAN, Failure, check, check_files, \
    file_lines, main, random_bytes, read, wait_until, write

OLD_TIME = 0x40000000
STX = 0x02


def batch_files(case):
    """An empty file, one of whole 128-byte blocks, one of whole 1 KiB blocks and a ragged one,
    each with its own time."""
    files = {"empty": b"", "blocks-128": bytes(range(256)) * 3 + bytes(128),
             "blocks-1k": random_bytes(8192, 7), "ragged.bin": random_bytes(70001, 8)}
    times = {name: OLD_TIME + 3600 * i for i, name in enumerate(files)}
    for name, data in files.items():
        write(case.path("out", name), data, times[name])
    return files, times


def stdio_send_to_rz(case):
    files, times = batch_files(case)
    line, peer = case.pty_pair()
    receiver = case.start(["rz", "-q"], line=peer, cwd=case.into)
    tollan = case.start([TOLLAN, "send", "-l", "-", *files], line=line, cwd=case.out)
    out, err = case.expect(tollan, 0, "tollan send on stdio")
    case.expect(receiver, 0, "rz")
    check_files(case.into, files, times)
    # The file lines went to stderr, not into the data stream.
    check(sorted(file_lines(err)[:len(files)]) == sorted((name, "OK") for name in files), err)


def stdio_receive_from_sz(case):
    files, times = batch_files(case)
    line, peer = case.pty_pair()
    # No --line: standard input is no terminal here (a pipe from the case), so "-l -" is needed
    # on a pseudo-terminal; the default is tried in stdio_default_without_terminal.
    tollan = case.start([TOLLAN, "receive", "-l", "-"], line=line, cwd=case.into)
    sender = case.start(["sz", "-q", *files], line=peer, cwd=case.out)
    _, err = case.expect(tollan, 0, "tollan receive on stdio")
    case.expect(sender, 0, "sz")
    check_files(case.into, files, times)
    check(("ragged.bin", "OK") in file_lines(err), err)


def xmodem_1k_receive_from_sx(case):
    line, peer = case.pty_pair()
    data = write(case.path("source.bin"), random_bytes(70000, 3))
    tollan = case.tollan("receive", "-p", "xmodem-1k", "-l", line, "got.bin")
    case.wait_opened(tollan, line)
    sx = case.start(["sx", "-k", "source.bin"], line=peer)
    out, _ = case.expect(tollan, 0, "tollan receive")
    case.expect(sx, 0, "sx -k")
    check(read(case.path("got.bin")) == data + b"\x1a" * (-len(data) % 128), "tollan got other "
          "bytes")
    check(file_lines(out) == [("got.bin", "OK")], out)


def xmodem_1k_send_to_rx(case):
    line, inner_left = case.pty_pair("left")
    inner_right, peer = case.pty_pair("right")
    relay = case.relay(inner_left, inner_right, drop=lambda byte: False)
    data = write(case.path("source.bin"), random_bytes(5000, 4))
    tollan = case.tollan("send", "-p", "xmodem-1k", "-l", line, "source.bin")
    case.wait_opened(tollan, line)
    rx = case.start(["rx", "-c", "got.bin"], line=peer)
    out, _ = case.expect(tollan, 0, "tollan send")
    case.expect(rx, 0, "rx")
    check(read(case.path("got.bin")) == data + b"\x1a" * (-len(data) % 128), "rx got other bytes")
    check(file_lines(out) == [("source.bin", "OK")], out)
    # Four long blocks (4096 bytes), then the tail of 904 bytes in one more long block.
    sent = bytes(relay.seen["left"])
    check(sent[0] == STX and sent[1029 * 4] == STX and len(sent) >= 1029 * 5, sent[:8].hex())


def ymodem_receive_from_sb(sb_options):
    def run(case):
        files, times = batch_files(case)
        line, peer = case.pty_pair()
        tollan = case.tollan("receive", "-p", "ymodem", "--dir", case.into, "-l", line)
        case.wait_opened(tollan, line)
        sb = case.start(["sb", "-q", *sb_options, *files], line=peer, cwd=case.out)
        out, _ = case.expect(tollan, 0, "tollan receive")
        case.expect(sb, 0, "sb")
        check_files(case.into, files, times)
        check(file_lines(out) == [(name, "OK") for name in files], out)
    return run


def ymodem_send_to_rb(case):
    files, times = batch_files(case)
    line, peer = case.pty_pair()
    tollan = case.tollan("send", "-p", "ymodem", "-l", line, *files, cwd=case.out)
    case.wait_opened(tollan, line)
    rb = case.start(["rb", "-q"], line=peer, cwd=case.into)
    out, _ = case.expect(tollan, 0, "tollan send")
    case.expect(rb, 0, "rb")
    check_files(case.into, files, times)
    check(file_lines(out) == [(name, "OK") for name in files], out)


def ymodem_names_inside_the_folder(case):
    """sb -f offers paths as given: an absolute one arrives inside the receiving folder, one that
    climbs out is declined, and the batch goes on."""
    source = write(case.path("out", "source"), b"the sender's own file", OLD_TIME)
    good = write(case.path("out", "good"), b"good", OLD_TIME)
    line, peer = case.pty_pair()
    tollan = case.tollan("receive", "-p", "ymodem", "--dir", case.into, "-l", line)
    case.wait_opened(tollan, line)
    absolute = case.path("out", "source")
    sb = case.start(["sb", "-q", "-f", absolute, "../out/source", "good"], line=peer,
                    cwd=case.out)
    out, _ = case.expect(tollan, 0, "tollan receive")
    case.expect(sb, 0, "sb")
    check(out.count("File skipped.") == 1 and ("good", "OK") in file_lines(out), out)
    check(read(case.path("out", "source")) == source, "the source was written")
    inside = os.path.join(case.into, absolute.lstrip("/"))
    check(read(inside) == source and read(case.path("in", "good")) == good,
          str(os.listdir(case.into)))


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
    fd = os.open(line, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    case.fds.append(fd)
    wait_until(lambda: termios.tcgetattr(fd)[5] == termios.B921600, "the line at 921600", tollan)
    tollan.send_signal(signal.SIGTERM)
    case.expect(tollan, 6, "tollan send")


def terminal_given_back(ending):
    """A stdio receiver on a terminal in its usual (cooked) mode: the run makes it raw, and however
    the run ends, the terminal has its settings back."""
    def run(case):
        master, slave = os.openpty()
        case.fds.extend([master, slave])
        before = termios.tcgetattr(slave)
        tollan = case.start([TOLLAN, "receive", "-l", "-"], cwd=case.into,
                            line=os.ttyname(slave))
        wait_until(lambda: termios.tcgetattr(slave) != before, "the terminal made raw", tollan)
        if ending == "cancel":
            # Input waiting before the run starts is discarded: cancel once it asks (ZRINIT).
            seen = bytearray()

            def asked():
                readable, _, _ = select.select([master], [], [], 0.05)
                if readable:
                    seen.extend(os.read(master, 4096))
                return b"B01" in seen
            wait_until(asked, "tollan's ZRINIT", tollan)
            os.write(master, CANCEL_SEQUENCE)
            wanted = 16
        else:
            time.sleep(0.2)
            tollan.send_signal(getattr(signal, ending))
            wanted = 6
        code, _, err = case.finish(tollan)
        check(code == wanted, f"exit {code}, wanted {wanted}: {err}")
        check(termios.tcgetattr(slave) == before, "the terminal's settings were not given back")
    return run


if __name__ == "__main__":
    sys.exit(main({
        "stdio_send_to_rz": stdio_send_to_rz,
        "stdio_receive_from_sz": stdio_receive_from_sz,
        "stdio_default_without_terminal": stdio_default_without_terminal,
        "stdio_terminal_back_after_sigterm": terminal_given_back("SIGTERM"),
        "stdio_terminal_back_after_sighup": terminal_given_back("SIGHUP"),
        "stdio_terminal_back_after_cancel": terminal_given_back("cancel"),
        "xmodem_1k_receive_from_sx": xmodem_1k_receive_from_sx,
        "xmodem_1k_send_to_rx": xmodem_1k_send_to_rx,
        "ymodem_receive_from_sb": ymodem_receive_from_sb([]),
        "ymodem_receive_from_sb_1k": ymodem_receive_from_sb(["-k"]),
        "ymodem_send_to_rb": ymodem_send_to_rb,
        "ymodem_names_inside_the_folder": ymodem_names_inside_the_folder,
        "fast_line_speed": fast_line_speed,
    }))
