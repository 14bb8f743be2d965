' Drives Tollan.Quill32 as a late-bound VBScript host does: created by ProgID, a property written
' and clamped, a telephone number from the listing in the registry, two objects sharing one set
' of settings, and Save, change, Load and Reset over the current user's registry.
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

q.DefaultDir = "C:\incoming" : q.MaxTitle = "not saved"
Same q.Save(), 0, "Save"
Same sh.RegRead(SettingsKey & "DefaultDir"), "C:\incoming", "saved DefaultDir"
q.Reset 3
Same q.WindowSize, 1024, "WindowSize after Reset 3"
q.MaxTitle = "other"
Same q.Load(), 0, "Load after Save"
Same q.BaudRate, 38400, "loaded BaudRate"
Same q.DefaultDir, "C:\incoming", "loaded DefaultDir"
Same q.WindowSize, 0, "loaded WindowSize"
Same q.MaxTitle, "other", "MaxTitle is not loaded"

Set q = Nothing
Finish
