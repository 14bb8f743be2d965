// A host application in JScript: creates the registered class, sets the properties given as
// Name=Value arguments (the component turns the text into the property's type; ShowErrors=N is
// TransferFiles' own), runs TransferFiles and prints what the host learns: "result=R attempted=A
// transferred=T", then "DONE". Each Run=1 among the arguments runs TransferFiles there too, with
// the properties set so far. An unknown name stops the script before it prints DONE.
var q = new ActiveXObject("Tollan.Quill32");
var showErrors = 0;

function runTransferFiles() {
    var result = q.TransferFiles(0, showErrors);
    WScript.Echo("result=" + result + " attempted=" + q.Attempted +
                 " transferred=" + q.Transferred);
}

for (var i = 0; i < WScript.Arguments.length; i++) {
    var arg = WScript.Arguments(i);
    var eq = arg.indexOf("=");
    var name = arg.substring(0, eq);
    var value = arg.substring(eq + 1);
    if (name == "ShowErrors") {
        showErrors = Number(value);
    } else if (name == "Run") {
        runTransferFiles();
    } else {
        q[name] = value;
    }
}
runTransferFiles();
WScript.Echo("DONE");
