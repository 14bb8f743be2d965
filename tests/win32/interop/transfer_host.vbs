' A host application in VBScript: creates the registered class, sets the properties given as
' Name=Value arguments (ShowErrors=N is TransferFiles' own), runs TransferFiles and prints what
' the host learns: "result=R attempted=A transferred=T logtofile=L", then "DONE".
Option Explicit
Dim q, i, arg, eq, name, value, showErrors, result
Set q = CreateObject("Tollan.Quill32")
showErrors = 0
For i = 0 To WScript.Arguments.Count - 1
    arg = WScript.Arguments(i)
    eq = InStr(arg, "=")
    name = Left(arg, eq - 1)
    value = Mid(arg, eq + 1)
    Select Case name
    Case "ShowErrors"
        showErrors = CLng(value)
    Case "FileList", "DefaultDir", "LogFilename", "MaxTitle", "MinTitle"
        Execute "q." & name & " = value"
    Case Else
        Execute "q." & name & " = CLng(value)"
    End Select
Next
result = q.TransferFiles(0, showErrors)
WScript.Echo "result=" & result & " attempted=" & q.Attempted & " transferred=" & q.Transferred & _
    " logtofile=" & q.LogToFile
WScript.Echo "DONE"
