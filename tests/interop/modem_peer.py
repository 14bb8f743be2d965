"""A Hayes modem on a pseudo-terminal end: it echoes and keeps what it gets and answers "OK" to
"AT" commands unless a script says otherwise. A script's steps: a text is sent as a result line,
a number is a pause in seconds, a callable is called. A case stops it with its relays.
"""

import os
import select
import threading
import time

from interop_support import check, wait_until, write_all


class ModemPeer:
    def __init__(self, fd):
        self.fd = fd
        self.received = bytearray()
        self.failures = []
        self.configure()
        self.stopping = False
        self.online = None  # the program the line is bridged to
        self.escape = bytearray()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def configure(self, results=None):
        """Scripts the results by a command's start."""
        self.results = dict(results or {})

    def mark(self):
        return len(self.received)

    def wait_for(self, mark, expected):
        wait_until(lambda: len(self.received) - mark >= len(expected), f"the modem's {expected!r}")
        got = bytes(self.received[mark:])
        check(got == expected, f"the modem got {got!r}, wanted {expected!r}")

    def stop(self):
        self.stopping = True
        self.thread.join()

    def finish(self):
        self.stop()
        check(not self.failures, "; ".join(map(str, self.failures)))

    def run(self):
        line = bytearray()
        while not self.stopping:
            if not select.select([self.fd], [], [], 0.05)[0]:
                continue
            try:
                data = os.read(self.fd, 4096)
            except OSError:
                continue
            if self.online is not None:  # bridged, until the program has ended and "+++" came
                if self.online.poll() is None:
                    write_all(self.online.stdin.fileno(), data)
                    continue
                self.escape += data
                if b"+++" in self.escape:
                    self.online = None
                    self.play(["OK"])
                continue
            self.received += data
            write_all(self.fd, data)
            for byte in data:
                if byte == 0x0D:
                    self.command(line.decode("latin-1"))
                    line.clear()
                elif byte != 0x0A:
                    line.append(byte)

    def bridge(self, program):
        def pump():
            while data := os.read(program.stdout.fileno(), 4096):
                write_all(self.fd, data)
        self.escape.clear()
        self.online = program
        threading.Thread(target=pump, daemon=True).start()

    def command(self, text):
        if not text[:2].upper() == "AT":
            return
        result = next((steps for key, steps in self.results.items() if text.startswith(key)), None)
        self.play(["OK"] if result is None else result)

    def play(self, steps):
        for step in steps:
            if isinstance(step, str):
                write_all(self.fd, b"\r\n" + step.encode() + b"\r\n")
            elif callable(step):
                try:
                    step()
                except Exception as failure:  # reported by stop()
                    self.failures.append(failure)
            else:
                time.sleep(step)
