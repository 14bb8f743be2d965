// Drives Tollan.Quill32 from JScript: methods called for their return value, and UTF-16 file
// lists beyond the ANSI code page. Prints PASS when every check held.
var failures = 0;

function same(got, want, what) {
    if (got !== want) {
        WScript.Echo("FAIL: " + what + ": got [" + got + "], expected [" + want + "]");
        failures++;
    }
}

var q = new ActiveXObject("Tollan.Quill32.1");
q.BaudRate = 57600;
same(q.Save(), 0, "Save");
q.Reset(2);
same(q.FlowControl, 2, "FlowControl after Reset 2");
same(q.Load(), 0, "Load after Save");
same(q.BaudRate, 57600, "loaded BaudRate");

var list = "C:\\in\\" + String.fromCharCode(0x20AC, 0x4E2D, 0xD83D, 0xDE00) + ".txt;D:\\b.txt;";
q.FileList = list;
same(q.FileList, list, "FileList");

q = null;
if (failures > 0) {
    WScript.Echo(failures + " check(s) failed");
    WScript.Quit(1);
}
WScript.Echo("PASS");
