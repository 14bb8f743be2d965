"""What the interoperability tests share: a folder per case, socat pseudo-terminal pairs with
programs on them, a relay that watches a line, and file checks. Cases wait for events; time
limits only guard against hangs. lrzsz and tollan discard pending output when they exit, which
on a pseudo-terminal loses what socat has not read yet: they run with keep_output.c preloaded.
"""

import contextlib
import os
import pathlib
import random
import resource
import shutil
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
KEEP_OUTPUT = os.environ["TOLLAN_KEEP_OUTPUT"]
GUARD = 90  # seconds: only a guard against a hang, never part of a verdict
CAN, BS = 0x18, 0x08
CANCEL_SEQUENCE = bytes([CAN] * 10 + [BS] * 10)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(condition, what, process=None):
    deadline = time.monotonic() + GUARD
    while not condition():
        check(process is None or process.poll() is None, f"{process and process.args[0]} ended "
              f"before {what}")
        check(time.monotonic() < deadline, "never saw " + what)
        time.sleep(0.01)


class Case:
    """A case's folder, pairs and processes, gone afterwards. Files go from "out" to "in"."""

    def __init__(self, name):
        self.dir = tempfile.mkdtemp(prefix=f"tollan-interop-{name}-")
        self.out, self.into = self.path("out"), self.path("in")
        os.mkdir(self.out)
        os.mkdir(self.into)
        self.processes, self.fds, self.relays, self.pairs = [], [], [], {}
        self.cleanups = []

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def pty_pair(self, name="tty"):
        ends = self.path(name + "A"), self.path(name + "B")
        socat = subprocess.Popen(["socat"] + [f"pty,raw,echo=0,link={end}" for end in ends],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        self.processes.append(socat)
        self.pairs[name] = socat
        wait_until(lambda: all(os.path.exists(end) for end in ends), "socat's pair", socat)
        return ends

    def cut(self):
        socat = self.pairs.pop("tty")
        socat.terminate()
        socat.wait()

    def open_end(self, path):
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(fd, termios.TCSANOW)  # TCSANOW: keep what is already waiting
        self.fds.append(fd)
        return fd

    def start(self, args, line=None, cwd=None, limit=None):
        """Starts a program with keep_output.c preloaded, `line` as its stdin and stdout, and
        files it writes limited to `limit` bytes (a write beyond fails as on a full disk)."""
        env = dict(os.environ, LD_PRELOAD=KEEP_OUTPUT)
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
        end = open(line, "r+b", buffering=0) if line else None
        process = subprocess.Popen(args, env=env, cwd=cwd or self.dir, stderr=subprocess.PIPE,
                                   stdin=end or subprocess.DEVNULL, stdout=end or subprocess.PIPE,
                                   encoding="utf-8", errors="replace",
                                   preexec_fn=limit and (lambda: limit_files(limit)))
        if end:
            end.close()
        self.processes.append(process)
        return process

    def tollan(self, *args, cwd=None):
        return self.start([TOLLAN, *args], cwd=cwd)

    def wait_opened(self, process, path):
        device, fds = os.path.realpath(path), f"/proc/{process.pid}/fd"

        def is_device(fd):
            try:  # an fd closed since the listing is not the device
                return os.readlink(os.path.join(fds, fd)) == device
            except OSError:
                return False

        def opened():
            try:
                return any(is_device(fd) for fd in os.listdir(fds))
            except OSError:  # the process has just ended: wait_until reports it
                return False
        wait_until(opened, f"{path} opened", process)

    def finish(self, process):
        try:
            out, err = process.communicate(timeout=GUARD)
        except subprocess.TimeoutExpired:
            raise Failure(f"{process.args[0]} did not end")
        return process.returncode, out or "", err or ""

    def expect(self, process, status, what):
        code, out, err = self.finish(process)
        check(code == status, f"{what}: exit {code}, wanted {status}\nstdout: {out}\n"
              f"stderr: {err}")
        return out, err

    def against(self, tollan_args, peer_args, tollan_cwd=None, peer_cwd=None, stdio=False,
                limit=None):
        """tollan on a new pair, then the peer: a sender discards what waits when it starts."""
        line, peer = self.pty_pair()
        tollan = self.start([TOLLAN, *tollan_args, "-l", "-" if stdio else line],
                            line=line if stdio else None, cwd=tollan_cwd, limit=limit)
        self.wait_opened(tollan, line)
        return tollan, self.start(peer_args, line=peer, cwd=peer_cwd)

    def both_succeed(self, tollan, peer):
        """Both are to succeed: tollan's file lines (stderr when stdout is the line)."""
        out, err = self.expect(tollan, 0, "tollan")
        self.expect(peer, 0, peer.args[0])
        return out or err

    def empty_folder(self, folder):
        shutil.rmtree(folder)
        os.mkdir(folder)

    def relay(self, left, right):
        self.relays.append(Relay(self.open_end(left), self.open_end(right)))
        return self.relays[-1]

    def close(self):
        for cleanup in self.cleanups:
            cleanup()
        for relay in self.relays:
            relay.stop()
        for process in reversed(self.processes):
            process.kill()  # nothing when it has been waited for
            with contextlib.suppress(subprocess.TimeoutExpired, ValueError):
                process.communicate(timeout=GUARD)
        for fd in self.fds:
            os.close(fd)
        shutil.rmtree(self.dir)


class Relay:
    """Forwards bytes between two ends, keeping what came from each side."""

    def __init__(self, left_fd, right_fd):
        self.fds = {"left": left_fd, "right": right_fd}
        self.seen = {"left": bytearray(), "right": bytearray()}
        self.stopping = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopping:
            readable, _, _ = select.select(list(self.fds.values()), [], [], 0.05)
            for side, fd in self.fds.items():
                try:
                    data = os.read(fd, 4096) if fd in readable else b""
                except OSError:
                    continue
                other = self.fds["right" if side == "left" else "left"]
                write_all(other, data)
                self.seen[side] += data

    def wait_for(self, predicate, what):
        wait_until(lambda: predicate(self.seen), what)

    def stop(self):
        self.stopping = True
        self.thread.join()


def limit_files(size):
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


def write_all(fd, data):
    while data:
        try:
            data = data[os.write(fd, data):]
        except BlockingIOError:
            select.select([], [fd], [], 0.05)
        except OSError:
            return


def read_until(fd, done, what, process=None):
    seen = bytearray()

    def arrived():
        if select.select([fd], [], [], 0.05)[0]:
            try:
                seen.extend(os.read(fd, 4096))
            except BlockingIOError:
                pass
        return done(seen)
    wait_until(arrived, what, process)
    return bytes(seen)


def random_bytes(size, seed):
    return random.Random(seed).randbytes(size)


def wait_for_size(path, size):
    def reached():
        try:  # a file that is not there yet, or no longer, has not reached it
            return os.path.getsize(path) >= size
        except OSError:
            return False
    wait_until(reached, f"{path} reach {size} bytes")


def write(path, data, mtime=None):
    pathlib.Path(path).write_bytes(data)
    if mtime is not None:
        os.utime(path, (mtime, mtime))
    return data


def read(path):
    return pathlib.Path(path).read_bytes()


def check_files(folder, files, times=None):
    for name, data in files.items():
        path = os.path.join(folder, name)
        check(os.path.exists(path), f"{name} did not arrive")
        check(read(path) == data, f"{name} differs ({os.path.getsize(path)} of {len(data)} bytes)")
        if times is not None:
            got = int(os.path.getmtime(path))
            check(got == times[name], f"{name}: time {got}, expected {times[name]}")


def file_lines(text):
    """The command's file lines without its messages: (name, status), from the log's columns."""
    return [(line[:40].rstrip(), line[41:71].rstrip()) for line in text.splitlines()
            if line.strip() and not line.startswith("tollan: ")]


def main(cases):
    name = sys.argv[1]
    # An ignored SIGINT inherited from a shell's background would pass on to the children.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    case = Case(name)
    try:
        cases[name](case)
    except Failure as failure:
        print(f"FAILED {name}: {failure}")
        return 1
    finally:
        case.close()
    print(f"passed {name}")
    return 0
