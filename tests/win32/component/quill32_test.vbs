' Drives Tollan.Quill32 as a late-bound VBScript host does: created by ProgID, a property written
' and clamped, a telephone number from the listing in the registry, two objects sharing one set
' of settings, and every property written and read, then Save, Reset and Load over the current
' user's registry. (What each Reset type sets is tested in tests/unit/settings.) Same compares
' and counts the failures, Listed joins values for one comparison of several; the end prints the
' verdict the driver requires.
Option Explicit
Dim failures : failures = 0

Sub Same(got, want, what)
    If got <> want Then
        WScript.Echo "FAIL: " & what & ": got [" & got & "], expected [" & want & "]"
        failures = failures + 1
    End If
End Sub

Function Listed(values)
    Dim v
    Listed = ""
    For Each v In values
        Listed = Listed & " " & v
    Next
End Function

' component_test.sh names the width of host it means ("x86" or "AMD64") as the first argument.
If WScript.Arguments.Count > 0 Then
    Same CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE"), _
        WScript.Arguments(0), "the host's processor"
End If

Const SettingsKey = "HKCU\Software\Brindle\Tollan\"

Dim q, q2, sh
Set sh = CreateObject("WScript.Shell")
Set q = CreateObject("Tollan.Quill32")

Same q.Load(), -1, "Load with nothing saved"
q.BaudRate = 100000 : Same q.BaudRate, 57600, "BaudRate 100000"
q.MinTitle = "Bericht " & Chr(220) & "bertragung"
Same q.MinTitle, "Bericht " & Chr(220) & "bertragung", "MinTitle with an accented letter"

sh.RegWrite SettingsKey & "Telephone\3.Phone", "555-0103", "REG_SZ"
q.Telephone = "#3" : Same q.Telephone, "555-0103", "Telephone #3"

' All objects share one set of settings, and a new object resets it.
Set q2 = CreateObject("Tollan.Quill32.1")
Same q.BaudRate, 19200, "BaudRate after a second object was created"
q2.BaudRate = 38400
Same q.BaudRate, 38400, "BaudRate set through the other object"
Set q2 = Nothing

' Every other writable property: those not saved read back what was written, the others come
' back from Load.
q.AppendToLog = 1 : q.BaudRate = 115200 : q.CrashRecovery = 3 : q.FlowControl = 1
q.LogFilename = "C:\l.txt" : q.LogToFile = 1 : q.LogToScreen = 1 : q.MaxErrors = 7
q.ModemCmd = "ATM0" : q.Overwrite = 5 : q.PathSwitch = 2 : q.Protocol = 2 : q.RecvTimeout = 45
q.SendTimeout = 30 : q.WindowSize = 2048 : q.FileList = "a.txt;b.txt" : q.HostMode = 1
q.RunMinimized = 1 : q.Transfer = 1 : q.Verbose = 1 : q.DefaultDir = "C:\incoming"
q.MaxTitle = "not saved"
Same Listed(Array(q.FileList, q.HostMode, q.RunMinimized, q.Transfer, q.Verbose)), _
    " a.txt;b.txt 1 1 1 1", "the other settings as written"
Same q.Save(), 0, "Save of every setting"
q.Reset 1 : q.MaxTitle = "other"
Same q.Load(), 0, "Load of every setting"
Same Listed(Array(q.AppendToLog, q.BaudRate, q.CrashRecovery, q.FlowControl, q.LogFilename, _
    q.LogToFile, q.LogToScreen, q.MaxErrors, q.ModemCmd, q.Overwrite, q.PathSwitch, q.Protocol, _
    q.RecvTimeout, q.SendTimeout, q.WindowSize, q.DefaultDir)), _
    " 1 115200 3 1 C:\l.txt 1 1 7 ATM0 5 2 2 45 30 2048 C:\incoming", "the loaded settings"
Same q.MaxTitle, "other", "MaxTitle is not loaded"

Set q = Nothing
If failures > 0 Then
    WScript.Echo failures & " check(s) failed"
    WScript.Quit 1
End If
WScript.Echo "PASS"
