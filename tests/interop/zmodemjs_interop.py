#!/usr/bin/env python3
"""The tollan command in a terminal against zmodem.js (0.1.10) in node, as a web terminal's page.
The page sends a ZSINIT first, subpackets of up to 8 KiB, an empty file as ZDATA, an empty end
subpacket and ZEOF; its abort is five CANs and backspaces.
"""

import itertools
import json
import os
import signal
import subprocess
import sys
import threading

from interop_support import GUARD, TOLLAN, Failure, check, check_files, main, random_bytes, \
    wait_until, write

PEER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zmodemjs_peer.js")


def session(case, tollan_args, page_args, interrupt=False):
    """tollan in a terminal, the page on its other end: tollan's exit status and stderr, and the
    page's report. With `interrupt` a Ctrl-C reaches tollan once data flows."""
    master, slave = os.openpty()
    tollan = case.start([TOLLAN, *tollan_args, "-l", "-"], line=os.ttyname(slave),
                        cwd=case.out if tollan_args[0] == "send" else case.into)
    os.close(slave)
    page = subprocess.Popen(["node", PEER, *page_args], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=case.dir)
    case.processes.append(page)
    moved = [0]

    def pump(source, target):  # until either end has gone
        try:
            while data := os.read(source, 65536):
                moved[0] += os.write(target, data)
        except OSError:
            pass
    threading.Thread(target=pump, args=(page.stdout.fileno(), master), daemon=True).start()
    to_page = threading.Thread(target=pump, args=(master, page.stdin.fileno()), daemon=True)
    to_page.start()
    if interrupt:
        wait_until(lambda: moved[0] > 100000, "data flowing", tollan)
        tollan.send_signal(signal.SIGINT)
    to_page.join(GUARD)  # the terminal's output is read when tollan has gone
    code, _, err = case.finish(tollan)
    os.close(master)
    text = page.communicate(timeout=GUARD)[1].decode()
    try:
        return code, err, json.loads(text.strip().split("\n")[-1])
    except (IndexError, ValueError):
        raise Failure(f"the page ended without its report: {text}")


def zmodemjs_sessions(case):
    """A batch each way, with times (the page's download keeps none), offers saying what is
    still to come, and nothing on the terminal afterwards; then a file cut by either side."""
    batch = {"empty": b"", "one": b"x", "escapes": bytes([0x18, 0x11, 0x13, 0x0D, 0x10, 0x8D,
                                                         0x91, 0x93, 0x90, 0x7F, 0xFF]) * 3000,
             "blocks": random_bytes(8192, 3), "large.bin": random_bytes(300001, 4)}
    for name, data in {**batch, "big": random_bytes(3 << 20, 5)}.items():
        write(case.path("out", name), data, 0x50000000)
    endings = {None: (0, ""), "abort": (16, "Cancelled by remote."),
               "ctrl-c": (6, "User cancelled.")}
    for ending, send in itertools.product(endings, (True, False)):
        names = ["big"] if ending else list(batch)
        page = ["download", case.into] if send else \
            ["upload", *(case.path("out", name) for name in names)]
        code, err, report = session(case, ["send", *names] if send else ["receive"],
                                    page + (["--abort", "200000"] if ending == "abort" else []),
                                    interrupt=ending == "ctrl-c")
        status, text = endings[ending]
        check(code == status and text in err and report["ended"] and
              (ending or report["error"] is None), f"{ending} {send}: {code} {err} {report}")
        if not ending:
            check(report["after"] == "", f"the terminal showed {report['after']!r}")
            check_files(case.into, batch, None if send else {name: 0x50000000 for name in batch})
            sizes = [len(data) for data in batch.values()]
            check(not send or [(f["files_remaining"], f["bytes_remaining"] or 0) for f in
                               report["files"]] == [(len(batch) - i, sum(sizes[i:]))
                                                    for i in range(len(sizes))], report["files"])
        case.empty_folder(case.into)


if __name__ == "__main__":
    sys.exit(main(globals()))
