' Setup from a scripting host: the script opens the sheet twice and a second process
' (setup_script_driver, started beside it) plays the user, who makes the same changes on three
' pages and presses Cancel the first time, OK the second; the script reads the settings back.
' Prints PASS when every check held.
Option Explicit

Dim failures : failures = 0

Sub Same(got, want, what)
    If got <> want Then
        WScript.Echo "FAIL: " & what & ": got [" & got & "], expected [" & want & "]"
        failures = failures + 1
    End If
End Sub

Dim q
Set q = CreateObject("Tollan.Quill32")
q.MaxTitle = "Script"
q.Protocol = 1 : q.FlowControl = 2

On Error Resume Next
q.Setup 0, 0, 0, 0
Same Hex(Err.Number), "80004005", "Setup without pages"
Err.Clear
On Error GoTo 0

' General, Transfer and Logging; the user cancels.
Same q.Setup(1, 1, 1, 0), 0, "Setup closed by Cancel"
Same q.Protocol, 1, "Protocol after Cancel"
Same q.FlowControl, 2, "FlowControl after Cancel"
Same q.BaudRate, 19200, "BaudRate after Cancel"
Same q.Overwrite, 7, "Overwrite after Cancel"
Same q.SendTimeout, 60, "SendTimeout after Cancel"
Same q.LogToScreen, 0, "LogToScreen after Cancel"

' The same changes, confirmed.
Same q.Setup(1, 1, 1, 0), 0, "Setup closed by OK"
Same q.Protocol, 0, "Protocol after OK"
Same q.FlowControl, 2, "FlowControl after OK (RTS/CTS kept under XModem)"
Same q.BaudRate, 115200, "BaudRate after OK"
Same q.Overwrite, 3, "Overwrite after OK"
Same q.SendTimeout, 120, "SendTimeout after OK"
Same q.LogToScreen, 1, "LogToScreen after OK"

Set q = Nothing
If failures > 0 Then
    WScript.Echo failures & " check(s) failed"
    WScript.Quit 1
End If
WScript.Echo "PASS"
