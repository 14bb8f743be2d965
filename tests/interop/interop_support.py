"""What the interoperability tests share: a folder per case, socat pseudo-terminal pairs, the
tollan command and lrzsz's programs on them, a relay that watches a line, and file checks. Each
script runs the case named on its command line (SCRIPT.py CASE), with the command and the shim
that TOLLAN and TOLLAN_KEEP_OUTPUT name.

Nothing waits for a fixed time to decide an outcome: cases wait for events (a device opened,
bytes seen, a file grown, a process ended); time limits are only a guard against hangs.

Facts about lrzsz (0.12.21rc) found by trying, which the cases rely on:
- Its programs discard their pending output (tcflush) when they exit. A pseudo-terminal has no
  transmit queue, so that throws away what socat has not read yet (rx's last ACK, a cancel).
  They run with a preloaded tcflush that keeps output (TOLLAN_KEEP_OUTPUT, keep_output.c), and
  so does tollan, whose port discards its queues when it closes.
- Stopped with SIGTERM, sz and rz send ten CAN and ten backspaces and exit.
"""

import os
import pathlib
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
    """The folder, the pairs and the processes of one case; all are gone afterwards. Files go
    out from the folder "out" and arrive in "in"."""

    def __init__(self, name):
        self.dir = tempfile.mkdtemp(prefix=f"tollan-interop-{name}-")
        self.out, self.into = self.path("out"), self.path("in")
        os.mkdir(self.out)
        os.mkdir(self.into)
        self.processes, self.fds, self.relays, self.pairs = [], [], [], {}
        self.cleanups = []  # called first when the case closes

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def pty_pair(self, name="tty"):
        """A socat pseudo-terminal pair: the paths of its two ends."""
        ends = self.path(name + "A"), self.path(name + "B")
        socat = subprocess.Popen(["socat"] + [f"pty,raw,echo=0,link={end}" for end in ends],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        self.processes.append(socat)
        self.pairs[name] = socat
        wait_until(lambda: all(os.path.exists(end) for end in ends), "socat's pair", socat)
        return ends

    def cut(self, name="tty"):
        """Cuts the line: the pair is gone (socat takes its links along), the name free."""
        socat = self.pairs.pop(name)
        socat.terminate()
        socat.wait()

    def open_end(self, path):
        """Opens a pair's end raw and without blocking; closed with the case."""
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(fd, termios.TCSANOW)  # TCSANOW: keep what is already waiting
        self.fds.append(fd)
        return fd

    def start(self, args, line=None, cwd=None):
        """Starts a program with the shim that keeps output; lrzsz's programs get the line as
        stdin and stdout. The sanitizer runtime tolerates the preloaded library coming first."""
        env = dict(os.environ)
        if KEEP_OUTPUT:
            env["LD_PRELOAD"] = KEEP_OUTPUT
            env["ASAN_OPTIONS"] = ":".join(
                filter(None, [env.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
        end = open(line, "r+b", buffering=0) if line else None
        process = subprocess.Popen(args, env=env, cwd=cwd or self.dir,
                                   stdin=end or subprocess.DEVNULL, stdout=end or subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        if end:
            end.close()
        self.processes.append(process)
        return process

    def tollan(self, *args, cwd=None):
        return self.start([TOLLAN, *args], cwd=cwd)

    def wait_opened(self, process, path):
        """Waits until `process` has the device at `path` open."""
        device, fd_dir = os.path.realpath(path), f"/proc/{process.pid}/fd"

        def opened():
            try:
                return any(os.path.realpath(os.path.join(fd_dir, fd)) == device
                           for fd in os.listdir(fd_dir))
            except OSError:
                return False
        wait_until(opened, f"{path} opened", process)

    def finish(self, process):
        """Waits for a program: its exit status, stdout and stderr as text."""
        try:
            out, err = process.communicate(timeout=GUARD)
        except subprocess.TimeoutExpired:
            raise Failure(f"{process.args[0]} did not end")
        decode = lambda data: (data or b"").decode("utf-8", "replace")
        return process.returncode, decode(out), decode(err)

    def expect(self, process, status, what):
        """Waits for a program that is to end with `status`: its stdout and stderr."""
        code, out, err = self.finish(process)
        check(code == status, f"{what}: exit {code}, wanted {status}\nstdout: {out}\n"
              f"stderr: {err}")
        return out, err

    def against(self, tollan_args, peer_args, tollan_cwd=None, peer_cwd=None, stdio=False):
        """tollan on one end of a new pair (with `stdio`, as its standard input and output, the
        way sz and rz run in a remote shell), the peer program on the other once tollan has its
        end open (a sender discards what waits on the line when it starts)."""
        line, peer = self.pty_pair()
        tollan = self.start([TOLLAN, *tollan_args, "-l", "-" if stdio else line],
                            line=line if stdio else None, cwd=tollan_cwd)
        self.wait_opened(tollan, line)
        return tollan, self.start(peer_args, line=peer, cwd=peer_cwd)

    def both_succeed(self, tollan, peer):
        """Waits for tollan and its peer, which are both to succeed: tollan's file lines (its
        stdout, or its stderr where stdout is the line)."""
        out, err = self.expect(tollan, 0, "tollan")
        self.expect(peer, 0, peer.args[0])
        return out or err

    def empty_folder(self, folder):
        subprocess.run(["rm", "-rf", folder])
        os.mkdir(folder)

    def relay(self, left, right, drop=lambda byte: False):
        self.relays.append(Relay(self.open_end(left), self.open_end(right), drop))
        return self.relays[-1]

    def relayed_line(self, name, drop=lambda byte: False):
        """Two pairs joined by a relay: tollan's end, the peer's end and the relay."""
        line, inner_left = self.pty_pair(name + "left")
        inner_right, peer = self.pty_pair(name + "right")
        return line, peer, self.relay(inner_left, inner_right, drop)

    def close(self):
        for cleanup in self.cleanups:
            cleanup()
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
    """Forwards bytes between two pair ends and keeps what came from each side ("left",
    "right"); `drop(byte)` keeps bytes from the left from reaching the right."""

    def __init__(self, left_fd, right_fd, drop):
        self.fds = {"left": left_fd, "right": right_fd}
        self.seen = {"left": bytearray(), "right": bytearray()}
        self.drop = drop
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
                write_all(other, bytes(b for b in data if side == "right" or not self.drop(b)))
                self.seen[side] += data

    def wait_for(self, predicate, what):
        """Waits until predicate(seen) holds for what has crossed so far."""
        wait_until(lambda: predicate(self.seen), what)

    def stop(self):
        if not self.stopping:
            self.stopping = True
            self.thread.join()


def write_all(fd, data):
    """Writes all of `data` to a non-blocking end, which takes small amounts at once."""
    while data:
        try:
            data = data[os.write(fd, data):]
        except BlockingIOError:
            select.select([], [fd], [], 0.05)
        except OSError:
            return


def read_until(fd, done, what, process=None):
    """Reads an end until done(what came so far) holds: what came."""
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
    wait_until(lambda: os.path.exists(path) and os.path.getsize(path) >= size,
               f"{path} reach {size} bytes")


def write(path, data, mtime=None):
    pathlib.Path(path).write_bytes(data)
    if mtime is not None:
        os.utime(path, (mtime, mtime))
    return data


def read(path):
    return pathlib.Path(path).read_bytes()


def check_files(folder, files, times=None):
    """Each of `files` (name: bytes) arrived in `folder` whole, with its time from `times`."""
    for name, data in files.items():
        path = os.path.join(folder, name)
        check(os.path.exists(path), f"{name} did not arrive")
        check(read(path) == data, f"{name} differs ({os.path.getsize(path)} of {len(data)} bytes)")
        if times is not None:
            got = int(os.path.getmtime(path))
            check(got == times[name], f"{name}: time {got}, expected {times[name]}")


def batch_files(case):
    """An empty file, one of whole 128-byte blocks, one of whole 1 KiB blocks, more than 1 MiB, a
    name with spaces and names with pattern characters, each with its own time, in "out": their
    contents and times. Beside them "ab.bin", which "a*.bin" as a pattern would take along."""
    files = {"empty": b"", "blocks-128": bytes(range(256)) * 3 + bytes(128),
             "blocks-1k": random_bytes(8192, 7), "large.bin": random_bytes((1 << 20) + 333, 5),
             "name with spaces.txt": b"line of text\r\n" * 300, "fw[v2].bin": b"fw" * 100,
             "a*.bin": b"a*" * 100}
    write(os.path.join(case.out, "ab.bin"), b"not in the batch")
    times = {name: 0x40000000 + 3600 * i for i, name in enumerate(files)}
    for name, data in files.items():
        write(os.path.join(case.out, name), data, times[name])
    return files, times


def file_lines(text):
    """The command's file lines, its messages ("tollan: ...") left out: (name, status), in the
    columns of the transfer log."""
    return [(line[:40].rstrip(), line[41:71].rstrip()) for line in text.splitlines()
            if line.strip() and not line.startswith("tollan: ")]


def main(cases):
    """Runs the case named on the command line (a function in `cases`, a script's globals()):
    exit status 0 when it passes."""
    name = sys.argv[1] if len(sys.argv) == 2 else ""
    if not callable(cases.get(name)):
        print(f"usage: {sys.argv[0]} CASE", file=sys.stderr)
        return 2
    # Started in the background of a shell, this script may have inherited an ignored SIGINT,
    # which its children would inherit in turn.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    case = Case(name)
    try:
        cases[name](case)
    except Failure as failure:
        print(f"FAILED {name}: {failure}")
        for relay in case.relays:
            for side, seen in relay.seen.items():
                print(f"  from the {side}: ...{bytes(seen[-64:]).hex(' ')}")
        return 1
    finally:
        case.close()
    print(f"passed {name}")
    return 0
