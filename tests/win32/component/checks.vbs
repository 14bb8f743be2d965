' What every VBScript test here shares; component_test.sh puts it in front of the test. Same
' compares and counts the failures, Listed joins values for one comparison of several, Finish
' prints the verdict the driver requires.
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

' The driver names the width of host it means ("x86" or "AMD64") as the first argument.
If WScript.Arguments.Count > 0 Then
    Same CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE"), _
        WScript.Arguments(0), "the host's processor"
End If

Sub Finish()
    If failures > 0 Then
        WScript.Echo failures & " check(s) failed"
        WScript.Quit 1
    End If
    WScript.Echo "PASS"
End Sub
