' A host application in VBScript: creates the registered class, sets the properties given as
' Name=Value arguments (ShowErrors=N is TransferFiles' own), runs TransferFiles and prints what
' the host learns: "result=R attempted=A transferred=T logtofile=L", then "DONE". Each Run=1
' among the arguments runs TransferFiles there too, with the properties set so far.
Option Explicit
Dim q, i, arg, eq, name, value, showErrors, result

Sub RunTransferFiles()
    result = q.TransferFiles(0, showErrors)
    WScript.Echo "result=" & result & " attempted=" & q.Attempted & " transferred=" & _
        q.Transferred & " logtofile=" & q.LogToFile
End Sub

Set q = CreateObject("Tollan.Quill32")
showErrors = 0
For i = 0 To WScript.Arguments.Count - 1
    arg = WScript.Arguments(i)
    eq = InStr(arg, "=")
    name = Left(arg, eq - 1)
    value = Mid(arg, eq + 1)
    Select Case name
    Case "ShowErrors": showErrors = CLng(value)
    Case "Run": RunTransferFiles
    Case "ModemCmd": q.ModemCmd = value
    Case "ModemName": q.ModemName = value
    Case "Telephone": q.Telephone = value
    Case "FileList": q.FileList = value
    Case "DefaultDir": q.DefaultDir = value
    Case "LogFilename": q.LogFilename = value
    Case "MaxTitle": q.MaxTitle = value
    Case "MinTitle": q.MinTitle = value
    Case "AppendToLog": q.AppendToLog = CLng(value)
    Case "BaudRate": q.BaudRate = CLng(value)
    Case "HostMode": q.HostMode = CLng(value)
    Case "LogToFile": q.LogToFile = CLng(value)
    Case "LogToScreen": q.LogToScreen = CLng(value)
    Case "RecvTimeout": q.RecvTimeout = CLng(value)
    Case "SendTimeout": q.SendTimeout = CLng(value)
    Case "RunMinimized": q.RunMinimized = CLng(value)
    Case "Transfer": q.Transfer = CLng(value)
    Case "UseModem": q.UseModem = CLng(value)
    Case "Verbose": q.Verbose = CLng(value)
    Case "CrashRecovery": q.CrashRecovery = CLng(value)
    Case "FlowControl": q.FlowControl = CLng(value)
    Case "MaxErrors": q.MaxErrors = CLng(value)
    Case "Overwrite": q.Overwrite = CLng(value)
    Case "PathSwitch": q.PathSwitch = CLng(value)
    Case "Port": q.Port = CLng(value)
    Case "Protocol": q.Protocol = CLng(value)
    Case "WindowSize": q.WindowSize = CLng(value)
    Case Else
        WScript.Echo "unknown property " & name
        WScript.Quit 2
    End Select
Next
RunTransferFiles
WScript.Echo "DONE"
