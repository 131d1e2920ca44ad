// A script-side client of VellumSetup.controller that the test steers one
// call at a time. It asks the test's HTTP endpoint (first argument: the
// base address) for command n, waiting there until the test has one, runs it
// and posts the outcome back:
//   GET  <base>/cmd/<n>     answers "<operation>\t<arg>\t<arg>", or nothing
//                           when there is none yet (then it asks again)
//   POST <base>/result/<n>  "ok <value>" or "err <hex> <description>"
// The host has no working sleep; a request that waits on the test's side is
// the only wait that does not spin. Operations: create, release, quit, and
// the controller's own methods by name. Numbers are passed as numbers,
// "true"/"false" as Booleans.
var base = WScript.Arguments(0);
var c = null;

function hex(n) { return "0x" + (n >>> 0).toString(16).toUpperCase(); }

function request(method, path, body) {
    var x = new ActiveXObject("WinHttp.WinHttpRequest.5.1");
    x.SetTimeouts(10000, 10000, 10000, 60000);
    x.Open(method, base + path, false);
    x.Send(body);
    return x.ResponseText;
}

function value(a) {
    if (a === "true") return true;
    if (a === "false") return false;
    if (/^-?[0-9]+$/.test(a)) return parseInt(a, 10);
    return a;
}

function call(op, args) {
    switch (op) {
    case "create": c = new ActiveXObject("VellumSetup.controller"); return "created";
    case "release": c = null; CollectGarbage(); return "released";
    case "Caption": return c.Caption;
    case "showWizard": return c.showWizard(args[0]);
    case "readyToInstall": return c.readyToInstall();
    case "userAborted": return c.userAborted();
    case "setMaxValue": return c.setMaxValue(args[0]);
    case "showProgress": return c.showProgress(args[0]);
    case "setProgress": return c.setProgress(args[0], args[1]);
    case "setInterval": return c.setInterval(args[0]);
    case "setTimerString": return c.setTimerString(args[0]);
    case "Confirm": return c.Confirm(args[0], args[1]);
    case "showComplete": return c.showComplete(args[0]);
    case "showWizardComplete": return c.showWizardComplete();
    case "showUptodate": return c.showUptodate();
    case "closeProgress": c.closeProgress(); return "returned";
    case "closeAll": c.closeAll(); return "returned";
    }
    throw new Error("unknown operation " + op);
}

for (var n = 1;; n++) {
    var line = "";
    while (line === "") {
        try { line = request("GET", "/cmd/" + n, ""); } catch (e) { line = ""; }
    }
    var parts = line.split("\t");
    var op = parts[0], args = [];
    for (var i = 1; i < parts.length; i++) args.push(value(parts[i]));
    if (op === "quit") { request("POST", "/result/" + n, "ok quit"); WScript.Quit(0); }
    var answer;
    try {
        answer = "ok " + call(op, args);
    } catch (e) {
        answer = "err " + hex(e.number) + " " + e.description;
    }
    request("POST", "/result/" + n, answer);
}
