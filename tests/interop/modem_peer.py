"""A Hayes modem as the program on the other end of a line sees it, played on a pseudo-terminal
end: it echoes what it gets, answers "OK" to every command line starting with "AT", and answers
the commands a test scripts (a dial, "ATS0=1") with result lines. Everything it received is kept.

A script is a list of steps run in order on the modem's thread: a text is sent as a result line
("\\r\\n" TEXT "\\r\\n"), a number is a pause in seconds, a callable is called -- a test passes one
that waits for the program to show a status, so that answers follow what the program shows
without races. A gate is a script run before a command's answer. A case stops it with its
relays (Case.relays), before its ends are closed. Once a call is "connected", the modem may
bridge the line to a program (bridge()) until the escape.
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

    def configure(self, gates=None, results=None):
        """What the modem does from now on. `gates` and `results` map the start of a command
        line to a script: a gate runs once, before the answer of the first such command; a
        result script replaces the "OK" of every such command."""
        self.gates, self.results = dict(gates or {}), dict(results or {})

    def mark(self):
        """Where the bytes received from now on start."""
        return len(self.received)

    def wait_for(self, mark, expected):
        """Waits until as many bytes as `expected` came after `mark`; checks they are those."""
        wait_until(lambda: len(self.received) - mark >= len(expected), f"the modem's {expected!r}")
        got = bytes(self.received[mark:])
        check(got == expected, f"the modem got {got!r}, wanted {expected!r}")

    @property
    def seen(self):
        """What came from the line, for a failed case's report."""
        return {"line": self.received}

    def stop(self):
        if not self.stopping:
            self.stopping = True
            self.thread.join()

    def finish(self):
        """Stops the modem; checks that every step of its scripts went as planned."""
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
            if self.online is not None:
                self.carry(data)
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
        """Connects the line to `program` (a process with stdin and stdout pipes): from now on
        bytes cross unchanged, until the program has ended and "+++" arrives; then the modem
        answers "OK" and takes commands again."""
        def pump():
            while data := os.read(program.stdout.fileno(), 4096):
                write_all(self.fd, data)
        self.escape.clear()
        self.online = program
        threading.Thread(target=pump, daemon=True).start()

    def carry(self, data):
        program = self.online
        if program.poll() is None:
            try:
                os.write(program.stdin.fileno(), data)
            except OSError:
                pass
            return
        self.escape += data
        if b"+++" in self.escape:
            self.online = None
            self.play(["OK"])

    def command(self, text):
        if not text[:2].upper() == "AT":
            return
        gate = next((key for key in self.gates if text.startswith(key)), None)
        result = next((steps for key, steps in self.results.items() if text.startswith(key)), None)
        self.play(self.gates.pop(gate) if gate is not None else [])
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
