#!/usr/bin/env python3
"""The tollan command against lrzsz (0.12.21rc): ZModem with sz and rz, YModem with sb and rb,
XModem(-1K) with sx and rx, ACK/NAK with a second tollan, and the command's own refusals. rx
asks with the checksum unless given -c and refuses absolute paths; sx and rx pad with 0x1A. sz
-w N on a file of whole KiB stalls after its last ZCRCE until our receiver's time-out. Stopped,
sz and rz cancel; rz -r resumes from the size rounded down to 1 KiB, whatever the offer says.
"""

import itertools
import os
import signal
import subprocess
import sys

from interop_support import CAN, CANCEL_SEQUENCE, check, check_files, file_lines, main, \
    random_bytes, read, read_until, wait_for_size, write

OLD_TIME, NEW_TIME = 0x40000000, 0x50000000  # even seconds survive every file system


def start(case, send, options, lrzsz_options, names, protocol="zmodem", stdio=False, limit=None):
    """tollan sending `names` from "out" to rz (rb) in "in", or receiving them from sz (sb)."""
    if send:
        return case.against(["send", "-p", protocol, *options, *names],
                            ["rb" if protocol == "ymodem" else "rz", "-q"] + lrzsz_options,
                            tollan_cwd=case.out, peer_cwd=case.into, stdio=stdio)
    # sz sizes its subpackets by the line's speed.
    program = "sb" if protocol == "ymodem" else "sz"
    return case.against(["receive", "-p", protocol, *options, "--dir", case.into],
                        ["sh", "-c", f'stty 230400 && exec {program} -q "$@"', program] +
                        lrzsz_options + names, peer_cwd=case.out, stdio=stdio, limit=limit)


def batch(send, runs, protocol="zmodem", large=(1 << 20) + 333):
    """One batch through each window (tollan's, and lrzsz's options); "stdio": tollan on its
    standard input and output. "ab.bin" would match "a*.bin" taken as a pattern."""
    def run(case):
        files = {"empty": b"", "blocks-128": bytes(range(256)) * 3 + bytes(128),
                 "blocks-1k": random_bytes(8192, 7), "large.bin": random_bytes(large, 5),
                 "name with spaces.txt": b"line of text\r\n" * 300, "fw[v2].bin": b"fw" * 100,
                 "a*.bin": b"a*" * 100}
        write(os.path.join(case.out, "ab.bin"), b"not in the batch")
        times = {name: OLD_TIME + 3600 * i for i, name in enumerate(files)}
        for name, data in files.items():
            write(os.path.join(case.out, name), data, times[name])
        for window, lrzsz_options in runs:
            stdio = window == "stdio"
            options = ["--window", window] if protocol == "zmodem" and not stdio else []
            out = case.both_succeed(*start(case, send, options, lrzsz_options, list(files),
                                           protocol, stdio))
            check_files(case.into, files, times)
            check(file_lines(out) == [(name, "OK") for name in files], f"{window}: {out}")
            case.cut()
            case.empty_folder(case.into)
    return run


def ymodem_with_sb_and_rb(case):
    """Batches from sb and sb -k and to rb; tollan's ZModem facing rb ends at once."""
    batch(False, [("", []), ("", ["-k"])], "ymodem")(case)
    # rb empties its input after each answer; on a busy machine that now and then eats the start
    # of the next block, and each such block costs rb's ten-second wait: the batch to rb is small.
    batch(True, [("", [])], "ymodem", large=20000 + 333)(case)
    tollan, _ = case.against(["send", "empty"], ["rb", "-q"], case.out, case.into)
    _, err = case.expect(tollan, 22, "tollan send to rb")
    check("wants XModem or YModem" in err, err)


def stopped_mid_file(case):
    """Mid-file, each way: tollan interrupted, rz/sz cancelling, or the line gone. A receiver
    keeps the part without the sender's time; the next run resumes from it."""
    data = write(case.path("out", "big"), random_bytes(4 << 20, 1), NEW_TIME)
    target = case.path("in", "big")
    endings = {"cancel": (16, "Cancelled by remote."), "interrupt": (6, "User cancelled."),
               "cut": (15, "The line was lost")}
    # The last run: the line is tollan's standard input and output.
    runs = list(itertools.product(endings, (True, False), (False,))) + [("cut", False, True)]
    for how, send, stdio in runs:
        status, text = endings[how]
        tollan, peer = start(case, send, ["--timeout", "0"], [], ["big"], stdio=stdio)
        wait_for_size(target, 200000)
        if how == "interrupt":
            tollan.send_signal(signal.SIGINT)
        else:  # rz/sz stopped, or killed outright before the pair goes
            peer.send_signal(signal.SIGKILL if how == "cut" else signal.SIGTERM)
        check(case.finish(peer)[0] != 0, "rz/sz did not notice the cancel")
        if how == "cut":
            case.cut()
        code, out, err = case.finish(tollan)
        check(code == status and text in err, f"{send} {how} {stdio}: exit {code}\n{out}{err}")
        check(how == "cut" or file_lines(out) == [("big", text)], out)
        kept = read(target) if os.path.exists(target) else b""
        check((send and how != "cut") or 0 < len(kept) < len(data) and data.startswith(kept) and
              int(os.path.getmtime(target)) != NEW_TIME, "the part was not kept, or with its time")
        check(send or how != "cut" or f"the partial file big is kept ({len(kept)} bytes)" in err,
              err)
        if how == "cut":
            with open(target, "r+b") as f:  # marks the bytes kept: a resumed run leaves them be
                f.write(bytes(1000))
            options = ["--recover", "always" if send else "follow"]
            out = case.both_succeed(*start(case, send, options, ["-r"], ["big"], stdio=stdio))
            check(send or file_lines(out) == [("big", f"OK, resumed at {len(kept)} bytes")], out)
            check_files(case.into, {"big": bytes(1000) + data[1000:]}, {"big": NEW_TIME})
        case.cut()
        case.empty_folder(case.into)


def management(case):
    """Our offer's management option, which rz follows (a file it keeps is announced but not
    confirmed), and sz's, which our receiver follows (sz -p's refusal ends the run)."""
    write(case.path("out", "fresh"), b"fresh", NEW_TIME)
    for send, option, status, content, lines in (
            (True, "never", 0, b"old", [("f", "File skipped."), ("fresh", "OK")]),
            (True, "always", 0, b"new", [("f", "OK"), ("fresh", "OK")]),
            (False, "-p", 14, b"old", [("f", "File already exists.")]),
            (False, "-n", 0, b"old", [("f", "File skipped.")]),
            (False, "-y", 0, b"new", [("f", "OK")])):
        write(case.path("out", "f"), b"new", NEW_TIME if send else OLD_TIME)
        write(case.path("in", "f"), b"old", OLD_TIME if send else NEW_TIME)
        tollan, peer = start(case, send, ["--overwrite", option] if send else
                             ["--recover", "follow", "--overwrite", "always"],
                             [] if send else [option], ["f", "fresh"] if send else ["f"])
        out, err = case.expect(tollan, status, option)
        check(case.finish(peer)[0] == 0 or not send, "rz failed")
        check(file_lines(out) == lines and read(case.path("in", "f")) == content, out + err)
        check(not send or ("1 file(s) announced but not confirmed" in err) == (option == "never"),
              err)
        check(not send or read(case.path("in", "fresh")) == b"fresh", "fresh did not arrive")
        case.cut()


def names_outside_the_folder(case):
    """An absolute name arrives inside the folder; one climbing out with ".." is declined."""
    absolute = case.path("out", "source")
    source = write(absolute, b"the sender's own file", OLD_TIME)
    good = write(case.path("out", "good"), b"good", NEW_TIME)
    for protocol in ("zmodem", "ymodem"):
        out = case.both_succeed(*start(case, False, ["--overwrite", "always"], ["-f"],
                                       [absolute, "../out/source", "good"], protocol))
        check(out.count("File skipped.") == 1 and ("good", "OK") in file_lines(out), out)
        check(read(absolute) == source and int(os.path.getmtime(absolute)) == OLD_TIME,
              "the source was written")
        check_files(case.into, {absolute.lstrip("/"): source, "good": good},
                    {absolute.lstrip("/"): OLD_TIME, "good": NEW_TIME})
        case.cut()
        case.empty_folder(case.into)


def host_run(case):
    """One receiver takes sender after sender; the interrupt ends it well."""
    files = {name: write(case.path("out", name), random_bytes(size, size), NEW_TIME)
             for name, size in (("first", 20000), ("second", 3000))}
    line, peer = case.pty_pair()
    tollan = case.tollan("receive", "--host", "--dir", case.into, "-l", line)
    case.wait_opened(tollan, line)
    for name in files:
        case.expect(case.start(["sz", "-q", name], line=peer, cwd=case.out), 0, "sz " + name)
    # The interrupt comes once the next pass waits for a sender: it asks with a ZRINIT.
    read_until(case.open_end(peer), lambda seen: b"B01" in seen, "the next pass's ZRINIT")
    tollan.send_signal(signal.SIGINT)
    out, err = case.expect(tollan, 0, "interrupted host run, every file arrived")
    # The pass that waited for a third sender gets a line of its own, without a name.
    check(file_lines(out) == [("first", "OK"), ("second", "OK"), ("", "User cancelled.")], out)
    check_files(case.into, files, {name: NEW_TIME for name in files})


def declined_in_a_batch(case):
    """A file that exists, then one that cannot be opened (a folder), are skipped with their
    reasons and the batch goes on. Permission bits come across both ways, set-user-ID never."""
    for name in ("kept", "adir", "tool"):
        write(case.path("out", name), b"#!/bin/sh\n", NEW_TIME)
    os.chmod(case.path("out", "tool"), 0o4755)
    write(case.path("in", "kept"), b"receiver's", OLD_TIME)
    os.mkdir(case.path("in", "adir"))
    mode = lambda: os.stat(case.path("in", "tool")).st_mode & 0o7777
    for overwrite, status, kept, kept_line, adir in (
            ("never", 14, b"receiver's", "File already exists.", "File already exists."),
            ("always", 11, b"#!/bin/sh\n", "OK", "Unable to open file. (Is a directory)")):
        tollan, sz = start(case, False, ["--overwrite", overwrite], [], ["kept", "adir", "tool"])
        out, err = case.expect(tollan, status, "tollan receive --overwrite " + overwrite)
        case.finish(sz)
        # A long status runs past its column.
        check(file_lines(out) == [("kept", kept_line), ("adir", adir[:30]), ("tool", "OK")], out)
        check(read(case.path("in", "kept")) == kept and "adir: " + adir in err, err)
        check_files(case.into, {"tool": b"#!/bin/sh\n"}, {"tool": NEW_TIME})
        check(mode() == 0o755, "mode not kept")
        os.remove(case.path("in", "tool"))
        case.cut()
    case.empty_folder(case.into)
    case.both_succeed(*start(case, True, [], [], ["tool"]))
    check(mode() == 0o755, "rz: mode not kept")


def full_disk(case):
    """A full folder (a small tmpfs) ends the run with the system's reason; the part is kept."""
    full = case.path("full")
    os.mkdir(full)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full],
                      capture_output=True).returncode != 0:
        print("skipped: no tmpfs can be mounted here")
        return
    case.cleanups.append(lambda: subprocess.run(["umount", "-l", full]))
    write(case.path("out", "big"), random_bytes(300000, 3))
    tollan, sz = case.against(["receive", "--dir", full], ["sz", "-q", "big"], peer_cwd=case.out)
    out, err = case.expect(tollan, 12, "tollan onto a full disk")
    case.finish(sz)
    check("big: Unable to write to file. (No space left on device); the part received is kept"
          in err, err)
    check(0 < os.path.getsize(os.path.join(full, "big")) < 300000, "the part is not kept")


def replacing_keeps_the_old_file(case):
    """Each replacing policy, a receive cut short (the line pulled, sz cancelled, tollan
    interrupted, the file size limit): the old file stays byte for byte and the partial beside it
    is named; a resumed run goes on from that partial. A link under the name is replaced, never
    written through, and a command sz asks us to run is refused at once."""
    data = write(case.path("out", "f"), random_bytes(4 << 20, 2), NEW_TIME)
    old, target, partial = b"precious old contents", case.path("in", "f"), case.path("in", "f.tollan-part")
    endings = {"cut": (15, "The line was lost"), "cancel": (16, "Cancelled by remote."),
               "interrupt": (6, "User cancelled."), "full": (12, "Unable to write to file.")}
    for policy, how in (("always", "cut"), ("newer", "cancel"), ("newer-or-longer", "interrupt"),
                        ("differ", "full"), ("crc", "cut")):
        write(target, old, OLD_TIME)
        tollan, sz = start(case, False, ["--overwrite", policy, "--timeout", "0"], [], ["f"],
                           limit=300000 if how == "full" else None)
        if how != "full":
            wait_for_size(partial, 200000)
        if how == "interrupt":
            tollan.send_signal(signal.SIGINT)
        elif how != "full":
            sz.send_signal(signal.SIGKILL if how == "cut" else signal.SIGTERM)
        case.finish(sz)
        if how == "cut":
            case.cut()
        status, text = endings[how]
        code, out, err = case.finish(tollan)
        check(code == status and text in err, f"{policy} {how}: exit {code}\n{out}{err}")
        check(read(target) == old and int(os.path.getmtime(target)) == OLD_TIME, "old file lost")
        kept = read(partial)
        check(0 < len(kept) < len(data) and data.startswith(kept), "the partial is not kept")
        check("f is unchanged" in err and "kept in f.tollan-part" in err.replace("file ", "kept in "),
              err)
        if policy != "crc":
            os.remove(partial)  # the next run is to be seen writing its own
        case.cut() if how != "cut" else None
    out = case.both_succeed(*start(case, False, ["--recover", "follow"], ["-r"], ["f"]))
    check(file_lines(out) == [("f", f"OK, resumed at {len(kept)} bytes")], out)
    check_files(case.into, {"f": data}, {"f": NEW_TIME})
    check(not os.path.exists(partial), "the partial stayed")
    case.cut()
    # A link in the folder: replaced itself by the received file.
    victim = write(case.path("victim"), b"outside the folder")
    os.remove(target)
    os.symlink("../victim", target)
    write(case.path("out", "f"), b"new", NEW_TIME)
    case.both_succeed(*start(case, False, ["--overwrite", "always"], [], ["f"]))
    check(read(case.path("victim")) == victim and not os.path.islink(target), "written through")
    check(read(target) == b"new", "the link was not replaced")
    case.cut()
    tollan, sz = start(case, False, [], ["-c", "touch pwned"], [])
    _, err = case.expect(tollan, 23, "tollan receive against sz -c")
    check(case.finish(sz)[0] != 0 and "never run" in err, err)
    check(not os.path.exists(case.path("out", "pwned")), "the command ran")


def xmodem_with_rx_and_sx(case):
    """Each way with CRC-16, the checksum (rx without -c) and 1 KiB blocks (sx -k also under
    plain XModem)."""
    for i, (send, protocol, options) in enumerate((
            (True, "xmodem", ["-c"]), (True, "xmodem", []), (True, "xmodem-1k", ["-c"]),
            (False, "xmodem", []), (False, "xmodem-1k", ["-k"]), (False, "xmodem", ["-k"]))):
        line, peer = case.pty_pair(str(i))
        source, got = f"source{i}.bin", f"got{i}.bin"
        data = write(case.path(source), random_bytes(70000 if "-k" in options else 5000, i))
        tollan = case.tollan("send" if send else "receive", "-p", protocol, "-l", line,
                             source if send else got)
        if send:  # a sender discards what waits on the line: rx asks once it is open
            case.wait_opened(tollan, line)
        peer = case.start(["rx", *options, got] if send else ["sx", *options, source], line=peer)
        out = case.both_succeed(tollan, peer)
        check(read(case.path(got)) == data + b"\x1a" * (-len(data) % 128), f"{i}: other bytes")
        check(file_lines(out) == [(source if send else got, "OK")], out)


def acknak_between_two_tollans(case):
    line, peer = case.pty_pair()
    text = write(case.path("notes.txt"),
                 "".join(f"line {i} of a text file\r\n" for i in range(200)).encode())
    receiver = case.tollan("receive", "-p", "acknak", "-l", peer, "copy.txt")
    out = case.both_succeed(case.tollan("send", "-p", "acknak", "-l", line, "notes.txt"), receiver)
    check(read(case.path("copy.txt")) == text, "the copy differs")
    check(file_lines(out) == [("notes.txt", "OK")], out)


def receiver_gives_up(case):
    """Against a silent peer the receiver asks and times out; into an existing file it refuses
    without asking: the peer sees only the cancel sequence and a last CAN."""
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
    """FILE operands are checked before the line is opened (else 18). Without --line a standard
    input that is no terminal is the line: a receiver asks on it."""
    write(case.path("here.bin"), b"x")
    no_line = case.path("no-such-tty")
    for operand, reason in (("not-here.bin", "No such file or directory"),
                            ("/dev/null", "not a regular file")):
        tollan = case.tollan("send", "-p", "xmodem", "-l", no_line, "here.bin", operand)
        out, err = case.expect(tollan, 11, "tollan with " + operand)
        check(f"{operand}: {reason}\nUnable to open file." in err and out == "", out + err)
    for args, status, reason in (
            (["send", "-l", no_line, "here.bin"], 18, "No such file or directory"),
            (["send", "-l", "/dev/null", "here.bin"], 18, "not a terminal"),
            (["receive", "-p", "xmodem", "got.bin"], 15, "standard input and output: its other")):
        out, err = case.expect(case.tollan(*args), status, " ".join(args))
        check(reason in err and (args[0] == "send" or out.startswith("C")), out + err)
    _, err = case.expect(case.tollan("send", "-l", no_line, "--bogus", "here.bin"), 64, "usage")
    check("tollan send    [options] FILE..." in err, err)


send_to_rz = batch(True, [(w, []) for w in ("streaming", "1024", "2048", "4096", "stdio")])
receive_from_sz = batch(False, [("streaming", []), ("1024", ["-w", "1024"]),
                                ("4096", ["-o", "-w", "4096"]), ("2048", ["-8"]),
                                ("streaming", ["-e"]), ("stdio", [])])

if __name__ == "__main__":
    sys.exit(main(globals()))
