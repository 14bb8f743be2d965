' Port and modem selection on a machine whose registry lists the ports COM3 and COM1 (in that
' order) and three modems: "Courier V.Everything" on COM3, "Courier Fax" without any port
' information (left out), and "Courier 28800" on COM1, found through its device instance.
' Argument: the Windows path of tollan.dll as registered. Prints PASS when every check held.
Option Explicit

Const SettingsKey = "HKCU\Software\Brindle\Tollan\"

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

' Ports are positions in the list as the registry gave it.
Same q.Port, 3, "first port"
q.Port = 1 : Same q.Port, 1, "Port 1"
q.Port = 3 : Same q.Port, 3, "Port 3"
q.Port = 4 : Same q.Port, 3, "Port 4 is not there: the first port"
q.Port = 1

' Modems are selected by the beginning of their name; the first match wins.
Same q.ModemName, "Courier V.Everything", "first modem"
q.ModemName = "Courier 2" : Same q.ModemName, "Courier 28800", "ModemName Courier 2"
q.ModemName = "Courier" : Same q.ModemName, "Courier V.Everything", "ModemName Courier"
q.ModemName = "Courier F" : Same q.ModemName, "Courier V.Everything", "the modem without a port is not listed"
q.ModemName = "courier 2" : Same q.ModemName, "Courier V.Everything", "ModemName is case-sensitive"
q.ModemName = "Courier 28800" : Same q.ModemName, "Courier 28800", "ModemName in full"
q.UseModem = 1 : Same q.UseModem, 1, "UseModem with modems"

' Saved by number and name, loaded by lookup.
Same q.Save(), 0, "Save"
Same sh.RegRead(SettingsKey & "Port"), 1, "saved Port"
Same sh.RegRead(SettingsKey & "ModemName"), "Courier 28800", "saved ModemName"
Same sh.RegRead(SettingsKey & "UseModem"), 1, "saved UseModem"
q.Reset 1
Same q.Port, 3, "Port after Reset"
Same q.UseModem, 0, "UseModem after Reset"
Same q.Load(), 0, "Load"
Same q.Port, 1, "loaded Port"
Same q.ModemName, "Courier 28800", "loaded ModemName"
Same q.UseModem, 1, "loaded UseModem"

' Devices that have gone away since the settings were saved fall back to the first entry.
sh.RegWrite SettingsKey & "Port", 7, "REG_DWORD"
sh.RegWrite SettingsKey & "ModemName", "Sportster", "REG_SZ"
Same q.Load(), 0, "Load with vanished devices"
Same q.Port, 3, "vanished port"
Same q.ModemName, "Courier V.Everything", "vanished modem"

Set q = Nothing
If failures > 0 Then
    WScript.Echo failures & " check(s) failed"
    WScript.Quit 1
End If
WScript.Echo "PASS"
