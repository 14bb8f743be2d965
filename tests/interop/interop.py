#!/usr/bin/env python3
"""The tollan command over pseudo-terminal pairs: XModem and XModem-1K against lrzsz's sx and rx,
ACK/NAK against a second tollan, and the command's own refusals and time-out.

Facts about lrzsz found by trying, which the cases rely on:
- `rx` asks for the one-byte checksum (NAK) unless given -c, which makes it ask for CRC-16 ('C').
  `sx` answers the first 'C' with CRC-16; `sx -k` sends 1024-byte blocks (STX).
- `rx` refuses absolute target paths (restricted mode): it runs in the case's folder.
- `sx` pads the last block with 0x1A; `rx` keeps whatever padding the sender used.
"""

import sys

from interop_support import CAN, CANCEL_SEQUENCE, check, file_lines, main, random_bytes, read, \
    read_until, write

NAK, SOH, STX = 0x15, 0x01, 0x02


def xmodem_with_rx_and_sx(case):
    """tollan sends to rx asking with CRC-16 and with the checksum, and XModem-1K's long blocks
    (the tail of 904 bytes in one more long block); it receives from sx with CRC-16, with the
    checksum (the relay keeps tollan's 'C's from sx, so tollan falls back and asks with NAK,
    which sx follows), and sx -k's long blocks into XModem-1K and into plain XModem. Both pad
    the last block with 0x1A; the sender's first blocks are checked on the line."""
    for i, (send, protocol, options, crc, head, blocks) in enumerate((
            (True, "xmodem", ["-c"], True, SOH, 2), (True, "xmodem", [], False, SOH, 2),
            (True, "xmodem-1k", ["-c"], True, STX, 5), (False, "xmodem", [], True, SOH, 2),
            (False, "xmodem", [], False, SOH, 2), (False, "xmodem-1k", ["-k"], True, STX, 5),
            (False, "xmodem", ["-k"], True, STX, 5))):
        fall_back = not send and not crc
        line, peer, relay = case.relayed_line(str(i), lambda b, drop=fall_back: drop and b == 67)
        data = write(case.path(f"source{i}.bin"), random_bytes(70000 if "-k" in options else 5000,
                                                               i))
        if send:
            tollan = case.tollan("send", "-p", protocol, "-l", line, f"source{i}.bin")
            case.wait_opened(tollan, line)
        else:
            tollan = case.tollan("receive", "-p", protocol, "-l", line, f"got{i}.bin")
        if fall_back:
            relay.wait_for(lambda seen: NAK in seen["left"], "tollan's NAK")
        peer_args = ["rx", *options, f"got{i}.bin"] if send else ["sx", *options, f"source{i}.bin"]
        out = case.both_succeed(tollan, case.start(peer_args, line=peer))
        check(read(case.path(f"got{i}.bin")) == data + b"\x1a" * (-len(data) % 128),
              f"{i}: other bytes arrived")
        check(file_lines(out) == [(f"source{i}.bin" if send else f"got{i}.bin", "OK")], out)
        sent = relay.seen["left" if send else "right"]
        first, size = sent.find(head), (1024 if head == STX else 128) + (5 if crc else 4)
        check(bytes(sent[first + size * n] for n in range(blocks)) == bytes([head]) * blocks,
              f"{i}: {sent[:8].hex()}")


def acknak_between_two_tollans(case):
    line, peer = case.pty_pair()
    text = write(case.path("notes.txt"),
                 "".join(f"line {i} of a text file\r\n" for i in range(200)).encode())
    receiver = case.tollan("receive", "-p", "acknak", "-l", peer, "copy.txt")
    out = case.both_succeed(case.tollan("send", "-p", "acknak", "-l", line, "notes.txt"), receiver)
    check(read(case.path("copy.txt")) == text, "the copy differs")
    check(file_lines(out) == [("notes.txt", "OK")], out)


def receiver_gives_up(case):
    """Against a silent peer the receiver asks, times out and cancels; into an existing file it
    refuses without asking: the peer sees only the cancel sequence and a last CAN."""
    write(case.path("kept.bin"), b"keep me")
    for target, status, text, sent in (("got.bin", 5, "Timeout.", b""),
                                       ("kept.bin", 14, "File already exists.",
                                        CANCEL_SEQUENCE + bytes([CAN]))):
        line, peer = case.pty_pair(target)
        watcher = case.open_end(peer)
        tollan = case.tollan("receive", "-p", "xmodem", "--timeout", "1", "-l", line, target)
        out, err = case.expect(tollan, status, "tollan receive " + target)
        check(text in err and file_lines(out) == [(target, text)], out + err)
        seen = read_until(watcher, lambda seen: CANCEL_SEQUENCE in seen and len(seen) >= len(sent),
                          "the cancel sequence")
        check(seen == sent if sent else seen.startswith(b"C"), f"the peer saw {seen!r}")
    check(read(case.path("kept.bin")) == b"keep me", "the existing file changed")


def refused_before_the_line(case):
    """FILE operands are checked before the line is opened (had it been opened first, each run
    would end with 18), and a name that names nothing is no pattern; a line that will not open,
    and the end of standard input, are named with their reasons."""
    write(case.path("here.bin"), b"x")
    no_line = case.path("no-such-tty")
    for operand, reason in (("not-here.bin", "No such file or directory"),
                            ("a?.bin", "No such file or directory"),
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
    sys.exit(main(globals()))
