// The pure parts of the installation script, under the script host: run
// after every module but main.js (test_unit.py joins them).
var failures = 0, passed = 0;

function check(name, actual, expected) {
    if (actual === expected) {
        passed++;
    } else {
        failures++;
        WScript.Echo("FAIL " + name + ": got [" + actual + "], expected [" + expected + "]");
    }
}

function throwsWith(name, f, exitCode) {
    try {
        f();
    } catch (e) {
        check(name, e.vellumExit, exitCode);
        return;
    }
    check(name, "no failure", "a failure");
}

shell = new ActiveXObject("WScript.Shell");
fso = new ActiveXObject("Scripting.FileSystemObject");

// ---- the path rule: kept, normalised, refused ----
var kept = [["a.txt", "a.txt"], ["a\\b\\c.htm", "a\\b\\c.htm"], ["a/b", "a\\b"], ["a\\.\\b", "a\\b"],
            ["a\\\\b", "a\\b"], ["console.txt", "console.txt"], ["com10", "com10"], ["nul_x", "nul_x"],
            ["..a", "..a"], ["a..b", "a..b"], ["100% & ^ 'x'", "100% & ^ 'x'"],
            ["\u00e9t\u00e9\\\u65e5\u672c.htm", "\u00e9t\u00e9\\\u65e5\u672c.htm"]];
for (var i = 0; i < kept.length; i++) {
    check("kept " + kept[i][0], safeRelative(kept[i][0]), kept[i][1]);
}
var refused = ["", ".", "..", "a\\..\\b", "..\\..\\victim\\precious.txt", "\\abs", "/abs", "C:x", "C:\\x",
               "a:stream", "a\\b:c", "nul", "NUL.txt", "x\\con\\y", "com1", "lpt9.log", "con .txt",
               "conin$", "a.", "a ", "a\\b.\\c", "...", ". .", "*.txt", "a?b", "a\"b", "a<b", "a|b",
               "a\tb", "\\\\server\\share\\x"];
for (i = 0; i < refused.length; i++) {
    check("refused " + refused[i], safeRelative(refused[i]), null);
}
throwsWith("inside refuses a climbing name", function () { inside("C:\\Q", "..\\x"); }, EXIT_UNTRUSTED);
check("inside joins", inside("C:\\Q\\", "a/b"), "C:\\Q\\a\\b");

// ---- ancestors and absolute folders ----
check("ancestor", isAncestor("C:\\A", "C:\\A\\B"), true);
check("ancestor, case", isAncestor("c:\\a\\", "C:\\A\\B\\C"), true);
check("drive root ancestor", isAncestor("C:\\", "C:\\x"), true);
check("not itself", isAncestor("C:\\A\\B", "C:\\A\\B"), false);
check("not a sibling prefix", isAncestor("C:\\A", "C:\\AB\\C"), false);
check("not below", isAncestor("C:\\A\\B\\C", "C:\\A\\B"), false);
check("absolute", isAbsoluteFolder("C:\\Program Files\\Q"), true);
check("absolute UNC", isAbsoluteFolder("\\\\server\\share\\Q"), true);
check("relative", isAbsoluteFolder("Q\\x"), false);
check("absolute with ..", isAbsoluteFolder("C:\\a\\..\\b"), false);
check("absolute with device", isAbsoluteFolder("C:\\a\\aux"), false);
check("absolute with stream", isAbsoluteFolder("C:\\a\\b:s"), false);

// ---- the manifest: written, read back, checked ----
var m = { version: "3.0.6", cabinets: ["common.cab", "en-us_x.cab"],
          files: [{ name: "a\\b.htm", size: 12 }, { name: MANIFEST, size: 0 }],
          folders: ["a", MAINTENANCE], parents: ["C:\\Programs"] };
var parsed = parseManifest(manifestText(m));
check("round trip", manifestText(parsed), manifestText(m));
check("round trip is sound", checkManifest(parsed, "C:\\Programs\\Q"), "");
check("no trailing newline", parseManifest("version\t1\nfile\t3\tx").files.length, 1);
var hostile = [
    ["file\t11\t..\\..\\victim\\precious.txt", "not inside"],
    ["file\t11\tC:\\victim.txt", "not inside"],
    ["file\t11\tx::$DATA", "not inside"],
    ["file\t11\tx\\nul", "not inside"],
    ["folder\t..", "not inside"],
    ["folder\tC:\\Windows", "not inside"],
    ["parent\tC:\\Other", "not a folder above"],
    ["parent\tC:\\Programs\\Q", "not a folder above"],
    ["parent\tC:\\Programs\\Q\\sub", "not a folder above"],
    ["parent\tPrograms", "not a folder above"],
    ["parent\tC:\\Programs\\..\\Windows", "not a folder above"],
    ["cabinet\t..\\x.cab", "not a plain file name"],
    ["cabinet\tsub\\x.cab", "not a plain file name"],
    ["file\tlots\tx.txt", "cannot be read"],
    ["remove\tC:\\x", "cannot be read"]
];
for (i = 0; i < hostile.length; i++) {
    var problem = checkManifest(parseManifest(manifestText(m) + hostile[i][0] + "\r\n"), "C:\\Programs\\Q");
    check("hostile " + hostile[i][0], problem.indexOf(hostile[i][1]) >= 0, true);
}
check("no version", checkManifest(parseManifest("file\t1\tx\r\n"), "C:\\Q").indexOf("version") >= 0, true);

// ---- an earlier installation's listing, sorted by its manifest ----
var earlierM = { files: [{ name: "a\\b.htm", size: 1 }, { name: "x\\y\\z.htm", size: 1 }, { name: "top", size: 1 }],
                 folders: ["a", "x", "x\\y", "kept"] };
var listing = [["file", "top"], ["folder", "a"], ["folder", "kept"], ["folder", "mine"], ["file", "TOP2"],
               ["folder", "x"], ["file", "a\\B.HTM"], ["file", "a\\notes.txt"], ["folder", "a\\b.htm2"],
               ["file", "mine\\f"], ["folder", "x\\y"], ["link", "x\\y\\z.htm"], ["file", "hasOwnProperty"]];
var earlierEntries = [];
for (i = 0; i < listing.length; i++) {
    earlierEntries.push({ status: listing[i][0], size: 0, path: listing[i][1] });
}
var sorted = sortEarlier("C:\\P", earlierM, earlierEntries);
check("own files", sorted.ownFiles.join("|"), "C:\\P\\top|C:\\P\\a\\B.HTM");
check("the user's, parents first", sorted.users.join("|"), "C:\\P\\mine|C:\\P\\TOP2|C:\\P\\a\\notes.txt|" +
      "C:\\P\\a\\b.htm2|C:\\P\\mine\\f|C:\\P\\x\\y\\z.htm|C:\\P\\hasOwnProperty");
check("a link is the user's, whatever its name", sorted.linked && sorted.links["c:\\p\\x\\y\\z.htm"], true);
check("own folders, and those above its files", sorted.ownFolders.join("|"), "C:\\P\\a|C:\\P\\kept|C:\\P\\x|C:\\P\\x\\y");
check("every folder listed", sorted.folders.length, 6);
sorted = sortEarlier("C:\\P", null, earlierEntries);
check("without a manifest all is the user's", sorted.users.length, earlierEntries.length);
check("without a manifest nothing is its own", sorted.ownFiles.length, 0);

// ---- digests (known answers) ----
check("digest of nothing", textDigest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
check("digest of abc", textDigest("abc"), "13e228567e8249fce53337f25d7970de3bd68ab2653424c7b8f9fd05e33caedf");
var long = "";
for (i = 0; i < 1000; i++) {
    long += "x";
}
check("digest over many blocks", textDigest(long), "6f3a9a30ac2027bc425143a508057d9f9f0ad8483c4eb7577c9e4442f12ac0cf");
// Odd lengths end a word with half a character; 27, 28 and 32 characters
// fall on either side of where the length still fits the last block.
var vectors = [[27, "a", "02775515079023e754c66da00faa79c97c24aa400d7a99334a7d6dfe076731b7"],
               [28, "a", "ef5566d90cd5fe1e9a41a5e93167b170a18b2def250c9c378e7ca490ebd270ef"],
               [32, "a", "8a1c2fa5328458b7ac7da1f10af7bf3ca6815f2e8cf62452401871327a23054d"],
               [1001, "x", "3631dcc8b34315b12167ace27c619d7b94d552e3e0a239799bc86431e9fca791"]];
for (i = 0; i < vectors.length; i++) {
    var text = "";
    while (text.length < vectors[i][0]) {
        text += vectors[i][1];
    }
    check("digest of " + vectors[i][0] + " characters", textDigest(text), vectors[i][2]);
}
check("digest of high bytes and a surrogate pair", textDigest("\u00e9\u65e5\ud83d\ude00z"),
      "61546873569d43e0b6a93697c914c8f74725517774a0c57e5beb4308ae377b1a");
// Words with every high bit set: the rounds' sums grow largest.
var high = "";
for (i = 0; i < 200; i++) {
    high += String.fromCharCode(0xffff - i * 37 % 4096);
}
check("digest of high characters over several blocks", textDigest(high),
      "9a35a172b3c913bc76c4fad82806ca8866fdc80078fa0ac0eba1ab7b3fc971a2");
check("digest sees one character", textDigest(manifestText(m)) == textDigest(manifestText(m).replace("12", "13")), false);

// ---- versions ----
check("older", compareVersions("3.0.5", "3.0.6") < 0, true);
check("missing part is 0", compareVersions("3.0", "3.0.0"), 0);
check("numeric, not text", compareVersions("3.0.10", "3.0.9") > 0, true);
check("version line", parseVersionText("version=3.0.6\r\nother"), "3.0.6");
check("version, blanks", parseVersionText("version=3.1 \r\n"), "3.1");
check("no version", parseVersionText("version=3.x\r\n"), "");
check("empty version file", parseVersionText(""), "");

// ---- log escaping ----
check("log breaks", logSafe("a\r\nb\tc"), "a b c");
check("log unicode", logSafe("\u00e9\u65e5"), "\\u00e9\\u65e5");
check("log control", logSafe("a\u0001"), "a\\u0001");

// ---- lines and whole files (UTF-16 without a last line break) ----
check("split CRLF", splitLines("a\r\nb\r\n").join("|"), "a|b");
check("split LF and lone last", splitLines("a\nb").join("|"), "a|b");
var tmp = fso.GetSpecialFolder(2).Path + "\\vellum-unit-" + new Date().getTime() + ".txt";
var stream = fso.CreateTextFile(tmp, true, true);
stream.Write("version\t3.0.6\r\nfile\t1\t\u65e5\u672c.htm");
stream.Close();
var back = parseManifest(readText(tmp, -1));
fso.DeleteFile(tmp, true);
check("UTF-16 read whole", back.files.length == 1 && back.files[0].name == "\u65e5\u672c.htm", true);

// ---- uninstall order: content, maintenance, then what runs it again ----
var order = removalOrder({ files: [{ name: MANIFEST }, { name: "VellumSetup.jse" }, { name: "a.htm" },
                                   { name: MAINTENANCE + "\\cabinets\\c.cab" }, { name: MAINTENANCE + "\\EXTRACT.EXE" },
                                   { name: "uninstallUI\\VellumSetup.exe" }, { name: "b\\c.htm" }] });
check("removal order", order.join("|"), ["a.htm", "b\\c.htm", MAINTENANCE + "\\cabinets\\c.cab", "VellumSetup.jse",
                                         "uninstallUI\\VellumSetup.exe", MAINTENANCE + "\\EXTRACT.EXE",
                                         MANIFEST].join("|"));
check("removal list: the files, then the folders innermost first",
      removalList({ files: [{ name: MANIFEST }, { name: "b/c.htm" }], folders: ["b", "b\\d", MAINTENANCE] })
          .join("|"), ["file\tb\\c.htm", "file\t" + MANIFEST, "folder\t" + MAINTENANCE, "folder\tb\\d",
                       "folder\tb"].join("|"));

// ---- the registry items the removal run deletes: keys without their last backslash, in this host's view ----
var regLines = registryList([UNINSTALL_KEY, DIGESTS_KEY + "c:/q|previous"]);
check("registry view", /^view\t(32|64)$/.test(regLines[0]), true);
check("registry list", regLines.slice(1).join("|"), "key\t" + UNINSTALL_KEY.substring(0, UNINSTALL_KEY.length - 1) +
      "|value\t" + DIGESTS_KEY + "c:/q|previous");

// ---- EXTRACT's listing and exit codes ----
var listed = parseListing("cabinet\t0\tC:\\w\\a.cab\r\nfile\t5000000000\tx\\tab\there.htm\r\n" +
                          "end\t0\t\r\n");
check("listing entries", listed.entries.length + " " + listed.entries[1].size + " " + listed.entries[1].path,
      "2 5000000000 x\\tab\there.htm");
check("listing ended", listed.ended + " " + listed.code, "true 0");
check("listing cut off", parseListing("cabinet\t0\ta.cab\r\nfile\t3\ta.txt\r\n").ended, false);
check("end line not last", parseListing("end\t0\t\r\nfile\t3\ta.txt\r\n").ended, false);
check("failure text", parseListing("end\t22\tcabinet 3 of 3, C:\\c.cab: damaged\r\n").failure,
      "cabinet 3 of 3, C:\\c.cab: damaged");
check("malformed listing", parseListing("file\tbig\ta.txt\r\n"), null);
check("plan exit code", planFailure(22).reason + " " + planFailure(22).cabinet + " " + planFailure(3).cabinet, "2 2 0");

WScript.Echo(passed + " passed, " + failures + " failed");
WScript.Quit(failures == 0 ? 0 : 1);
