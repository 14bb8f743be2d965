#!/usr/bin/env python3
"""Interoperability tests of the tollan command over pseudo-terminal pairs.

Each case builds its own socat pseudo-terminal pairs in a fresh folder and runs the tollan
command against lrzsz's sx/rx, against a second tollan, or against a scripted peer. Where a case
has to see or steer what crosses the line, this script sits in the middle: the two programs are
on two socat pairs and a relay forwards bytes between the inner ends, recording them and holding
or dropping them on request. Nothing waits for a fixed time to decide an outcome: cases wait for
events (bytes seen, processes ended) and only use time limits as a guard against hangs.

Facts about lrzsz found by trying, which the cases rely on:
- `rx` asks for the one-byte checksum (NAK) unless given -c, which makes it ask for CRC-16 ('C').
- `rx` refuses absolute target paths in its default restricted mode: it runs in the case's folder
  and gets a relative name.
- `sx` pads the last block with 0x1A; `rx` keeps whatever padding the sender used.
- Both discard their pending output (tcflush TCIOFLUSH) when they exit. A pseudo-terminal has no
  transmit queue: a flush of the output of one end throws away what the other end (socat) has
  not read yet, so the last bytes written just before (rx's ACK of the EOT) are lost now and then.
  They run with a preloaded tcflush that keeps output (TOLLAN_KEEP_OUTPUT). tollan's own port
  discards its queues when it closes too, so tollan runs with it as well.
- Interrupted, both write ten CAN and ten backspaces before they exit.

Usage: interop.py CASE   (TOLLAN and TOLLAN_KEEP_OUTPUT name the command and the shim)
"""

import os
import random
import select
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

TOLLAN = os.environ.get("TOLLAN", "tollan")
KEEP_OUTPUT = os.environ.get("TOLLAN_KEEP_OUTPUT", "")
GUARD = 60  # seconds: only a guard against a hang, never part of a verdict

CAN, BS, ACK, NAK, EOT, SOH, BEL = 0x18, 0x08, 0x06, 0x15, 0x04, 0x01, 0x07
CANCEL_SEQUENCE = bytes([CAN] * 10 + [BS] * 10)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Case:
    """The folder, the socat pairs and the processes of one case; all are gone afterwards."""

    def __init__(self, name):
        self.dir = tempfile.mkdtemp(prefix="tollan-interop-%s-" % name)
        self.processes = []
        self.fds = []
        self.relays = []

    def path(self, name):
        return os.path.join(self.dir, name)

    def pty_pair(self, name):
        """A socat pseudo-terminal pair: the paths of its two ends."""
        a, b = self.path(name + "A"), self.path(name + "B")
        socat = subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(socat)
        deadline = time.monotonic() + GUARD
        while not (os.path.exists(a) and os.path.exists(b)):
            check(socat.poll() is None, "socat ended early")
            check(time.monotonic() < deadline, "socat made no pair")
            time.sleep(0.01)
        return a, b

    def open_end(self, path):
        """Opens a pair's end raw and without blocking; closed with the case."""
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(fd, termios.TCSANOW)  # TCSANOW: keep what is already waiting
        self.fds.append(fd)
        return fd

    def start(self, args, line=None, preload=False, **kwargs):
        """Starts a program; lrzsz's programs get the line as stdin and stdout."""
        env = kwargs.pop("env", None) or dict(os.environ)
        if preload and KEEP_OUTPUT:
            env["LD_PRELOAD"] = KEEP_OUTPUT
        if line is not None:
            end = open(line, "r+b", buffering=0)
            kwargs.update(stdin=end, stdout=end)
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.PIPE)
        kwargs.setdefault("cwd", self.dir)
        process = subprocess.Popen(args, env=env, stderr=subprocess.PIPE, **kwargs)
        if line is not None:
            end.close()
        self.processes.append(process)
        return process

    def tollan(self, *args):
        # tollan's port, like the serial port of the component, discards its queues when it
        # closes; on a pseudo-terminal that can take the last bytes with it, as with lrzsz.
        # The sanitizer runtime tolerates the preloaded library coming first.
        env = dict(os.environ)
        if KEEP_OUTPUT:
            env["LD_PRELOAD"] = KEEP_OUTPUT
            env["ASAN_OPTIONS"] = ":".join(
                filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
        return self.start([TOLLAN] + list(args), env=env)

    def wait_opened(self, process, path):
        """Waits until `process` has the device at `path` open."""
        device = os.path.realpath(path)
        fd_dir = "/proc/%d/fd" % process.pid
        deadline = time.monotonic() + GUARD
        while True:
            check(process.poll() is None, "%s ended before it opened %s" % (process.args[0], path))
            check(time.monotonic() < deadline, "%s never opened %s" % (process.args[0], path))
            try:
                for fd in os.listdir(fd_dir):
                    if os.path.realpath(os.path.join(fd_dir, fd)) == device:
                        return
            except OSError:
                pass
            time.sleep(0.01)

    def finish(self, process):
        """Waits for a program; its exit status, stdout and stderr as text."""
        try:
            out, err = process.communicate(timeout=GUARD)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not end" % process.args[0])
        decode = lambda data: (data or b"").decode("utf-8", "replace")
        return process.returncode, decode(out), decode(err)

    def relay(self, left_path, right_path):
        """A relay between two pair ends; stopped with the case."""
        relay = Relay(self.open_end(left_path), self.open_end(right_path))
        self.relays.append(relay)
        return relay

    def close(self):
        for relay in self.relays:
            relay.stop()
        for process in reversed(self.processes):
            if process.poll() is None:
                process.kill()
            try:
                process.communicate(timeout=GUARD)
            except (subprocess.TimeoutExpired, ValueError):
                pass
        for fd in self.fds:
            os.close(fd)
        subprocess.run(["rm", "-rf", self.dir])


class Relay:
    """Forwards bytes between two pair ends, keeping what went each way.

    A direction can be held (bytes wait in the relay) and a filter can drop bytes. Each
    direction is named by where its bytes come from: "left" or "right".
    """

    def __init__(self, left_fd, right_fd):
        self.fds = {"left": left_fd, "right": right_fd}
        self.seen = {"left": bytearray(), "right": bytearray()}
        self.pending = {"left": bytearray(), "right": bytearray()}
        self.held = {"left": False, "right": False}
        self.allowance = {"left": None, "right": None}  # bytes still let through; None: all
        self.drop = {"left": None, "right": None}
        self.changed = threading.Condition()
        self.stopping = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def other(self, side):
        return "right" if side == "left" else "left"

    def run(self):
        while not self.stopping:
            readable, _, _ = select.select(list(self.fds.values()), [], [], 0.05)
            with self.changed:
                for side, fd in self.fds.items():
                    if fd in readable:
                        try:
                            data = os.read(fd, 4096)
                        except OSError:
                            data = b""
                        for byte in data:
                            self.seen[side].append(byte)
                            if self.drop[side] is None or not self.drop[side](byte):
                                self.pending[side].append(byte)
                        self.changed.notify_all()
                    allowed = len(self.pending[side])
                    if self.allowance[side] is not None:
                        allowed = min(allowed, self.allowance[side])
                    if allowed > 0 and not self.held[side]:
                        try:
                            written = os.write(self.fds[self.other(side)],
                                               self.pending[side][:allowed])
                        except BlockingIOError:
                            written = 0
                        del self.pending[side][:written]
                        if self.allowance[side] is not None:
                            self.allowance[side] -= written

    def hold(self, side, held=True):
        with self.changed:
            self.held[side] = held

    def let_through(self, side, count):
        """From now on only `count` more bytes from `side` go through; the rest are held."""
        with self.changed:
            self.allowance[side] = count

    def set_drop(self, side, drop):
        with self.changed:
            self.drop[side] = drop

    def wait_for(self, predicate, what):
        """Waits until predicate(seen) holds for what has crossed so far."""
        with self.changed:
            ok = self.changed.wait_for(lambda: predicate(self.seen), timeout=GUARD)
        check(ok, "never saw " + what)

    def stop(self):
        if not self.stopping:
            self.stopping = True
            self.thread.join()


def data_file(case, name, size, seed):
    data = random.Random(seed).randbytes(size)
    with open(case.path(name), "wb") as f:
        f.write(data)
    return data


def read_file(case, name):
    with open(case.path(name), "rb") as f:
        return f.read()


def padded(data, pad):
    return data + bytes([pad]) * (-len(data) % 128)


def expect_status(result, status, what):
    code, out, err = result
    check(code == status, "%s: exit %d, wanted %d\nstdout: %s\nstderr: %s"
          % (what, code, status, out, err))
    return out, err


def one_file_line(out, name, status):
    """The command's one line for the file, in the log's words."""
    lines = [line for line in out.splitlines() if line.strip()]
    check(len(lines) == 1, "wanted one file line, got %r" % lines)
    check(lines[0].startswith(name) and lines[0][41:].startswith(status),
          "file line %r, wanted %s / %s" % (lines[0], name, status))


# --- The cases ---------------------------------------------------------------------------------

def xmodem_send_to_rx(case, crc):
    line, peer = case.pty_pair("tty")
    data = data_file(case, "source.bin", 5000, 1)
    # The sender discards what waits on the line when it starts: rx starts once it listens.
    tollan = case.tollan("send", "-p", "xmodem", "-l", line, "source.bin")
    case.wait_opened(tollan, line)
    rx = case.start(["rx", "-c", "got.bin"] if crc else ["rx", "got.bin"], line=peer,
                    preload=True)
    out, _ = expect_status(case.finish(tollan), 0, "tollan send")
    expect_status(case.finish(rx), 0, "rx")
    check(read_file(case, "got.bin") == padded(data, 0), "rx got other bytes")
    one_file_line(out, "source.bin", "OK")


def xmodem_send_to_rx_crc(case):
    xmodem_send_to_rx(case, crc=True)


def xmodem_send_to_rx_checksum(case):
    xmodem_send_to_rx(case, crc=False)


def zmodem_receive_from_sz(case):
    line, peer = case.pty_pair("tty")
    os.mkdir(case.path("in"))
    data = data_file(case, "a.bin", 70000, 10)
    tollan = case.tollan("receive", "--dir", "in", "-l", line)
    case.wait_opened(tollan, line)
    sz = case.start(["sz", "a.bin"], line=peer, preload=True)
    out, _ = expect_status(case.finish(tollan), 0, "tollan receive")
    expect_status(case.finish(sz), 0, "sz")
    check(read_file(case, "in/a.bin") == data, "a.bin differs")
    one_file_line(out, "a.bin", "OK")


def xmodem_receive_from_sx_crc(case):
    line, peer = case.pty_pair("tty")
    data = data_file(case, "source.bin", 3000, 2)
    tollan = case.tollan("receive", "-p", "xmodem", "-l", line, "got.bin")
    sx = case.start(["sx", "source.bin"], line=peer, preload=True)
    out, _ = expect_status(case.finish(tollan), 0, "tollan receive")
    expect_status(case.finish(sx), 0, "sx")
    check(read_file(case, "got.bin") == padded(data, 0x1A), "tollan got other bytes")
    one_file_line(out, "got.bin", "OK")


def xmodem_receive_from_sx_checksum(case):
    # sx answers the first 'C' with CRC-16. The relay keeps tollan's 'C's from it, so tollan
    # falls back to the checksum and asks with NAK, which sx follows.
    line, inner_left = case.pty_pair("left")
    inner_right, peer = case.pty_pair("right")
    relay = case.relay(inner_left, inner_right)
    relay.set_drop("left", lambda byte: byte == ord("C"))
    data = data_file(case, "source.bin", 1000, 3)
    tollan = case.tollan("receive", "-p", "xmodem", "-l", line, "got.bin")
    relay.wait_for(lambda seen: NAK in seen["left"], "tollan's NAK")
    sx = case.start(["sx", "source.bin"], line=peer, preload=True)
    expect_status(case.finish(tollan), 0, "tollan receive")
    expect_status(case.finish(sx), 0, "sx")
    relay.stop()
    check(read_file(case, "got.bin") == padded(data, 0x1A), "tollan got other bytes")
    # Blocks of 132 bytes: one-byte checksum.
    first = relay.seen["right"].find(SOH)
    check(relay.seen["right"][first + 132] == SOH, "blocks are not 132 bytes long")


def acknak_between_two_tollans(case):
    line, peer = case.pty_pair("tty")
    text = "".join("line %d of a text file\r\n" % i for i in range(200)).encode()
    with open(case.path("notes.txt"), "wb") as f:
        f.write(text)
    receiver = case.tollan("receive", "-p", "acknak", "-l", peer, "copy.txt")
    sender = case.tollan("send", "-p", "acknak", "-l", line, "notes.txt")
    out, _ = expect_status(case.finish(sender), 0, "tollan send")
    expect_status(case.finish(receiver), 0, "tollan receive")
    check(read_file(case, "copy.txt") == text, "the copy differs")
    one_file_line(out, "notes.txt", "OK")


def zmodem_send_to_rz(case):
    line, peer = case.pty_pair("tty")
    os.mkdir(case.path("in"))
    files = {"a.bin": data_file(case, "a.bin", 100000, 7), "b.txt": b"two words\n"}
    with open(case.path("b.txt"), "wb") as f:
        f.write(files["b.txt"])
    tollan = case.tollan("send", "-l", line, "a.bin", "b.txt")
    case.wait_opened(tollan, line)
    rz = case.start(["rz"], line=peer, preload=True, cwd=case.path("in"))
    out, _ = expect_status(case.finish(tollan), 0, "tollan send")
    expect_status(case.finish(rz), 0, "rz")
    for name, data in files.items():
        check(read_file(case, os.path.join("in", name)) == data, name + " differs")
    check(len(out.splitlines()) == 2, "wanted two file lines: %r" % out)


def zmodem_skipped_file_is_reported(case):
    # rz keeps a file it already has: the batch goes on, and the file announced but never
    # confirmed is counted on stderr.
    line, peer = case.pty_pair("tty")
    os.mkdir(case.path("in"))
    data = data_file(case, "a.bin", 5000, 11)
    data_file(case, "b.bin", 500, 12)
    with open(case.path("in/b.bin"), "wb") as f:
        f.write(b"old")
    tollan = case.tollan("send", "-l", line, "a.bin", "b.bin")
    case.wait_opened(tollan, line)
    rz = case.start(["rz"], line=peer, preload=True, cwd=case.path("in"))
    out, err = expect_status(case.finish(tollan), 0, "tollan send")
    expect_status(case.finish(rz), 0, "rz")
    check(read_file(case, "in/a.bin") == data, "a.bin differs")
    check(read_file(case, "in/b.bin") == b"old", "b.bin was replaced")
    check("1 file(s) announced but not confirmed" in err, "stderr: %r" % err)
    check("b.bin" in out and "File skipped." in out, "stdout: %r" % out)


def zmodem_host_run_takes_sender_after_sender(case):
    # One receiver, two senders one after the other, then the user's interrupt.
    line, peer = case.pty_pair("tty")
    os.mkdir(case.path("in"))
    first = data_file(case, "first.bin", 20000, 8)
    second = data_file(case, "second.bin", 3000, 9)
    tollan = case.tollan("receive", "--host", "--dir", "in", "-l", line)
    case.wait_opened(tollan, line)
    for name in ("first.bin", "second.bin"):
        expect_status(case.finish(case.start(["sz", name], line=peer, preload=True)), 0, "sz")
    tollan.send_signal(signal.SIGINT)
    out, _ = expect_status(case.finish(tollan), 6, "interrupted host run")
    check(read_file(case, "in/first.bin") == first, "first.bin differs")
    check(read_file(case, "in/second.bin") == second, "second.bin differs")
    ok = [l for l in out.splitlines() if l[41:].startswith("OK")]
    check(len(ok) == 2, "wanted two OK lines: %r" % out)


def interrupt_mid_file(case):
    # The relay lets three blocks through, then holds sx's output; tollan is interrupted while
    # it waits for the fourth.
    line, inner_left = case.pty_pair("left")
    inner_right, peer = case.pty_pair("right")
    relay = case.relay(inner_left, inner_right)
    data_file(case, "source.bin", 128 * 40, 4)
    tollan = case.tollan("receive", "-p", "xmodem", "-l", line, "got.bin")
    sx = case.start(["sx", "source.bin"], line=peer, preload=True)
    relay.wait_for(lambda seen: seen["left"].count(ACK) >= 2, "two ACKs")
    relay.hold("right")
    tollan.send_signal(signal.SIGINT)
    out, err = expect_status(case.finish(tollan), 6, "interrupted tollan")
    check("User cancelled." in err, "no 'User cancelled.' on stderr: %r" % err)
    one_file_line(out, "got.bin", "User cancelled.")
    kept = len(read_file(case, "got.bin"))
    check(kept > 0 and kept % 128 == 0 and kept < 128 * 40, "kept %d bytes" % kept)
    relay.wait_for(lambda seen: CANCEL_SEQUENCE in seen["left"], "tollan's cancel sequence")
    relay.stop()
    sx.kill()


def silent_peer_times_out(case):
    line, peer = case.pty_pair("tty")
    silent = case.open_end(peer)
    tollan = case.tollan("receive", "-p", "xmodem", "--timeout", "1", "-l", line, "got.bin")
    out, err = expect_status(case.finish(tollan), 5, "tollan against a silent peer")
    check("Timeout." in err, "no 'Timeout.' on stderr: %r" % err)
    one_file_line(out, "got.bin", "Timeout.")
    seen = os.read(silent, 4096)
    check(seen.startswith(b"C") and CANCEL_SEQUENCE in seen, "the peer saw %r" % seen)


def existing_target_refused(case):
    line, peer = case.pty_pair("tty")
    watcher = case.open_end(peer)
    with open(case.path("got.bin"), "wb") as f:
        f.write(b"keep me")
    tollan = case.tollan("receive", "-p", "xmodem", "-l", line, "got.bin")
    out, err = expect_status(case.finish(tollan), 14, "tollan into an existing file")
    check("File already exists." in err, "no 'File already exists.' on stderr: %r" % err)
    check(read_file(case, "got.bin") == b"keep me", "the existing file changed")
    # No request went out: only the cancel sequence and a last CAN.
    seen = os.read(watcher, 4096)
    check(seen == CANCEL_SEQUENCE + bytes([CAN]), "the peer saw %r" % seen)


def missing_file_before_line(case):
    data_file(case, "here.bin", 10, 5)
    # The line does not exist: had it been opened first, the run would end with 18.
    tollan = case.tollan("send", "-p", "xmodem", "-l", case.path("no-such-tty"), "here.bin",
                         "not-here.bin")
    out, err = expect_status(case.finish(tollan), 11, "tollan with a missing file")
    check("not-here.bin" in err and "Unable to open file." in err, "stderr: %r" % err)
    check(out == "", "stdout: %r" % out)


def peer_cancel(case):
    # rx is interrupted mid-file and cancels; tollan ends with "Cancelled by remote." The sender
    # discards what waits behind a reply, so the cancel must not arrive together with an ACK:
    # the relay lets two blocks through, and rx is interrupted once tollan, having read the
    # second ACK, has sent the third block (which the relay keeps from rx).
    line, inner_left = case.pty_pair("left")
    inner_right, peer = case.pty_pair("right")
    relay = case.relay(inner_left, inner_right)
    relay.let_through("left", 2 * 133)
    data_file(case, "source.bin", 128 * 40, 6)
    tollan = case.tollan("send", "-p", "xmodem", "-l", line, "source.bin")
    case.wait_opened(tollan, line)
    rx = case.start(["rx", "-c", "got.bin"], line=peer, preload=True)
    relay.wait_for(lambda seen: seen["right"].count(ACK) >= 2 and len(seen["left"]) >= 3 * 133,
                   "two ACKs from rx and the third block")
    rx.send_signal(signal.SIGINT)
    out, err = expect_status(case.finish(tollan), 16, "tollan cancelled by rx")
    check("Cancelled by remote." in err, "stderr: %r" % err)
    one_file_line(out, "source.bin", "Cancelled by remote.")
    relay.stop()


def usage_errors(case):
    for args in (["send"], ["fetch", "-l", "x"], ["send", "-l", "x", "--flow", "sideways", "f"],
                 ["receive", "-l", "x", "-p", "xmodem", "a", "b"], ["send", "-l", "x",
                                                                     "--bogus", "f"]):
        code, _, err = case.finish(case.tollan(*args))
        check(code == 64, "%r: exit %d" % (args, code))
        check("tollan send" in err, "%r: no usage on stderr" % (args,))
    # Combinations the component refuses are refused with its texts and codes.
    code, _, err = case.finish(case.tollan("send", "-l", "x", "-p", "xmodem", "--flow",
                                           "xonxoff", "f"))
    check(code == 1 and "XON/XOFF flow control is only\nallowed with Z-Modem protocol." in err,
          "xon/xoff with xmodem: %d %r" % (code, err))
    code, _, err = case.finish(case.tollan("receive", "-l", "x", "-p", "acknak", "--host", "f"))
    check(code == 2 and "Host mode is only allowed" in err, "host with acknak: %d %r" % (code, err))
    code, _, err = case.finish(case.tollan("send", "-l", "x", "-p", "xmodem"))
    check(code == 3 and "At least one filename" in err, "no file: %d %r" % (code, err))
    code, out, _ = case.finish(case.tollan("--help"))
    check(code == 0 and out.startswith("tollan send    [options] FILE..."), "--help: %d" % code)


def main():
    name = sys.argv[1] if len(sys.argv) > 1 else ""
    run = globals().get(name)
    if run is None or name.startswith("_") or not callable(run):
        print("unknown case %r" % name)
        return 2
    # Started in the background of a shell, this script may have inherited an ignored SIGINT,
    # which its children would inherit in turn: lrzsz would then not be interruptible.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    case = Case(name)
    try:
        run(case)
    except Failure as failure:
        print("FAILED %s: %s" % (name, failure))
        for relay in case.relays:
            for side in ("left", "right"):
                print("  from the %s: ...%s" % (side, bytes(relay.seen[side][-64:]).hex(" ")))
        return 1
    finally:
        case.close()
    print("passed %s" % name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
