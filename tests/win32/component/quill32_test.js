// Drives Tollan.Quill32 from JScript: methods called for their return value, the HRESULTs a
// script sees, UTF-16 file lists beyond the ANSI code page, and a Save/Load round trip.
// Argument: the Windows path of tollan.dll as registered. Prints PASS when every check held.
var failures = 0;

function same(got, want, what) {
    if (got !== want) {
        WScript.Echo("FAIL: " + what + ": got [" + got + "], expected [" + want + "]");
        failures++;
    }
}

// The HRESULT a call fails with, as an unsigned hexadecimal number; "none" when it succeeds.
function failureOf(call) {
    try {
        call();
        return "none";
    } catch (e) {
        return (e.number >>> 0).toString(16);
    }
}

var dll = WScript.Arguments(0);
var folder = dll.substring(0, dll.lastIndexOf("\\"));
var q = new ActiveXObject("Tollan.Quill32.1");

same(typeof q.BaudRate, "number", "type of BaudRate");
same(typeof q.Telephone, "string", "type of Telephone");
same(q.HelpFile.toLowerCase(), (folder + "\\tollan.hlp").toLowerCase(), "HelpFile");
same(q.Attempted, 0, "Attempted");

// Methods give their result as the call's value.
q.BaudRate = 57600;
same(q.Load(), -1, "Load with nothing saved");
same(q.BaudRate, 57600, "BaudRate after a failed Load");
same(q.Save(), 0, "Save");
q.BaudRate = 9600;
same(q.Load(), 0, "Load after Save");
same(q.BaudRate, 57600, "loaded BaudRate");

same(failureOf(function () { return q.TransferFiles(0, 1); }), "80004001", "TransferFiles");
same(failureOf(function () { return q.Setup(1, 0, 0, 0); }), "80004001", "Setup");
same(failureOf(function () { q.Reset(3); }), "none", "Reset");
same(q.Protocol, 1, "Protocol after Reset 3");
same(q.FlowControl, 1, "FlowControl after Reset 3");
same(q.WindowSize, 1024, "WindowSize after Reset 3");

// Numbers arriving as doubles or strings are converted by the type library, then clamped.
q.BaudRate = 38400.7;
same(q.BaudRate, 38400, "BaudRate from a double");
q.MaxErrors = "75";
same(q.MaxErrors, 50, "MaxErrors from a string");
q.WindowSize = -32768;
same(q.WindowSize, 0, "WindowSize -32768");

// The file list is UTF-16 throughout, including characters outside every ANSI code page.
var list = "C:\\in\\" + String.fromCharCode(0x20AC, 0x4E2D, 0xD83D, 0xDE00) + ".txt;D:\\b.txt;";
q.FileList = list;
same(q.FileList, list, "FileList");
same(q.FileList.length, list.length, "FileList length");
q.FileList = "";
same(q.FileList, "", "FileList emptied");

// Two objects, one set of settings.
var other = new ActiveXObject("Tollan.Quill32");
same(q.Protocol, 0, "Protocol after a second object was created");
other.Verbose = 1;
same(q.Verbose, 1, "Verbose set through the other object");
other = null;

q = null;
if (failures > 0) {
    WScript.Echo(failures + " check(s) failed");
    WScript.Quit(1);
}
WScript.Echo("PASS");
