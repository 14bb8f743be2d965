r"""Sends files over a COM port with ZModem through the tollan component (Python, pywin32).

    python send.py                                  shows the settings a run would use
    python send.py 3 C:\out\report.txt C:\out\b.bin   sends the files over COM3

Needs pywin32 (pip install pywin32). The interpreter's bitness decides which DLL it loads: a
64-bit Python needs x64\tollan.dll registered, a 32-bit one x86\tollan.dll (see
registration.txt).
"""
import sys

import win32com.client

q = win32com.client.Dispatch("Tollan.Quill32")
q.Reset(2)  # ZModem with RTS/CTS flow control
print(f"Quill32: port COM{q.Port}, {q.BaudRate} bit/s, "
      f"protocol {('XModem', 'ZModem', 'ACK/NAK')[q.Protocol]}, "
      f"flow control {('none', 'XON/XOFF', 'RTS/CTS')[q.FlowControl]}")
if len(sys.argv) < 3:
    sys.exit(0)

q.Port = int(sys.argv[1])
q.FileList = ";".join(sys.argv[2:])
q.Transfer = 1  # send (0: receive into DefaultDir)
result = q.TransferFiles(0, 1) & 0xFFFF  # no file prompt; show errors
print(f"result {result}: {q.Transferred} of {q.Attempted} files sent")
sys.exit(result)
