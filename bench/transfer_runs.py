#!/usr/bin/env python3
"""Runs transfers between two programs over bench/line_simulator and reports their times.

    transfer_runs.py --tollan T --simulator S --keep-output K --case CASE [--runs N]
                     [--pairings sz-rz,tollan-rz,sz-tollan,tollan-tollan]
                     [--protocol kermit [--tollan-options "..."] [--ckermit-settings "a;b"]]

With --protocol kermit the programs are C-Kermit ("ckermit", on its own line) and tollan with
-p kermit; the pairings default to ckermit-ckermit,tollan-ckermit,ckermit-tollan,tollan-tollan.

Cases: "small" (one 2,000-byte file), "batch" (50 files of 2,000 bytes), "paced" (256 KiB of
random data on the clean paced line), "noisy5" and
"noisy4" (256 KiB of random data with one bit in 10^5 or 10^4 flipped on the line, both ways),
"clean" (1 MiB of random data), "unpaced" (200 files of 8 KiB over a socat pseudo-terminal pair,
which passes bytes on as fast as the programs take them; its share of the line is not given). Each run gets a fresh line (the noise seeded by the run's
number, so the pairings meet the same noise), the receiver starts first and listens, and the
time runs from the sender's start until both have ended. A run counts as complete when both
programs exited 0 and every file arrived byte for byte. Prints one line per run and then, per
pairing, the median time, the share of the line's rate it reached (payload bytes / time / the
line's bytes per second) and how many runs were complete. Each run's line also gives the
simulator's account of the sender's direction (bytes, idle time).
"""
import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

BPS = 115200
LINE_RATE = BPS / 10


def make_files(folder, case):
    rng = random.Random(7)
    if case == "small":
        sizes = [2000]
    elif case == "batch":
        sizes = [2000] * 50
    elif case == "unpaced":
        sizes = [8192] * 200
    elif case in ("paced", "noisy5", "noisy4"):
        sizes = [256 * 1024]
    else:
        sizes = [1024 * 1024]
    names = []
    for i, size in enumerate(sizes):
        name = f"f{i:03d}.bin"
        with open(os.path.join(folder, name), "wb") as out:
            out.write(rng.randbytes(size))
        names.append(name)
    return names


def wait_for_links(paths, deadline):
    while not all(os.path.exists(p) for p in paths):
        if time.monotonic() > deadline:
            raise RuntimeError("the line simulator made no line")
        time.sleep(0.01)


def open_fds(pid, device):
    """The numbers of the descriptors through which process `pid` has `device` open."""
    target = os.path.realpath(device)
    fds = set()
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                if os.path.realpath(f"/proc/{pid}/fd/{fd}", strict=True) == target:
                    fds.add(int(fd))
            except OSError:
                pass  # closed between the listing and the look-up
    except OSError:
        pass
    return fds


# System calls (x86_64) in which a program waits for input: read, poll, select, pselect6, ppoll,
# epoll_wait, epoll_pwait; and those in which its other threads may wait meanwhile: futex,
# rt_sigtimedwait, wait4.
INPUT_CALLS = {0, 7, 23, 270, 271, 232, 281}
OTHER_WAITS = {202, 128, 61}


def listening(pid, device):
    """Whether process `pid` has `device` open, one of its threads waits for input and the others
    wait too: the line is set up and what the sender writes now is read, not flushed away."""
    fds = open_fds(pid, device)
    reading = False
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            call = open(f"/proc/{pid}/task/{task}/syscall").read().split()
            number = int(call[0]) if call and call[0].isdigit() else -1
            if number == 0:
                reading = reading or int(call[1], 16) in fds
            elif number in INPUT_CALLS:
                reading = True
            elif number not in OTHER_WAITS:
                return False
    except OSError:
        return False
    return bool(fds) and reading


def command(args, program, role, line, names):
    """The command line of `program` ("sz", "rz", "tollan", "ckermit") in `role` ("send" or
    "receive") on `line`, and the device to give it as standard input and output (None: the
    program opens `line` itself)."""
    if program in ("sz", "rz"):
        return [program, "-q", *(names if role == "send" else [])], line
    if program == "tollan":
        options = ["-p", "kermit", *args.tollan_options] if args.protocol == "kermit" else []
        return [args.tollan, role, "-q", *options, "-l", line,
                *(names if role == "send" else [])], None
    # C-Kermit on its own line, binary, with the settings asked for.
    settings = ["set carrier-watch off", "set flow none", "set file type binary",
                "set file collision overwrite", "set file names literal", *args.ckermit_settings,
                ("msend " + " ".join(names)) if role == "send" else "receive",
                "exit \\v(status)"]
    return ["kermit", "-Y", "-H", "-B", "-q", "-l", line, "-b", str(BPS), "-C",
            ", ".join(settings)], None


def start(argv, cwd, tty, keep_output):
    env = dict(os.environ, LD_PRELOAD=keep_output)
    if tty is None:
        return subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    handle = open(tty, "r+b", buffering=0)
    process = subprocess.Popen(argv, cwd=cwd, env=env, stdin=handle, stdout=handle,
                               stderr=subprocess.DEVNULL)
    handle.close()
    return process


def one_run(args, pairing, names, out_dir, run, work):
    into = tempfile.mkdtemp(dir=work, prefix=f"{pairing}-{run}-")
    a, b = os.path.join(work, "ttyA"), os.path.join(work, "ttyB")
    for p in (a, b):
        if os.path.lexists(p):
            os.unlink(p)
    line_args = [args.simulator, "--bps", str(BPS), "--link-a", a, "--link-b", b]
    if args.case == "unpaced":
        line_args = ["socat", f"pty,raw,echo=0,link={a}", f"pty,raw,echo=0,link={b}"]
    if args.bit_errors:
        line_args += ["--bit-errors", str(args.bit_errors), "--seed", str(run + 1)]
    wire = open(os.path.join(work, "line.out"), "w+")
    line = subprocess.Popen(line_args, stdout=wire, stderr=subprocess.DEVNULL)
    processes = []
    try:
        wait_for_links((a, b), time.monotonic() + 10)
        sender_name, receiver_name = pairing.split("-")
        argv, tty = command(args, receiver_name, "receive", b, names)
        receiver = start(argv, into, tty, args.keep_output)
        processes.append(receiver)
        deadline = time.monotonic() + 10
        while not listening(receiver.pid, b):
            if time.monotonic() > deadline or receiver.poll() is not None:
                raise RuntimeError("the receiver never listened on its line")
            time.sleep(0.002)
        began = time.monotonic()
        argv, tty = command(args, sender_name, "send", a, names)
        sender = start(argv, out_dir, tty, args.keep_output)
        processes.append(sender)
        guard = began + args.guard
        ended = {}
        while len(ended) < 2:
            for role, process in (("sender", sender), ("receiver", receiver)):
                if role not in ended and process.poll() is not None:
                    ended[role] = time.monotonic()
            if time.monotonic() > guard:
                break
            time.sleep(0.002)
        complete = len(ended) == 2 and sender.returncode == 0 and receiver.returncode == 0
        for name in names:
            got = os.path.join(into, name)
            if not (os.path.exists(got) and
                    open(got, "rb").read() == open(os.path.join(out_dir, name), "rb").read()):
                complete = False
        wall = (max(ended.values()) - began) if len(ended) == 2 else args.guard
        result = wall, complete
    finally:
        for process in processes:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        line.terminate()
        line.wait()
        # The simulator's account of the sender's direction (socat gives none).
        wire.seek(0)
        account = next((w.strip() for w in wire if w.startswith("A->B ")), "")
        wire.close()
        shutil.rmtree(into, ignore_errors=True)
    return (*result, account)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tollan", required=True)
    parser.add_argument("--simulator", required=True)
    parser.add_argument("--keep-output", default="")
    parser.add_argument("--case", required=True,
                        choices=["small", "batch", "paced", "noisy5", "noisy4", "clean",
                                 "unpaced"])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--protocol", choices=["zmodem", "kermit"], default="zmodem")
    parser.add_argument("--pairings")
    parser.add_argument("--tollan-options", default="",
                        help="kermit: options for both tollan sides, as one string")
    parser.add_argument("--ckermit-settings", default="",
                        help="kermit: C-Kermit commands for both of its sides, ';'-separated")
    parser.add_argument("--guard", type=float, default=240.0)
    args = parser.parse_args()
    args.bit_errors = {"noisy5": 100000, "noisy4": 10000}.get(args.case, 0)
    if args.pairings is None:
        args.pairings = {"zmodem": "sz-rz,tollan-rz,sz-tollan,tollan-tollan",
                         "kermit": "ckermit-ckermit,tollan-ckermit,ckermit-tollan,"
                                   "tollan-tollan"}[args.protocol]
    args.tollan_options = args.tollan_options.split()
    args.ckermit_settings = [c for c in args.ckermit_settings.split(";") if c.strip()]

    work = tempfile.mkdtemp(prefix="tollan-runs-")
    try:
        out_dir = os.path.join(work, "out")
        os.mkdir(out_dir)
        names = make_files(out_dir, args.case)
        payload = sum(os.path.getsize(os.path.join(out_dir, n)) for n in names)
        results = {}
        for run in range(args.runs):
            for pairing in args.pairings.split(","):
                wall, complete, wire = one_run(args, pairing, names, out_dir, run, work)
                results.setdefault(pairing, []).append((wall, complete))
                print(f"runs: {args.case} {pairing} run {run + 1}: {wall:.3f} s"
                      f"{'' if complete else ' INCOMPLETE'}{'; ' + wire if wire else ''}",
                      flush=True)
        for pairing, runs in results.items():
            walls = [w for w, _ in runs]
            done = sum(1 for _, c in runs if c)
            median = statistics.median(walls)
            share = "-" if args.case == "unpaced" else f"{payload / median / LINE_RATE:.2f}"
            print(f"result: {args.case} {pairing} median {median:.3f} s, "
                  f"{share} of the line, {done} of {len(runs)} complete")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
