' Port and modem selection on a machine whose registry lists the ports COM3 and COM1 (in that
' order) and three modems: "Courier V.Everything" on COM3, "Courier Fax" without any port
' information (left out), and "Courier 28800" on COM1, found through its device instance.
' Prints PASS when every check held.
Option Explicit

Dim failures : failures = 0

Sub Same(got, want, what)
    If got <> want Then
        WScript.Echo "FAIL: " & what & ": got [" & got & "], expected [" & want & "]"
        failures = failures + 1
    End If
End Sub

Dim q, sh
Set sh = CreateObject("WScript.Shell")
Set q = CreateObject("Tollan.Quill32")

Same q.Port, 3, "first port"
q.Port = 1 : Same q.Port, 1, "Port 1"
Same q.ModemName, "Courier V.Everything", "first modem"
q.ModemName = "Courier F" : Same q.ModemName, "Courier V.Everything", "the modem without a port"
q.ModemName = "Courier 2" : Same q.ModemName, "Courier 28800", "ModemName Courier 2"
q.UseModem = 1 : Same q.UseModem, 1, "UseModem with modems"

Same q.Save(), 0, "Save"
Same sh.RegRead("HKCU\Software\Brindle\Tollan\ModemName"), "Courier 28800", "saved ModemName"
q.Reset 1
Same q.Load(), 0, "Load"
Same q.Port, 1, "loaded Port"
Same q.ModemName, "Courier 28800", "loaded ModemName"
Same q.UseModem, 1, "loaded UseModem"

Set q = Nothing
If failures > 0 Then
    WScript.Echo failures & " check(s) failed"
    WScript.Quit 1
End If
WScript.Echo "PASS"
