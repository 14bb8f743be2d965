' Ports, modems and Setup from a scripting host, on a machine whose registry lists the ports
' COM3 and COM1 (in that order) and two modems: "Courier V.Everything" on COM3 and "Courier
' 28800" on COM1, found through its device instance. Setup opens the sheet twice and a second
' process (setup_script_driver) plays the user, who makes the same changes on every page and
' presses Cancel the first time, OK the second; the script reads the settings back.
Dim q
Set q = CreateObject("Tollan.Quill32")

Same q.Port, 3, "first port"
Same q.ModemName, "Courier V.Everything", "first modem"
q.ModemName = "Courier 2" : Same q.ModemName, "Courier 28800", "ModemName Courier 2"

q.MaxTitle = "Script"
q.Protocol = 1 : q.FlowControl = 2 : q.ModemName = "Courier V"
On Error Resume Next
q.Setup 0, 0, 0, 0
Same Hex(Err.Number), "80004005", "Setup without pages"
Err.Clear
On Error GoTo 0

Sub Expect(when, protocol, baudRate, useModem, modemName, overwrite, sendTimeout, _
           logToScreen, telephone, modemCmd)
    Same q.Protocol, protocol, "Protocol " & when
    Same q.FlowControl, 2, "FlowControl " & when & " (RTS/CTS kept under XModem)"
    Same q.BaudRate, baudRate, "BaudRate " & when
    Same q.UseModem, useModem, "UseModem " & when
    Same q.ModemName, modemName, "ModemName " & when
    Same q.Overwrite, overwrite, "Overwrite " & when
    Same q.SendTimeout, sendTimeout, "SendTimeout " & when
    Same q.LogToScreen, logToScreen, "LogToScreen " & when
    Same q.Telephone, telephone, "Telephone " & when
    Same q.ModemCmd, modemCmd, "ModemCmd " & when
End Sub

Same q.Setup(1, 1, 1, 1), 0, "Setup closed by Cancel"
Expect "after Cancel", 1, 19200, 0, "Courier V.Everything", 7, 60, 0, "", ""
Same q.Setup(1, 1, 1, 1), 0, "Setup closed by OK"
Expect "after OK", 0, 115200, 1, "Courier 28800", 3, 120, 1, "555-0142", "ATM0"
' The listing entry the user filled in is what a "#" write of Telephone reads.
q.Telephone = "" : q.Telephone = "#0"
Same q.Telephone, "555-0142", "Telephone #0"

Set q = Nothing
Finish
