#!/usr/bin/env python3
"""The tollan command over pseudo-terminal pairs: XModem against lrzsz's sx and rx, ACK/NAK
against a second tollan, and the command's own refusals and time-out.

Facts about lrzsz found by trying, which the cases rely on:
- `rx` asks for the one-byte checksum (NAK) unless given -c, which makes it ask for CRC-16 ('C').
  `sx` answers the first 'C' with CRC-16.
- `rx` refuses absolute target paths (restricted mode): it runs in the case's folder.
- `sx` pads the last block with 0x1A; `rx` keeps whatever padding the sender used.

Usage: interop.py CASE   (TOLLAN and TOLLAN_KEEP_OUTPUT name the command and the shim)
"""

import os
import sys

from interop_support import CAN, CANCEL_SEQUENCE, check, file_lines, main, random_bytes, read, \
    write

NAK, SOH = 0x15, 0x01


def padded(data, pad):
    return data + bytes([pad]) * (-len(data) % 128)


def xmodem_send_to_rx(rx_options):
    def run(case):
        line, peer = case.pty_pair()
        data = write(case.path("source.bin"), random_bytes(5000, 1))
        # The sender discards what waits on the line when it starts: rx starts once it listens.
        tollan = case.tollan("send", "-p", "xmodem", "-l", line, "source.bin")
        case.wait_opened(tollan, line)
        rx = case.start(["rx"] + rx_options + ["got.bin"], line=peer)
        out, _ = case.expect(tollan, 0, "tollan send")
        case.expect(rx, 0, "rx")
        check(read(case.path("got.bin")) == padded(data, 0), "rx got other bytes")
        check(file_lines(out) == [("source.bin", "OK")], out)
    return run


def xmodem_receive_from_sx(crc):
    def run(case):
        if crc:
            line, peer = case.pty_pair()
        else:
            # The relay keeps tollan's 'C's from sx, so tollan falls back to the checksum and
            # asks with NAK, which sx follows.
            line, inner_left = case.pty_pair("left")
            inner_right, peer = case.pty_pair("right")
            relay = case.relay(inner_left, inner_right, drop=lambda byte: byte == ord("C"))
        data = write(case.path("source.bin"), random_bytes(3000, 2))
        tollan = case.tollan("receive", "-p", "xmodem", "-l", line, "got.bin")
        if not crc:
            relay.wait_for(lambda seen: NAK in seen["left"], "tollan's NAK")
        sx = case.start(["sx", "source.bin"], line=peer)
        out, _ = case.expect(tollan, 0, "tollan receive")
        case.expect(sx, 0, "sx")
        check(read(case.path("got.bin")) == padded(data, 0x1A), "tollan got other bytes")
        check(file_lines(out) == [("got.bin", "OK")], out)
        if not crc:  # blocks of 132 bytes: one-byte checksum
            first = relay.seen["right"].find(SOH)
            check(relay.seen["right"][first + 132] == SOH, "blocks are not 132 bytes long")
    return run


def acknak_between_two_tollans(case):
    line, peer = case.pty_pair()
    text = write(case.path("notes.txt"),
                 "".join(f"line {i} of a text file\r\n" for i in range(200)).encode())
    receiver = case.tollan("receive", "-p", "acknak", "-l", peer, "copy.txt")
    sender = case.tollan("send", "-p", "acknak", "-l", line, "notes.txt")
    out, _ = case.expect(sender, 0, "tollan send")
    case.expect(receiver, 0, "tollan receive")
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
    # No request went out: only the cancel sequence and a last CAN.
    seen = os.read(watcher, 4096)
    check(seen == CANCEL_SEQUENCE + bytes([CAN]), f"the peer saw {seen!r}")


def refused_before_the_line(case):
    # The line does not exist: had it been opened first, each run would end with 18.
    write(case.path("here.bin"), b"x")
    no_line = case.path("no-such-tty")
    tollan = case.tollan("send", "-p", "xmodem", "-l", no_line, "here.bin", "not-here.bin")
    out, err = case.expect(tollan, 11, "tollan with a missing file")
    check("not-here.bin" in err and "Unable to open file." in err and out == "", out + err)
    _, err = case.expect(case.tollan("send", "-l", no_line, "--bogus", "here.bin"), 64, "usage")
    check("tollan send    [options] FILE..." in err, err)


if __name__ == "__main__":
    sys.exit(main({
        "xmodem_send_to_rx_crc": xmodem_send_to_rx(["-c"]),
        "xmodem_send_to_rx_checksum": xmodem_send_to_rx([]),
        "xmodem_receive_from_sx_crc": xmodem_receive_from_sx(True),
        "xmodem_receive_from_sx_checksum": xmodem_receive_from_sx(False),
        "acknak_between_two_tollans": acknak_between_two_tollans,
        "silent_peer_times_out": silent_peer_times_out,
        "existing_target_refused": existing_target_refused,
        "refused_before_the_line": refused_before_the_line,
    }))
