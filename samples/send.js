// Sends files over a COM port with ZModem through the tollan component (JScript).
//
//   cscript //nologo send.js                                 shows the settings a run would use
//   cscript //nologo send.js 3 C:\out\report.txt C:\out\b.bin   sends the files over COM3
//
// The host's bitness decides which DLL it loads: on 64-bit Windows, cscript is 64-bit and
// %windir%\SysWOW64\cscript.exe is 32-bit (see registration.txt).
var q = new ActiveXObject("Tollan.Quill32");
q.Reset(2); // ZModem with RTS/CTS flow control
WScript.Echo("Quill32: port COM" + q.Port + ", " + q.BaudRate + " bit/s, protocol " +
             ["XModem", "ZModem", "ACK/NAK"][q.Protocol] + ", flow control " +
             ["none", "XON/XOFF", "RTS/CTS"][q.FlowControl]);
var args = WScript.Arguments;
if (args.length >= 2) {
    var files = [];
    for (var i = 1; i < args.length; i++) {
        files.push(args(i));
    }
    q.Port = parseInt(args(0), 10);
    q.FileList = files.join(";");
    q.Transfer = 1; // send (0: receive into DefaultDir)
    var r = q.TransferFiles(0, 1) & 0xFFFF; // no file prompt; show errors
    WScript.Echo("result " + r + ": " + q.Transferred + " of " + q.Attempted + " files sent");
    WScript.Quit(r);
}
