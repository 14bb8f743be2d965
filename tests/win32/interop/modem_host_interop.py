#!/usr/bin/env python3
"""tollan.dll dialling through a modem in a JScript host under Wine. Two modems
are entered in the prefix's registry as Windows keeps them (the modem list under Services\\Modem,
the device instances, the driver keys with "Settings", "Init", "Hangup" and the "Default"
record), both on COM7, whose Linux end a simulated modem (tests/interop/modem_peer.py) plays.

Each case checks the exact bytes of every command the component sent, the status that stays in
the dialog and the results (the order of the statuses is modem_run_test's). Wine cannot report carrier detect on a pseudo-terminal, so the component never sees a
carrier there: a "CONNECT" line fails the connect (20) like "BUSY" does. The host shows errors:
after a failed connect the dialog stays with its Cancel button until pressed (without ShowErrors
the run would close it by itself); the next run in the same host opens the port again, which it
could not (18) had the failed run left it open.

Usage: modem_host_interop.py CASE, like host_interop.py.
"""

import os
import sys

from host_interop import HERE, LINE_PORT, ZMODEM, Host, prepare, wine, windows_path
sys.path.insert(0, os.path.join(HERE, "..", "..", "interop"))
from interop_support import check, main, write  # noqa: E402
from modem_peer import ModemPeer  # noqa: E402

CLASS = r"SYSTEM\CurrentControlSet\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318}"
# Display name: the driver key's number and the subkeys it lacks.
MODEMS = {"Tollan Test Modem": ("0000", ()), "Tollan Broken Modem": ("0001", ("Hangup",))}
STRINGS = {
    "": {"Reset": "ATZ<cr>", "UserInit": "&C1&D2", "AttachedTo": f"COM{LINE_PORT}"},
    "Init": {"1": "AT<cr>", "2": "AT&FE0V1<cr>"},
    "Hangup": {"1": "ATH<cr>"},
    # Only the values the default record below selects: another choice shows as a missing part.
    "Settings": {
        "Prefix": "AT", "Terminator": "<cr>", "DialPrefix": "D", "CallSetupFailTimer": "S7=<",
        "InactivityTimeout": "S30=<", "SpeakerVolume_Med": "L2", "SpeakerMode_Dial": "M1",
        "Compression_On": "%C1", "ErrorControl_On": r"\N3", "FlowControl_Soft": "&K4",
        "Modulation_Bell": "B1", "SpeedNegotiation_Off": "N0", "Blind_Off": "X4", "Tone": "T"},
}
# Call set-up 60 s, inactivity 10 s, medium volume, speaker while dialling; compression, error
# control, software flow, tone dialling.
DEFAULT = (60, 10, 1, 1, 0x1 | 0x2 | 0x20 | 0x100)

INIT = b"ATZ\rAT\rAT&FE0V1\r"
SETTINGS = b"ATS7=60S30=10L2M1%C1\\N3&K4B1N0X4\r"
USER_INIT = b"AT&C1&D2\r"
DIAL = b"ATDT5551234\r"
FAILED = "Failed to connect."


def register_modems(case):
    """Enters MODEMS in the registry (the host reads the list when it loads the DLL), and takes
    them out again when the case closes: the other cases of the session see no modems."""
    quote = lambda text: '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    lines = ["REGEDIT4", "", r"[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Modem\Enum]",
             f'"Count"=dword:{len(MODEMS):08x}']
    instance = "Root\\MODEM\\{}".format
    lines += [f'"{i}"=' + quote(instance(number)) for i, (number, _) in enumerate(MODEMS.values())]
    for name, (number, lacking) in MODEMS.items():
        driver = CLASS.rsplit("\\", 1)[1] + "\\" + number
        lines += ["", rf"[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\{instance(number)}]",
                  '"FriendlyName"=' + quote(name), '"Driver"=' + quote(driver)]
        for subkey, values in STRINGS.items():
            if subkey in lacking:
                continue
            lines += ["", "[HKEY_LOCAL_MACHINE\\" + "\\".join(filter(None, [CLASS, number, subkey]))
                      + "]"]
            lines += [f"{quote(value)}={quote(text)}" for value, text in values.items()]
            if not subkey:
                record = b"".join(field.to_bytes(4, "little") for field in DEFAULT)
                lines.append('"Default"=hex:' + ",".join(f"{b:02x}" for b in record))
    def import_lines(lines, name):
        write(case.path(name), "\r\n".join(lines + [""]).encode())
        wine("regedit", "/S", windows_path(case.path(name)))

    import_lines(lines, "modems.reg")
    keys = [line for line in lines if line.startswith("[")]
    case.cleanups.append(lambda: import_lines(
        ["REGEDIT4", ""] + ["[-" + key[1:] for key in reversed(keys)], "no-modems.reg"))


def run_host(case, peer, runs):
    """One host running TransferFiles once per entry of `runs`: settings for it, the bytes it is to
    receive, the status that stays and the button the dialog is left with ("Cancel" after a
    failed connect; "Close" once a failed initialisation has ended the run, half a second after
    its status). For each run waits for both, checks the bytes the modem received and presses the
    button. The results of all runs."""
    host = Host(case, runs[0]["settings"], show_errors=1,
                runs=[entry["settings"] for entry in runs[1:]])
    mark = 0
    for run, entry in enumerate(runs):
        status, button = entry.get("stays", FAILED), entry.get("button", "Cancel")
        shown = host.hand("wait-status", status, "wait-button", button, "print", 284, run=run)
        check(shown == {"284": status}, f"run {run + 1}'s dialog: {shown}")
        peer.wait_for(mark, entry["bytes"])
        mark = peer.mark()
        host.hand("click", 2, run=run)
    results = [outcome["result"] for outcome in host.outcomes()]
    peer.finish()
    return results


def modem_dial_and_missing_hangup(case):
    """Dialling: CONNECT (no carrier on the pseudo-terminal) fails the connect with 20, and the
    modem is initialised again; a ModemCmd is sent. A modem without its hang-up list
    fails its initialisation with 21 and "Initializing modem..." stays. (Answering, rings, which
    result line means what, silence, and Cancel while dialling are tested in
    tests/unit/transfer/modem_run_test.)"""
    line, end = case.pty_pair()
    prepare(line)
    register_modems(case)
    peer = ModemPeer(case.open_end(end))
    case.relays.append(peer)
    peer.configure(results={"ATD": ["CONNECT 33600"]})
    write(case.path("out", "notes.txt"), b"a note\r\n")
    results = run_host(case, peer, [
        {"settings": {"UseModem": 1, "Protocol": ZMODEM, "Transfer": 1, "ModemCmd": "M2L3",
                      "FileList": windows_path(case.path("out", "notes.txt")),
                      "Telephone": "5551234", "SendTimeout": 30},
         "bytes": INIT + SETTINGS + USER_INIT + b"ATM2L3\r" + DIAL + INIT},
        {"settings": {"ModemName": "Tollan Broken"}, "bytes": INIT,
         "stays": "Initializing modem...", "button": "Close"},
    ])
    check(results == [20, 21], f"TransferFiles gave {results}, wanted 20, 21")


if __name__ == "__main__":
    sys.exit(main({"modem_dial_and_missing_hangup": modem_dial_and_missing_hangup}))
