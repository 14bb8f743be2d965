#!/usr/bin/env python3
"""The tollan command over pseudo-terminal pairs: XModem and XModem-1K against lrzsz's sx and rx,
ACK/NAK against a second tollan, and the command's own refusals and time-out.

Facts about lrzsz found by trying, which the cases rely on:
- `rx` asks for the one-byte checksum (NAK) unless given -c, which makes it ask for CRC-16 ('C').
  `sx` answers the first 'C' with CRC-16; `sx -k` sends 1024-byte blocks (STX).
- `rx` refuses absolute target paths (restricted mode): it runs in the case's folder.
- `sx` pads the last block with 0x1A; `rx` keeps whatever padding the sender used.

Usage: interop.py CASE   (TOLLAN and TOLLAN_KEEP_OUTPUT name the command and the shim)
"""

import os
import sys

from interop_support import CAN, CANCEL_SEQUENCE, check, file_lines, main, random_bytes, read, \
    wait_until, write

NAK, SOH, STX = 0x15, 0x01, 0x02


def padded(data, pad):
    return data + bytes([pad]) * (-len(data) % 128)


def xmodem_send_to_rx(case):
    """rx with the checksum and with CRC-16, the last block padded with 0x1A as sx pads it;
    XModem-1K's long blocks, and its tail of 904 bytes in
    one more long block, seen on the line through a relay."""
    for i, (protocol, rx_options, pad, first_blocks) in enumerate((
            ("xmodem", ["-c"], 0x1A, [SOH]), ("xmodem", [], 0x1A, [SOH]),
            ("xmodem-1k", ["-c"], 0x1A, [STX] * 5))):
        line, inner_left = case.pty_pair(f"left{i}")
        inner_right, peer = case.pty_pair(f"right{i}")
        relay = case.relay(inner_left, inner_right, drop=lambda byte: False)
        data = write(case.path(f"source{i}.bin"), random_bytes(5000, i))
        tollan = case.tollan("send", "-p", protocol, "-l", line, f"source{i}.bin")
        case.wait_opened(tollan, line)
        rx = case.start(["rx"] + rx_options + [f"got{i}.bin"], line=peer)
        out = case.both_succeed(tollan, rx)
        got = read(case.path(f"got{i}.bin"))
        check(got == padded(data, pad), protocol + ": rx got other bytes")
        check(file_lines(out) == [(f"source{i}.bin", "OK")], out)
        sent, size = bytes(relay.seen["left"]), 1029 if protocol == "xmodem-1k" else 133
        check([sent[size * n] for n in range(len(first_blocks))] == first_blocks, sent[:8].hex())


def xmodem_receive_from_sx(case):
    """sx with CRC-16, with the checksum (a relay keeps tollan's 'C's from sx, so tollan falls back
    and asks with NAK, which sx follows), and sx -k into XModem-1K and into plain XModem."""
    for i, (protocol, crc, sx_options) in enumerate((
            ("xmodem", True, []), ("xmodem", False, []), ("xmodem-1k", True, ["-k"]),
            ("xmodem", True, ["-k"]))):
        line, inner_left = case.pty_pair(f"left{i}")
        inner_right, peer = case.pty_pair(f"right{i}")
        relay = case.relay(inner_left, inner_right, drop=lambda byte: not crc and byte == ord("C"))
        data = write(case.path(f"source{i}.bin"), random_bytes(70000 if sx_options else 3000, i))
        tollan = case.tollan("receive", "-p", protocol, "-l", line, f"got{i}.bin")
        if not crc:
            relay.wait_for(lambda seen: NAK in seen["left"], "tollan's NAK")
        sx = case.start(["sx", *sx_options, f"source{i}.bin"], line=peer)
        out = case.both_succeed(tollan, sx)
        check(read(case.path(f"got{i}.bin")) == padded(data, 0x1A), "tollan got other bytes")
        check(file_lines(out) == [(f"got{i}.bin", "OK")], out)
        if not crc:  # blocks of 132 bytes: one-byte checksum
            first = relay.seen["right"].find(SOH)
            check(relay.seen["right"][first + 132] == SOH, "blocks are not 132 bytes long")


def acknak_between_two_tollans(case):
    line, peer = case.pty_pair()
    text = write(case.path("notes.txt"),
                 "".join(f"line {i} of a text file\r\n" for i in range(200)).encode())
    receiver = case.tollan("receive", "-p", "acknak", "-l", peer, "copy.txt")
    out = case.both_succeed(case.tollan("send", "-p", "acknak", "-l", line, "notes.txt"), receiver)
    check(read(case.path("copy.txt")) == text, "the copy differs")
    check(file_lines(out) == [("notes.txt", "OK")], out)


def silent_peer_times_out(case):
    line, peer = case.pty_pair()
    silent = case.open_end(peer)
    tollan = case.tollan("receive", "-p", "xmodem", "--timeout", "1", "-l", line, "got.bin")
    out, err = case.expect(tollan, 5, "tollan against a silent peer")
    check("Timeout." in err and file_lines(out) == [("got.bin", "Timeout.")], out + err)
    seen = os.read(silent, 4096)
    check(seen.startswith(b"C") and CANCEL_SEQUENCE in seen, f"the peer saw {seen!r}")


def existing_target_refused(case):
    line, peer = case.pty_pair()
    watcher = case.open_end(peer)
    write(case.path("got.bin"), b"keep me")
    tollan = case.tollan("receive", "-p", "xmodem", "-l", line, "got.bin")
    _, err = case.expect(tollan, 14, "tollan into an existing file")
    check("File already exists." in err, err)
    check(read(case.path("got.bin")) == b"keep me", "the existing file changed")
    # No request went out: only the cancel sequence and a last CAN, which may cross the pair
    # in pieces.
    expected, seen = CANCEL_SEQUENCE + bytes([CAN]), bytearray()

    def arrived():
        try:
            seen.extend(os.read(watcher, 4096))
        except BlockingIOError:
            pass
        return len(seen) >= len(expected)
    wait_until(arrived, "the cancel sequence")
    check(seen == expected, f"the peer saw {bytes(seen)!r}")


def refused_before_the_line(case):
    """FILE operands are checked before the line is opened (had it been opened first, each run
    would end with 18); a line that will not open, and the end of standard input, are named with
    their reasons."""
    write(case.path("here.bin"), b"x")
    no_line = case.path("no-such-tty")
    for operand, reason in (("not-here.bin", "No such file or directory"),
                            (".", "Is a directory"), ("/dev/null", "not a regular file")):
        tollan = case.tollan("send", "-p", "xmodem", "-l", no_line, "here.bin", operand)
        out, err = case.expect(tollan, 11, "tollan with " + operand)
        check(f"{operand}: {reason}\nUnable to open file." in err and out == "", out + err)
    for line, status, reason in ((no_line, 18, "No such file or directory"),
                                 ("/dev/null", 18, "not a terminal"),
                                 ("-", 15, "standard input and output: its other end")):
        _, err = case.expect(case.tollan("send", "-l", line, "here.bin"), status, line)
        check(reason in err, err)
    _, err = case.expect(case.tollan("send", "-l", no_line, "--bogus", "here.bin"), 64, "usage")
    check("tollan send    [options] FILE..." in err, err)


if __name__ == "__main__":
    sys.exit(main({
        "xmodem_send_to_rx": xmodem_send_to_rx,
        "xmodem_receive_from_sx": xmodem_receive_from_sx,
        "acknak_between_two_tollans": acknak_between_two_tollans,
        "silent_peer_times_out": silent_peer_times_out,
        "existing_target_refused": existing_target_refused,
        "refused_before_the_line": refused_before_the_line,
    }))
