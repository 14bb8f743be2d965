#!/usr/bin/env python3
"""ZModem interoperability with lrzsz over socat pseudo-terminal pairs.

Our engine runs in zmodem_peer (the ZModem engine on a PosixSerialPort) on one end of a pair,
lrzsz's sz or rz on the other, each in a folder of its own. A case passes when both sides end as
expected and the files that should arrive are byte-identical, with the sender's modification
time where one was announced.

Facts about lrzsz found by trying (0.12.21rc), which the cases rely on:
- rz's ZRINIT carries CANFDX|CANOVIO|CANFC32 (0x23, no CANBRK) and a buffer size of 0, so our
  sender streams unless a window is set. sz starts with "rz\r" before its ZRQINIT, uses CRC-32
  when offered and CRC-16 with -o.
- sz -w N keeps one ZDATA frame and ends a subpacket with ZCRCQ every so often, waiting for the
  ZACK. On a file whose size is a multiple of 1 KiB its last subpacket ends with ZCRCE, and sz
  then waits for an acknowledgement it did not ask for: the transfer stalls until our
  receiver's 10 s header time-out sends ZRPOS (one error); sz then sends a stray ZCRCQ, an empty
  frame and ZEOF, and the file arrives whole.
- sz -8 (on a line at 230400 bit/s) grows its subpackets past 1 KiB. Our receiver refuses
  those, sz halves its subpacket after each ZRPOS and grows it again, and the file arrives
  after a few retransmissions.
- rz refuses names with ".." or an absolute path (restricted mode): it cancels the whole
  session, and our sender ends with the remote-cancel code.
- rz -r resumes an existing partial file from its size rounded down to 1 KiB (ZRPOS 1024 for
  1,500 bytes kept), whatever management option the offer carries.
- rz without -r honours an offer's ZCRESUM (our crash recovery "always") before its management
  option, so our default offer resumes, i.e. overwrites, an existing file even under ZMPROT.
- Stopped with SIGTERM, sz and rz send ten CAN and ten backspaces and exit. (SIGINT does not
  stop them when they start with it ignored, as background jobs of a shell do.) Like every exit
  of theirs, this one discards their pending output (tcflush), which on a pseudo-terminal throws
  away what socat has not read yet, the cancel included: they run with the preloaded shim of
  the other interoperability tests (TOLLAN_KEEP_OUTPUT), which keeps output.
- rz deletes a partial file when the sender cancels; killed outright, it leaves what it wrote.

Usage: zmodem_interop.py CASE   (ZMODEM_PEER names the peer program, TOLLAN_KEEP_OUTPUT the shim)
"""

import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PEER = os.environ.get("ZMODEM_PEER", "zmodem_peer")
KEEP_OUTPUT = os.environ.get("TOLLAN_KEEP_OUTPUT", "")
GUARD = 90  # seconds: a guard against a hang, never part of a verdict

TE_DONE, TE_USER_CANCEL, TE_REMOTE_CANCEL = -804, -901, -914
TE_FILE_SKIPPED, TE_FILE_EXISTS, TE_NO_FILES_SENT = -933, -939, -932
OLD_TIME, NEW_TIME = 0x40000000, 0x50000000


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Line:
    """A socat pseudo-terminal pair: `a` for our peer, `b` for lrzsz."""

    def __init__(self, work):
        self.a = os.path.join(work, "ttyA")
        self.b = os.path.join(work, "ttyB")
        self.socat = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={self.a}", f"pty,raw,echo=0,link={self.b}"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not (os.path.exists(self.a) and os.path.exists(self.b)):
            check(time.monotonic() < deadline, "socat made no pseudo-terminals")
            time.sleep(0.02)

    def close(self):
        if self.socat.poll() is None:
            self.socat.terminate()
        self.socat.wait()


class Case:
    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="tollan-zmodem-")
        self.ours = os.path.join(self.work, "ours")
        self.theirs = os.path.join(self.work, "theirs")
        os.mkdir(self.ours)
        os.mkdir(self.theirs)
        self.line = Line(self.work)
        self.processes = []

    def close(self):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
            p.wait()
        self.line.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def peer(self, mode, args, names):
        """Starts our peer in its folder on end A."""
        p = subprocess.Popen([PEER, mode, self.line.a] + args + names, cwd=self.ours,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
        self.processes.append(p)
        return p

    def lrzsz(self, argv):
        """Starts sz or rz in its folder with end B as its terminal."""
        env = dict(os.environ)
        if KEEP_OUTPUT:
            env["LD_PRELOAD"] = KEEP_OUTPUT
        tty = open(self.line.b, "r+b", buffering=0)
        p = subprocess.Popen(argv, cwd=self.theirs, stdin=tty, stdout=tty,
                             stderr=subprocess.PIPE, env=env)
        tty.close()
        self.processes.append(p)
        return p

    def wait_for_size(self, path, size):
        """Waits until `path` holds at least `size` bytes."""
        deadline = time.monotonic() + GUARD
        while not (os.path.exists(path) and os.path.getsize(path) >= size):
            check(time.monotonic() < deadline, f"{path} never reached {size} bytes")
            time.sleep(0.01)


def finish(p, what):
    try:
        out, err = p.communicate(timeout=GUARD)
    except subprocess.TimeoutExpired:
        p.kill()
        out, err = p.communicate()
        raise Failure(f"{what} did not end:\n{out}\n{err}")
    text = out if isinstance(out, str) else (out or b"").decode(errors="replace")
    if err:
        text += err if isinstance(err, str) else err.decode(errors="replace")
    return p.returncode, text


def peer_result(output):
    for line in output.splitlines():
        if line.startswith("result "):
            return int(line.split()[1])
    raise Failure("our peer printed no result:\n" + output)


def peer_files(output):
    """(name, code) per file line of our peer."""
    return [(name, code) for name, code, _errors in peer_file_lines(output)]


def peer_file_lines(output):
    """(name, code, errors) per file line of our peer."""
    files = []
    for line in output.splitlines():
        if line.startswith("file "):
            name, code, _position, errors = line[5:].rsplit(" ", 3)
            files.append((name, int(code), int(errors)))
    return files


def write(path, data, mtime=None):
    with open(path, "wb") as f:
        f.write(data)
    if mtime is not None:
        os.utime(path, (mtime, mtime))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def batch(folder):
    """The batch of the matrix: an empty file, every byte value, more than 1 MiB, a name with
    spaces; each with its own modification time (even seconds survive every file system)."""
    rnd = random.Random(5)
    files = {
        "empty": b"",
        "every-byte": bytes(range(256)) * 40,
        "large.bin": bytes(rnd.getrandbits(8) for _ in range((1 << 20) + 333)),
        "name with spaces.txt": b"line of text\r\n" * 300,
    }
    times = {}
    for i, (name, data) in enumerate(files.items()):
        times[name] = OLD_TIME + 3600 * i
        write(os.path.join(folder, name), data, times[name])
    return files, times


def check_arrived(folder, files, times):
    for name, data in files.items():
        path = os.path.join(folder, name)
        check(os.path.exists(path), f"{name} did not arrive")
        check(read(path) == data, f"{name} differs ({os.path.getsize(path)} of {len(data)} bytes)")
        if times is not None:
            got = int(os.path.getmtime(path))
            check(got == times[name], f"{name}: time {got}, expected {times[name]}")


# --- Cases ---------------------------------------------------------------------------------------

def send_to_rz(window):
    def run(c):
        files, times = batch(c.ours)
        rz = c.lrzsz(["rz", "-q", "-y"])
        ours = c.peer("send", ["--window", str(window)], list(files))
        code, out = finish(ours, "our sender")
        rz_code, rz_out = finish(rz, "rz")
        check(peer_result(out) == 0, "our sender failed:\n" + out + rz_out)
        check(rz_code == 0, f"rz exited {rz_code}: {rz_out}")
        check_arrived(c.theirs, files, times)
    return run


def receive_from_sz(sz_options, window=4096, refused=False):
    def run(c):
        files, times = batch(c.theirs)
        ours = c.peer("receive", ["--window", str(window)], [])
        # sz sizes its subpackets by the line's speed.
        sz = c.lrzsz(["sh", "-c", 'stty 230400 && exec sz -q "$@"', "sz"] + sz_options +
                     list(files))
        sz_code, sz_out = finish(sz, "sz")
        code, out = finish(ours, "our receiver")
        check(peer_result(out) == 0, "our receiver failed:\n" + out + sz_out)
        check(sz_code == 0, f"sz exited {sz_code}: {sz_out}")
        check_arrived(c.ours, files, times)
        if refused:
            # Subpackets over 1 KiB were refused and sent again smaller.
            check(any(errors > 0 for _n, _c, errors in peer_file_lines(out)),
                  "sz sent no subpacket over 1 KiB:\n" + out)
    return run


def rz_cancels(c):
    write(os.path.join(c.ours, "big"), os.urandom(3 << 20))
    rz = c.lrzsz(["rz", "-q", "-y"])
    ours = c.peer("send", ["--window", "0"], ["big"])
    c.wait_for_size(os.path.join(c.theirs, "big"), 200000)
    rz.send_signal(signal.SIGTERM)
    code, out = finish(ours, "our sender")
    finish(rz, "rz")
    check(peer_result(out) == TE_REMOTE_CANCEL, "expected the remote-cancel code:\n" + out)


def sz_cancels(c):
    data = os.urandom(20 << 20)
    write(os.path.join(c.theirs, "big"), data, NEW_TIME)
    ours = c.peer("receive", [], [])
    sz = c.lrzsz(["sz", "-q", "big"])
    c.wait_for_size(os.path.join(c.ours, "big"), 100000)
    sz.send_signal(signal.SIGTERM)
    code, out = finish(ours, "our receiver")
    finish(sz, "sz")
    check(peer_result(out) == TE_REMOTE_CANCEL, "expected the remote-cancel code:\n" + out)
    kept = read(os.path.join(c.ours, "big"))
    check(0 < len(kept) < len(data) and data.startswith(kept), "the part received was not kept")
    check(int(os.path.getmtime(os.path.join(c.ours, "big"))) == NEW_TIME,
          "the part kept lacks the announced time")


def our_cancel_reaches_rz(c):
    write(os.path.join(c.ours, "big"), os.urandom(3 << 20))
    rz = c.lrzsz(["rz", "-q", "-y"])
    ours = c.peer("send", ["--cancel-at", "300000"], ["big"])
    code, out = finish(ours, "our sender")
    rz_code, rz_out = finish(rz, "rz")
    check(peer_result(out) == TE_USER_CANCEL, "expected the user-cancel code:\n" + out)
    check(rz_code != 0, "rz did not notice the cancel")


def resume_from_sz(c):
    """A line cut mid-file (sz killed outright), then sz -r: our receiver resumes."""
    data = os.urandom(2 << 20)
    write(os.path.join(c.theirs, "big"), data, NEW_TIME)
    ours = c.peer("receive", ["--time-limit", "5"], [])
    sz = c.lrzsz(["sz", "-q", "big"])
    target = os.path.join(c.ours, "big")
    c.wait_for_size(target, 500000)
    sz.kill()
    finish(sz, "sz")
    c.line.close()  # the line is gone
    code, out = finish(ours, "our receiver")
    check(peer_result(out) < 0, "our receiver did not notice the cut:\n" + out)
    kept = len(read(target))
    check(0 < kept < len(data), f"{kept} bytes kept")

    c.line = Line(c.work)
    ours = c.peer("receive", ["--recovery", "2", "--overwrite", "4"], [])
    sz = c.lrzsz(["sz", "-q", "-r", "big"])
    sz_code, sz_out = finish(sz, "sz")
    code, out = finish(ours, "our receiver")
    check(peer_result(out) == 0, "the resumed receive failed:\n" + out + sz_out)
    check(read(target) == data, "the resumed file differs")


def resume_to_rz(c):
    """The line is cut mid-file (rz killed outright); rz -r then resumes from what it kept,
    rounded down to 1 KiB."""
    data = os.urandom(4 << 20)
    write(os.path.join(c.ours, "big"), data, NEW_TIME)
    rz = c.lrzsz(["rz", "-q", "-y"])
    ours = c.peer("send", ["--time-limit", "5"], ["big"])
    target = os.path.join(c.theirs, "big")
    c.wait_for_size(target, 500000)
    rz.kill()
    finish(rz, "rz")
    c.line.close()
    code, out = finish(ours, "our sender")
    check(peer_result(out) < 0, "our sender did not notice the cut:\n" + out)
    kept = len(read(target))
    check(0 < kept < len(data), f"rz kept {kept} bytes")

    c.line = Line(c.work)
    rz = c.lrzsz(["rz", "-q", "-r"])
    ours = c.peer("send", ["--recovery", "3"], ["big"])
    code, out = finish(ours, "our sender")
    rz_code, rz_out = finish(rz, "rz")
    check(peer_result(out) == 0, "the resumed send failed:\n" + out + rz_out)
    check(read(target) == data, "the resumed file differs")


def management_to_rz(c):
    """Our management option in the offer, with rz following it (rz without -y)."""
    write(os.path.join(c.ours, "kept"), b"new content", NEW_TIME)
    write(os.path.join(c.ours, "fresh"), b"fresh", NEW_TIME)
    write(os.path.join(c.theirs, "kept"), b"old", OLD_TIME)
    rz = c.lrzsz(["rz", "-q"])
    # Without the resume request, which rz would honour first.
    ours = c.peer("send", ["--overwrite", "7", "--recovery", "1"], ["kept", "fresh"])
    code, out = finish(ours, "our sender")
    finish(rz, "rz")
    check(peer_result(out) == 0, "protect run failed:\n" + out)
    check((("kept", TE_FILE_SKIPPED) in peer_files(out)), "the protected file was not skipped:\n" + out)
    check(read(os.path.join(c.theirs, "kept")) == b"old", "the protected file changed")
    check(read(os.path.join(c.theirs, "fresh")) == b"fresh", "the new file did not arrive")

    rz = c.lrzsz(["rz", "-q"])
    ours = c.peer("send", ["--overwrite", "4", "--recovery", "1"], ["kept"])
    code, out = finish(ours, "our sender")
    finish(rz, "rz")
    check(peer_result(out) == 0, "clobber run failed:\n" + out)
    check(read(os.path.join(c.theirs, "kept")) == b"new content", "the file was not replaced")


def management_from_sz(c):
    """sz's management options, followed by our receiver (crash recovery 2)."""
    write(os.path.join(c.theirs, "f"), b"sender's", OLD_TIME)
    write(os.path.join(c.ours, "f"), b"receiver's", NEW_TIME)
    for sz_option, expected, file_code in (("-p", b"receiver's", TE_FILE_EXISTS),
                                           ("-n", b"receiver's", TE_FILE_SKIPPED),
                                           ("-y", b"sender's", TE_DONE)):
        ours = c.peer("receive", ["--recovery", "2", "--overwrite", "4"], [])
        sz = c.lrzsz(["sz", "-q", sz_option, "f"])
        finish(sz, "sz")
        code, out = finish(ours, "our receiver")
        check(peer_result(out) == 0, f"sz {sz_option}: our receiver failed:\n{out}")
        check(read(os.path.join(c.ours, "f")) == expected, f"sz {sz_option}: wrong content")
        check(("f", file_code) in peer_files(out), f"sz {sz_option}: file line:\n{out}")


def path_refused_by_rz(c):
    write(os.path.join(c.ours, "f"), b"x")
    rz = c.lrzsz(["rz", "-q"])
    ours = c.peer("send", ["--path-mode", "1"], [os.path.join(c.ours, "f")])
    code, out = finish(ours, "our sender")
    finish(rz, "rz")
    check(peer_result(out) == TE_REMOTE_CANCEL, "rz took an absolute path?\n" + out)


CASES = {
    "send_to_rz_streaming": send_to_rz(0),
    "send_to_rz_window_1024": send_to_rz(1024),
    "send_to_rz_window_2048": send_to_rz(2048),
    "send_to_rz_window_4096": send_to_rz(4096),
    "receive_from_sz": receive_from_sz([]),
    "receive_from_sz_streaming": receive_from_sz([], window=0),
    "receive_from_sz_window_1024": receive_from_sz(["-w", "1024"]),
    "receive_from_sz_window_4096": receive_from_sz(["-w", "4096"]),
    "receive_from_sz_crc16": receive_from_sz(["-o"]),
    "receive_from_sz_8k": receive_from_sz(["-8"], window=0, refused=True),
    "rz_cancels": rz_cancels,
    "sz_cancels": sz_cancels,
    "our_cancel_reaches_rz": our_cancel_reaches_rz,
    "resume_from_sz": resume_from_sz,
    "resume_to_rz": resume_to_rz,
    "management_to_rz": management_to_rz,
    "management_from_sz": management_from_sz,
    "path_refused_by_rz": path_refused_by_rz,
}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        print("usage: zmodem_interop.py CASE\ncases: " + " ".join(CASES), file=sys.stderr)
        return 2
    c = Case()
    try:
        CASES[sys.argv[1]](c)
    except Failure as failure:
        print(f"FAIL {sys.argv[1]}: {failure}")
        return 1
    finally:
        c.close()
    print(f"PASS {sys.argv[1]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
