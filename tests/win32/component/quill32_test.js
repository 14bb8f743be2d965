// Drives Tollan.Quill32 from JScript, which can build the UTF-16 text that the component's other
// script hosts cannot: a file list beyond the ANSI code page, surrogate pairs included, comes
// back whole. Prints PASS when it did.
var q = new ActiveXObject("Tollan.Quill32.1");
var list = "C:\\in\\" + String.fromCharCode(0x20AC, 0x4E2D, 0xD83D, 0xDE00) + ".txt;D:\\b.txt;";
q.FileList = list;
if (q.FileList !== list) {
    WScript.Echo("FAIL: FileList: got [" + q.FileList + "], expected [" + list + "]");
    WScript.Quit(1);
}
WScript.Echo("PASS");
