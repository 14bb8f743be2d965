' Sends files over a COM port with ZModem through the tollan component (VBScript).
'
'   cscript //nologo send.vbs                                 shows the settings a run would use
'   cscript //nologo send.vbs 3 C:\out\report.txt C:\out\b.bin   sends the files over COM3
'
' The host's bitness decides which DLL it loads: on 64-bit Windows, cscript is 64-bit and
' %windir%\SysWOW64\cscript.exe is 32-bit (see registration.txt).
Option Explicit
Dim q, r, i, files, protocols, flows
protocols = Array("XModem", "ZModem", "ACK/NAK")
flows = Array("none", "XON/XOFF", "RTS/CTS")

Set q = CreateObject("Tollan.Quill32")
q.Reset 2                                   ' ZModem with RTS/CTS flow control
WScript.Echo "Quill32: port COM" & q.Port & ", " & q.BaudRate & " bit/s, protocol " & _
    protocols(q.Protocol) & ", flow control " & flows(q.FlowControl)
If WScript.Arguments.Count < 2 Then WScript.Quit 0

q.Port = CInt(WScript.Arguments(0))
files = WScript.Arguments(1)
For i = 2 To WScript.Arguments.Count - 1
    files = files & ";" & WScript.Arguments(i)
Next
q.FileList = files
q.Transfer = 1                              ' send (0: receive into DefaultDir)
r = q.TransferFiles(0, 1)                   ' no file prompt; show errors
WScript.Echo "result " & (r And &HFFFF) & ": " & q.Transferred & " of " & q.Attempted & _
    " files sent"
WScript.Quit r And &HFFFF
