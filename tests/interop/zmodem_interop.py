#!/usr/bin/env python3
"""The tollan command's ZModem against lrzsz's sz and rz over pseudo-terminal pairs. A case
passes when both sides end as expected and the files that should arrive are byte-identical,
with the sender's modification time where one was announced.

Facts about lrzsz (0.12.21rc) found by trying, which the cases rely on:
- rz's ZRINIT carries CANFDX|CANOVIO|CANFC32 and a buffer size of 0, so our sender streams
  unless a window is set. sz starts with "rz\\r" before its ZRQINIT, uses CRC-32 when offered
  and CRC-16 with -o.
- sz -w N ends a subpacket with ZCRCQ every so often and waits for the ZACK. On a file whose
  size is a multiple of 1 KiB its last subpacket ends with ZCRCE, and sz then waits for an
  acknowledgement it did not ask for: the transfer stalls until our receiver's header time-out
  sends ZRPOS; sz then sends a stray ZCRCQ, an empty frame and ZEOF, and the file arrives whole.
- sz -8 (at 230400 bit/s) grows its subpackets past 1 KiB. Our receiver refuses those, sz
  halves its subpacket after each ZRPOS and grows it again, and the file arrives.
- rz -r resumes an existing partial file from its size rounded down to 1 KiB, whatever
  management option the offer carries. Without -r it honours an offer's ZCRESUM (our
  "--recover always") before its management option.
- rz deletes a partial file when the sender cancels; killed outright, it leaves what it wrote.

Usage: zmodem_interop.py CASE   (TOLLAN and TOLLAN_KEEP_OUTPUT name the command and the shim)
"""

import os
import signal
import sys

from interop_support import check, check_files, file_lines, main, random_bytes, \
    read, wait_for_size, wait_until, write

OLD_TIME, NEW_TIME = 0x40000000, 0x50000000  # even seconds survive every file system


def start(case, send, options, lrzsz_options, names):
    """tollan sending `names` from "out" to rz in "in", or receiving them from sz into "in"."""
    line, peer = case.pty_pair()
    # The sender discards what waits on the line when it starts: the peer starts once it listens.
    if send:
        tollan = case.tollan("send", *options, "-l", line, *names, cwd=case.out)
        case.wait_opened(tollan, line)
        return tollan, case.start(["rz", "-q"] + lrzsz_options, line=peer, cwd=case.into)
    tollan = case.tollan("receive", *options, "--dir", case.into, "-l", line)
    case.wait_opened(tollan, line)
    # sz sizes its subpackets by the line's speed.
    return tollan, case.start(["sh", "-c", 'stty 230400 && exec sz -q "$@"', "sz"] +
                              lrzsz_options + names, line=peer, cwd=case.out)


def batch(case, send, window, lrzsz_options):
    """An empty file, every byte value, more than 1 MiB and a name with spaces, each with its own
    time, sent in one batch."""
    files = {"empty": b"", "every-byte": bytes(range(256)) * 40,
             "large.bin": random_bytes((1 << 20) + 333, 5),
             "name with spaces.txt": b"line of text\r\n" * 300}
    times = {name: OLD_TIME + 3600 * i for i, name in enumerate(files)}
    for name, data in files.items():
        write(case.path("out", name), data, times[name])
    tollan, peer = start(case, send, ["--window", window], lrzsz_options, list(files))
    out, _ = case.expect(tollan, 0, "tollan")
    case.expect(peer, 0, "sz/rz")
    check_files(case.into, files, times)
    check(file_lines(out) == [(name, "OK") for name in files], out)


def stopped_mid_file(send, by_us):
    """Mid-file, the user interrupts tollan (result 6; the peer is cancelled) or rz/sz is stopped
    and cancels (result 16). A receiving tollan keeps what it has, with the announced time."""
    def run(case):
        data = write(case.path("out", "big"), random_bytes(20 << 20, 1), NEW_TIME)
        tollan, peer = start(case, send, [], [], ["big"])
        wait_for_size(case.path("in", "big"), 200000)
        (tollan if by_us else peer).send_signal(signal.SIGINT if by_us else signal.SIGTERM)
        status, text = (6, "User cancelled.") if by_us else (16, "Cancelled by remote.")
        code, out, err = case.finish(tollan)
        check(case.finish(peer)[0] != 0, "rz/sz did not notice the cancel")
        check(code == status and text in err and file_lines(out) == [("big", text)],
              f"exit {code}, wanted {status}\n{out}{err}")
        if not send:
            kept = read(case.path("in", "big"))
            check(0 < len(kept) < len(data) and data.startswith(kept), "the part was not kept")
            check(int(os.path.getmtime(case.path("in", "big"))) == NEW_TIME,
                  "the part kept lacks the announced time")
    return run


def resume(send):
    """The line is cut mid-file (the peer killed outright, the pair gone); the next run resumes
    from the bytes kept: rz -r with our "--recover always", sz -r with our "--recover follow"."""
    def run(case):
        data = write(case.path("out", "big"), random_bytes(4 << 20, 2), NEW_TIME)
        target = case.path("in", "big")
        tollan, peer = start(case, send, ["--timeout", "5"], [], ["big"])
        wait_for_size(target, 500000)
        peer.kill()
        case.finish(peer)
        case.cut()
        check(case.finish(tollan)[0] != 0, "tollan did not notice the cut")
        check(0 < os.path.getsize(target) < len(data), "nothing or everything kept")
        with open(target, "r+b") as f:  # marks the bytes kept: a resumed run leaves them be
            f.write(bytes(1000))
        options = ["--recover", "always" if send else "follow", "--overwrite", "always"]
        tollan, peer = start(case, send, options, ["-r"], ["big"])
        case.expect(tollan, 0, "the resumed run")
        case.expect(peer, 0, "sz/rz -r")
        check_files(case.into, {"big": bytes(1000) + data[1000:]}, {"big": NEW_TIME})
    return run


def management_to_rz(case):
    """rz follows the management option of our offer; a file it keeps is a file announced but
    not confirmed, and the batch goes on."""
    write(case.path("out", "kept"), b"new content", NEW_TIME)
    write(case.path("out", "fresh"), b"fresh", NEW_TIME)
    write(case.path("in", "kept"), b"old", OLD_TIME)
    for overwrite, kept, lines, err_text in (
            ("never", b"old", [("kept", "File skipped."), ("fresh", "OK")],
             "1 file(s) announced but not confirmed"),
            ("always", b"new content", [("kept", "OK"), ("fresh", "OK")], "")):
        tollan, rz = start(case, True, ["--overwrite", overwrite], [], ["kept", "fresh"])
        out, err = case.expect(tollan, 0, "tollan --overwrite " + overwrite)
        case.expect(rz, 0, "rz")
        check(file_lines(out) == lines and err_text in err, out + err)
        check_files(case.into, {"kept": kept, "fresh": b"fresh"})
        case.cut()


def management_from_sz(case):
    """sz's management options, followed by our receiver."""
    write(case.path("out", "f"), b"sender's", OLD_TIME)
    write(case.path("in", "f"), b"receiver's", NEW_TIME)
    # sz -p: the refusal ends a run that is not a host run, with its own code.
    for sz_option, status, expected, text in (("-p", 14, b"receiver's", "File already exists."),
                                              ("-n", 0, b"receiver's", "File skipped."),
                                              ("-y", 0, b"sender's", "OK")):
        tollan, sz = start(case, False, ["--recover", "follow", "--overwrite", "always"],
                           [sz_option], ["f"])
        case.finish(sz)
        out, _ = case.expect(tollan, status, "tollan receive, sz " + sz_option)
        check(read(case.path("in", "f")) == expected, "sz " + sz_option + ": content")
        check(file_lines(out) == [("f", text)], out)
        case.cut()


def names_outside_the_folder(case):
    """sz -f offers the paths as given: a receiver without a list of its own takes an absolute
    name inside its folder (the root taken off), declines one that climbs out with "..", and
    takes the next file of the batch."""
    absolute = case.path("out", "source")
    source = write(absolute, b"the sender's own file", OLD_TIME)
    good = write(case.path("out", "good"), b"good", NEW_TIME)
    tollan, sz = start(case, False, ["--overwrite", "always"], ["-f"],
                       [absolute, "../out/source", "good"])
    case.finish(sz)
    out, _ = case.expect(tollan, 0, "tollan receive")
    check(out.count("File skipped.") == 1 and ("good", "OK") in file_lines(out), out)
    check(read(absolute) == source and int(os.path.getmtime(absolute)) == OLD_TIME,
          "the source was written")
    check_files(case.into, {absolute.lstrip("/"): source, "good": good},
                {absolute.lstrip("/"): OLD_TIME, "good": NEW_TIME})


def host_run(case):
    """One receiver takes sender after sender until the user's interrupt (result 6)."""
    files = {name: write(case.path("out", name), random_bytes(size, size), NEW_TIME)
             for name, size in (("first", 20000), ("second", 3000))}
    line, peer = case.pty_pair()
    tollan = case.tollan("receive", "--host", "--dir", case.into, "-l", line)
    case.wait_opened(tollan, line)
    for name in files:
        case.expect(case.start(["sz", "-q", name], line=peer, cwd=case.out), 0, "sz " + name)
    # The interrupt comes once the next pass waits for a sender: it asks with a ZRINIT.
    watcher, seen = case.open_end(peer), bytearray()

    def asked():
        try:
            seen.extend(os.read(watcher, 4096))
        except BlockingIOError:
            pass
        return b"B01" in seen
    wait_until(asked, "the next pass's ZRINIT")
    tollan.send_signal(signal.SIGINT)
    out, err = case.expect(tollan, 6, "interrupted host run")
    check("User cancelled." in err, err)
    # The pass that waited for a third sender gets a line of its own, without a name.
    check(file_lines(out) == [("first", "OK"), ("second", "OK"), ("", "User cancelled.")], out)
    check_files(case.into, files, {name: NEW_TIME for name in files})


if __name__ == "__main__":
    sys.exit(main({
        "send_to_rz_streaming": lambda case: batch(case, True, "streaming", []),
        "send_to_rz_window_1024": lambda case: batch(case, True, "1024", []),
        "send_to_rz_window_2048": lambda case: batch(case, True, "2048", []),
        "send_to_rz_window_4096": lambda case: batch(case, True, "4096", []),
        "receive_from_sz": lambda case: batch(case, False, "streaming", []),
        "receive_from_sz_window_1024": lambda case: batch(case, False, "1024", ["-w", "1024"]),
        "receive_from_sz_crc16": lambda case: batch(case, False, "4096", ["-o", "-w", "4096"]),
        "receive_from_sz_8k": lambda case: batch(case, False, "2048", ["-8"]),
        "rz_cancels": stopped_mid_file(True, False),
        "sz_cancels": stopped_mid_file(False, False),
        "interrupt_sending": stopped_mid_file(True, True),
        "interrupt_receiving": stopped_mid_file(False, True),
        "resume_to_rz": resume(True),
        "resume_from_sz": resume(False),
        "management_to_rz": management_to_rz,
        "management_from_sz": management_from_sz,
        "names_outside_the_folder": names_outside_the_folder,
        "host_run": host_run,
    }))
