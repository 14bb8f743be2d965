// A host application in JScript: as transfer_host.vbs.
var q = new ActiveXObject("Tollan.Quill32");
var texts = { FileList: 1, DefaultDir: 1, LogFilename: 1, MaxTitle: 1, MinTitle: 1 };
var showErrors = 0;
for (var i = 0; i < WScript.Arguments.length; i++) {
    var arg = WScript.Arguments(i);
    var eq = arg.indexOf("=");
    var name = arg.substring(0, eq);
    var value = arg.substring(eq + 1);
    if (name == "ShowErrors") {
        showErrors = parseInt(value, 10);
    } else if (texts[name]) {
        q[name] = value;
    } else {
        q[name] = parseInt(value, 10);
    }
}
var result = q.TransferFiles(0, showErrors);
WScript.Echo("result=" + result + " attempted=" + q.Attempted + " transferred=" + q.Transferred +
             " logtofile=" + q.LogToFile);
WScript.Echo("DONE");
