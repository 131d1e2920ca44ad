#!/usr/bin/env python3
"""Benchmarks of the two programs; prints one table of figures.

    VELLUM_BUILD=... python3 bench/bench.py [--rounds N]

1. Extraction: a silent launcher run, the peer installer (bench/peer.py: the
   same payload in a stored silent installer built by makensis) and
   baselinewriter (a bare CreateFile/WriteFile loop over the same payload
   resources), interleaved over N rounds with the desktop kept warm, in a
   benchmark prefix of its own whose script association does nothing (so no
   script runs between measurements); all three must write the same bytes.
   Then the time to the first window: visible runs of the launcher and of
   the stored peer (its own window, not /S), interleaved, each from just
   before its process is created to its first visible top-level window
   (baselinewriter --first-window), medians over the rounds, and whether
   the launcher's comes first.
2. Memory: peak resident and peak private (anonymous) memory of the launcher
   with its payload and with the payload padded to 4x.
3. Server: new ActiveXObject + showWizard until the welcome page shows, and
   the mean round trip of 1000 readyToInstall calls, from JScript.
4. Size: the i686 launcher without payload and VellumSetup.exe, stripped,
   with where the bytes go.
5. The whole job (--job-rounds N): an unattended installation through the
   launcher (/q /acceptlicense /target: /wait), a reinstall, a repair (one
   file deleted, one changed) and an uninstall with the kept script, beside
   two conventional installers of the same installed content (bench/peer.py:
   stored and solid LZMA, /S, an uninstaller and an uninstall entry), whose
   reinstall stands for the repair; interleaved, every result checked byte
   for byte, in a prefix of its own with the real script association; and
   the processes one unattended installation starts, counted from Wine's
   DLL-load trace. --baseline-launcher EXE measures another launcher build in
   the extraction rounds (what a launcher change saved).
Figures are measured on the build the host runs (x86_64 here where 32-bit
code cannot run); sizes are always of the i686 shipping build.
"""
import argparse
import hashlib
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "hostile"))
import winerun  # noqa: E402
import peer  # noqa: E402

ROWS = []


def row(figure, value, target, verdict, note=""):
    ROWS.append((figure, value, target, verdict, note))


def path_of(*parts):
    return os.path.join(winerun.bin_dir(), *parts)


def bench_env():
    """The benchmark prefix: created once, scripts opened by a no-op."""
    prefix = os.path.join(winerun.build_root(), "wineprefix-bench-" + winerun.arch())
    os.environ["WINEPREFIX_OVERRIDE"] = prefix
    # This prefix, not the harness's: the harness prepares its own prefix
    # once per process, so a fresh benchmark prefix would lack the script
    # association and every launcher run would stop at its error box.
    winerun.ensure_display()
    subprocess.run(["bash", os.path.join(winerun.ROOT, "scripts", "wine-prefix.sh")], env=winerun.wine_env(),
                   check=True, timeout=600)
    stamp = os.path.join(prefix, ".vellum-bench")
    noop = winerun.winpath(path_of("testtools", "baselinewriter", "baselinewriter.exe"))
    if not os.path.exists(stamp) or open(stamp).read() != noop:
        reg = tempfile.NamedTemporaryFile(suffix=".reg", delete=False)
        cmd = '"%s" --noop' % noop
        text = ('Windows Registry Editor Version 5.00\r\n\r\n'
                '[HKEY_CLASSES_ROOT\\JSEFile\\shell\\open\\command]\r\n@="%s"\r\n\r\n'
                % cmd.replace("\\", "\\\\").replace('"', '\\"'))
        reg.write(text.encode("utf-16"))
        reg.close()
        winerun.run(["regedit", "/S", winerun.winpath(reg.name)], timeout=120)
        winerun.wineserver("-w")
        os.remove(reg.name)
        with open(stamp, "w") as f:
            f.write(noop)
    # A persistent server: otherwise every measured run would pay its start.
    winerun.wineserver("-p")
    return prefix


def prefix_temp(prefix):
    users = os.path.join(prefix, "drive_c", "users")
    for u in os.listdir(users):
        t = os.path.join(users, u, "Temp")
        if os.path.isdir(t):
            return t
    raise RuntimeError("no Temp folder in " + users)


def timed(args, poll_memory=False):
    """Runs a program directly under Wine: (seconds, exit code, peak RSS kB,
    peak anonymous RSS kB)."""
    t0 = time.perf_counter()
    proc = winerun.start(args)
    hwm = anon = 0
    # The loader execs the Windows process in place: this pid is the program.
    status = "/proc/%d/status" % proc.pid
    while proc.poll() is None:
        if poll_memory:
            try:
                with open(status) as f:
                    s = f.read()
                m = re.search(r"VmHWM:\s+(\d+)", s)
                hwm = max(hwm, int(m.group(1))) if m else hwm
                m = re.search(r"RssAnon:\s+(\d+)", s)
                anon = max(anon, int(m.group(1))) if m else anon
            except OSError:
                pass
            time.sleep(0.002)
        else:
            time.sleep(0.001)
    return time.perf_counter() - t0, proc.returncode, hwm, anon


def folder_digest(folder):
    """{name: sha256} of the payload files a run left in the working folder
    (the script's lock, taken by the stand-in that opens scripts, aside)."""
    out = {}
    for name in sorted(n for n in os.listdir(folder) if n != "VellumSetup.lock"):
        with open(os.path.join(folder, name), "rb") as f:
            out[name] = hashlib.sha256(f.read()).hexdigest()
    return out


def spread(values):
    return "%.0f..%.0f ms" % (min(values) * 1000, max(values) * 1000)


# Payload files that each build of the project makes anew.
BUILT_FILES = {"EXTRACT.EXE", "VellumSetup.exe", "VellumSetup.jse", "common.cab"}


def extraction(prefix, rounds, baseline_launcher=None):
    """Silent launcher run, the peer installer and the bare loop, each
    writing the whole payload into the working folder; interleaved rounds
    (the order rotates each round) with the desktop kept warm."""
    launcher = path_of("launcher", "VellumInstaller.exe")
    baseline = path_of("testtools", "baselinewriter", "baselinewriter.exe")
    rc = payload_rc()
    if not (os.path.exists(launcher) and os.path.exists(baseline) and rc):
        row("extraction", "n/a", "", "MISSING", "launcher, baselinewriter or payload script not built")
        return
    programs = [("launcher", [launcher, "/q"]), ("bare loop", None)]
    if baseline_launcher:
        # Another build of the launcher (e.g. before a change), measured in the same rounds.
        programs.insert(1, ("launcher before", [baseline_launcher, "/q"]))
    peer_exe = None
    if peer.available():
        peer_exe = peer.build(rc, os.path.join(winerun.build_root(), "bench-peer-%s.exe" % winerun.arch()),
                              winerun.arch())
        programs.insert(1, ("peer", [peer_exe]))
    else:
        row("peer installer", "n/a", "", "MISSING", "makensis not installed (Debian package nsis)")
    wf = os.path.join(prefix_temp(prefix), "_hsc_Vellum")
    wf_win = "C:\\users\\%s\\Temp\\_hsc_Vellum\\" % os.path.basename(os.path.dirname(prefix_temp(prefix)))
    programs[-1] = ("bare loop", [baseline, wf_win])
    n_files = len(peer.payload_files(rc))
    warm = winerun.start([path_of("testtools", "fixturewin", "fixturewin.exe"), "--title", "bench desktop"])
    try:
        times = {name: [] for name, _ in programs}
        digests = {}
        for i in range(rounds + 1):  # round 0 warms page cache and prefix, not counted
            k = i % len(programs)
            for name, args in programs[k:] + programs[:k]:
                shutil.rmtree(wf, ignore_errors=True)
                if name == "bare loop":
                    os.makedirs(wf)
                time.sleep(0.3)  # let the previous run's helpers settle
                secs, code, _, _ = timed(args)
                written = len(os.listdir(wf)) if os.path.isdir(wf) else 0
                if code != 0 or written < n_files:
                    row("extraction", "n/a", "", "ERROR",
                        "%s wrote %d of %d files (exit %s)" % (name, written, n_files, code))
                    return
                if name not in digests:
                    digests[name] = folder_digest(wf)
                if i > 0:
                    times[name].append(secs)
    finally:
        winerun.stop(warm)
    reference = digests["bare loop"]
    for name, d in digests.items():
        differ = sorted(n for n in set(d) | set(reference) if d.get(n) != reference.get(n))
        if name == "launcher before":
            # An earlier build carries its own programs and script (common.cab
            # holds the kept ones): the same files, the help content the same.
            differ = [n for n in differ if n not in BUILT_FILES or n not in d or n not in reference]
        if differ:
            row("extraction", "n/a", "", "ERROR", "%s wrote other files than the bare loop: %s" %
                (name, ", ".join(differ[:5])))
            return
    med = {name: statistics.median(v) for name, v in times.items()}
    for name, _ in programs:
        row("silent run: " + name + ", median", "%.0f ms" % (med[name] * 1000), "", "",
            "spread %s; %d files, %d rounds, same bytes as the others" % (spread(times[name]), n_files, rounds))
    ratio = med["launcher"] / med["bare loop"]
    row("ratio launcher / bare loop", "%.2f" % ratio, "<= 1.25", "ok" if ratio <= 1.25 else "over",
        "difference %.0f ms" % ((med["launcher"] - med["bare loop"]) * 1000))
    if "launcher before" in med:
        row("launcher change: before - after", "%.0f ms" % ((med["launcher before"] - med["launcher"]) * 1000), "",
            "", "ratio after / before %.2f" % (med["launcher"] / med["launcher before"]))
    if "peer" in med:
        ratio = med["launcher"] / med["peer"]
        row("ratio launcher / peer (stored)", "%.2f" % ratio, "<= 0.80", "ok" if ratio <= 0.80 else "over",
            "difference %.0f ms" % ((med["launcher"] - med["peer"]) * 1000))


def first_window(prefix, rounds):
    """Visible runs of the launcher and of the stored peer installer (its
    own window from the start, not /S), interleaved: the time from process
    creation to each one's first visible top-level window, measured inside
    the prefix."""
    launcher = path_of("launcher", "VellumInstaller.exe")
    baseline = path_of("testtools", "baselinewriter", "baselinewriter.exe")
    rc = payload_rc()
    if not (os.path.exists(launcher) and os.path.exists(baseline)):
        row("time to first window", "n/a", "", "MISSING", "launcher or baselinewriter not built")
        return
    programs = [("launcher", launcher)]
    if rc and peer.available():
        programs.append(("peer (stored)", peer.build(
            rc, os.path.join(winerun.build_root(), "bench-peer-visible-%s.exe" % winerun.arch()), winerun.arch(),
            visible=True)))
    else:
        row("peer's first window", "n/a", "", "MISSING", "makensis (Debian package nsis) or payload script missing")
    wf = os.path.join(prefix_temp(prefix), "_hsc_Vellum")
    result = os.path.join(winerun.build_root(), "bench-first-window.txt")
    warm = winerun.start([path_of("testtools", "fixturewin", "fixturewin.exe"), "--title", "bench desktop"])
    times = {name: [] for name, _ in programs}
    try:
        for i in range(rounds + 1):  # round 0 warms, not counted
            k = i % len(programs)
            for name, exe in programs[k:] + programs[:k]:
                shutil.rmtree(wf, ignore_errors=True)
                if os.path.exists(result):
                    os.remove(result)
                time.sleep(0.3)
                # Wine quotes arguments itself: the paths go unquoted (build paths have no blanks).
                code, _ = winerun.run([baseline, "--first-window", winerun.winpath(result), winerun.winpath(exe)],
                                      timeout=120)
                text = open(result).read().split() if os.path.exists(result) else []
                if code != 0 or len(text) != 2 or int(text[0]) < 0 or text[1] != "0":
                    row("time to first window: " + name, "n/a", "", "ERROR",
                        "run %d: %s (measuring tool exit %s)" % (i, " ".join(text) or "no result", code))
                    return
                if i > 0:
                    times[name].append(int(text[0]) / 10000.0)
    finally:
        winerun.stop(warm)
    med = {name: statistics.median(v) for name, v in times.items()}
    row("time to first window (visible run), median", "%.0f ms" % (med["launcher"] * 1000), "<= 89 ms",
        "ok" if med["launcher"] * 1000 <= 89 else "over",
        "spread %s; %d rounds, from process creation" % (spread(times["launcher"]), rounds))
    if "peer (stored)" in med:
        mine, theirs = med["launcher"], med["peer (stored)"]
        row("time to first window: peer (stored, visible), median", "%.0f ms" % (theirs * 1000), "", "",
            "spread %s; interleaved with the launcher's" % spread(times["peer (stored)"]))
        row("first window ahead of the peer's", "yes" if mine < theirs else "no", "yes",
            "ok" if mine < theirs else "over",
            "%s by %.0f ms" % ("ahead" if mine < theirs else "behind", abs(theirs - mine) * 1000))


def payload_rc():
    """The resource script of the payload the launcher embeds (the full one)."""
    for cand in (os.path.join(winerun.bin_dir(), "payload", "full", "vellum_payload_full.rc"),):
        if os.path.exists(cand):
            return cand
    found = []
    for root, _, files in os.walk(os.path.join(winerun.bin_dir(), "payload")):
        found += [os.path.join(root, f) for f in files if f.endswith(".rc") and "dev" not in f]
    return found[0] if found else None


def memory(prefix):
    one = path_of("launcher", "VellumInstaller.exe")
    four = path_of("testtools", "baselinewriter", "VellumInstaller_x4.exe")
    if not (os.path.exists(one) and os.path.exists(four)):
        row("peak memory 1x / 4x", "n/a", "flat", "MISSING", "")
        return
    wf = os.path.join(prefix_temp(prefix), "_hsc_Vellum")
    res = {}
    for tag, exe in (("1x", one), ("4x", four)):
        hwms, anons = [], []
        for _ in range(3):
            shutil.rmtree(wf, ignore_errors=True)
            time.sleep(0.3)
            _, _, hwm, anon = timed([exe, "/q"], poll_memory=True)
            hwms.append(hwm)
            anons.append(anon)
        res[tag] = (statistics.median(hwms), statistics.median(anons))
    size1 = os.path.getsize(one)
    size4 = os.path.getsize(four)
    d_rss = (res["4x"][0] - res["1x"][0]) / 1024.0
    d_anon = (res["4x"][1] - res["1x"][1]) / 1024.0
    row("peak resident 1x / 4x", "%.1f / %.1f MB" % (res["1x"][0] / 1024.0, res["4x"][0] / 1024.0),
        "< +1 MB", "ok" if d_rss < 1 else "over",
        "+%.1f MB for +%.1f MB of payload (mapped image pages count)" % (d_rss, (size4 - size1) / 1048576.0))
    row("peak private 1x / 4x", "%.1f / %.1f MB" % (res["1x"][1] / 1024.0, res["4x"][1] / 1024.0),
        "< +1 MB", "ok" if d_anon < 1 else "over", "+%.1f MB (anonymous memory)" % d_anon)


def server(prefix):
    exe = path_of("setupui", "controller", "VellumSetup.exe")
    if not os.path.exists(exe):
        row("server: create + showWizard", "n/a", "", "MISSING", "VellumSetup.exe not built")
        row("server: readyToInstall round trip", "n/a", "", "MISSING", "")
        return
    folder = tempfile.mkdtemp(prefix="bench-server-", dir=winerun.build_root())
    try:
        shutil.copy2(exe, folder)
        for n in ("InstallerUIText_en-us.xml", "EULA_en-us.txt"):
            src = os.path.join(winerun.ROOT, "payload", "dev", n)
            if os.path.exists(src):
                shutil.copy2(src, folder)
        server_exe = os.path.join(folder, "VellumSetup.exe")
        winerun.run([server_exe, "/RegServer"], timeout=60)
        winerun.wineserver("-w")
        client = os.path.join(folder, "client.js")
        result = os.path.join(folder, "result.txt")
        with open(client, "w") as f:
            f.write("""try {
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var warm = new ActiveXObject("VellumSetup.controller");
  var t0 = new Date().getTime();
  var c = new ActiveXObject("VellumSetup.controller");
  var created = new Date().getTime();
  c.showWizard("en-us");
  var shown = new Date().getTime();
  var r, n = 1000, t1 = new Date().getTime();
  for (var i = 0; i < n; i++) r = c.readyToInstall();
  var t2 = new Date().getTime();
  var out = fso.CreateTextFile("%s", true);
  out.WriteLine((created - t0) + " " + (shown - t0) + " " + ((t2 - t1) / n) + " " + r);
  out.Close();
  try { c.closeAll(); } catch (e) {}
  WScript.Quit(0);
} catch (e) { WScript.Echo(e.message); WScript.Quit(2); }
""" % winerun.winpath(result).replace("\\", "\\\\"))
        # A first session warms the prefix and the server's files.
        for _ in range(2):
            if os.path.exists(result):
                os.remove(result)
            proc = winerun.start(["cscript", "//nologo", winerun.winpath(client)], out=os.path.join(folder, "c"))
            seen, _ = winerun.inspector(["wait", "--title", "Quillfeather Installation", "--visible",
                                         "--timeout", "20000"], timeout=40)
            try:
                proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                winerun.stop(proc)
        if not os.path.exists(result):
            row("server: create + showWizard", "n/a", "", "ERROR", "client failed")
            return
        created, shown, mean, _ = open(result).read().split()
        row("server: new ActiveXObject (server running)", "%s ms" % created, "", "", "second object, warm prefix")
        row("server: new ActiveXObject + showWizard", "%s ms" % shown, "", "",
            "welcome page %s" % ("seen by the inspector" if seen == 0 else "NOT seen"))
        row("server: readyToInstall round trip", "%.3f ms" % float(mean), "", "", "mean of 1000 from JScript")
        winerun.run([server_exe, "/UnregServer"], timeout=60)
    finally:
        winerun.end_prefix_processes()
        shutil.rmtree(folder, ignore_errors=True)


def sizes():
    i686 = os.path.join(winerun.build_root(), "i686")
    strip = "i686-w64-mingw32-strip"
    for name, rel, target in (("VellumInstaller without payload", "testtools/baselinewriter/VellumInstaller_nopayload.exe",
                               64 * 1024),
                              ("VellumSetup.exe", "setupui/controller/VellumSetup.exe", 128 * 1024)):
        p = os.path.join(i686, rel)
        if not os.path.exists(p):
            row("size: " + name, "n/a", "<= %d KB" % (target // 1024), "MISSING", "i686 build missing: " + rel)
            continue
        tmp = p + ".stripped"
        subprocess.run([strip, "-o", tmp, p], check=True)
        size = os.path.getsize(tmp)
        os.remove(tmp)
        row("size: " + name + " (i686, stripped)", "%.1f KB" % (size / 1024.0), "<= %d KB" % (target // 1024),
            "ok" if size <= target else "over", where_the_bytes_go(p) + "; sections: " + sections(p))
    if peer.available():
        # The peer's stub: the same installer with no file in it, built for
        # the shipping architecture.
        out = os.path.join(tempfile.gettempdir(), "vellum-peer-stub.exe")
        peer.build(None, out, "i686", empty=True)
        row("size: peer installer without payload (x86)", "%.1f KB" % (os.path.getsize(out) / 1024.0), "", "",
            "makensis, stored, silent; its code only starts the script")
        os.remove(out)


def sections(path):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-h", path], stdout=subprocess.PIPE).stdout.decode()
    parts = []
    for m in re.finditer(r"^\s*\d+\s+(\.\w+)\s+([0-9a-f]+)", out, re.M):
        if not m.group(1).startswith(".debug") and int(m.group(2), 16) >= 1024:
            parts.append("%s %.0f" % (m.group(1), int(m.group(2), 16) / 1024.0))
    return " ".join(parts) + " KB"


def where_the_bytes_go(path):
    """Bytes by origin, from a link map of the same program (relinked with
    -Wl,-Map from CMake's own link command)."""
    build_dir = os.path.dirname(path)
    target = os.path.splitext(os.path.basename(path))[0]
    link = os.path.join(build_dir, "CMakeFiles", target + ".dir", "link.txt")
    if not os.path.exists(link):
        return "no link command found"
    cmd = [l for l in open(link).read().splitlines() if "-o " in l and "g++" in l]
    if not cmd:
        return "no link command found"
    mapfile = os.path.join(tempfile.gettempdir(), "vellum-%s.map" % target)
    exe = os.path.join(tempfile.gettempdir(), "vellum-%s.exe" % target)
    line = cmd[0].replace(" -o %s.exe " % target, " -o %s -Wl,-Map=%s " % (exe, mapfile))
    line = re.sub(r"-Wl,--out-implib,\S+", "", line)
    r = subprocess.run(line, shell=True, cwd=build_dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if r.returncode != 0 or not os.path.exists(mapfile):
        return "relink for the map failed"
    groups = {}
    section = None
    pending = None
    for ln in open(mapfile, errors="replace"):
        m = re.match(r"^(\.\w+)\s", ln)
        if m:
            section = m.group(1)
        if pending:
            ln = " " + pending + " " + ln.strip()
            pending = None
        m = re.match(r"^ (\.\S+)\s*$", ln)
        if m:
            pending = m.group(1)
            continue
        m = re.match(r"^ (\.\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)", ln)
        if not m or section not in (".text", ".rdata", ".data", ".pdata", ".xdata", ".eh_frame", ".rsrc"):
            continue
        size, origin = int(m.group(2), 16), m.group(3)
        lib = re.search(r"lib([\w+-]+)\.a\(", origin)
        if lib:
            name = lib.group(1)
            g = {"stdc++": "libstdc++", "gcc": "libgcc", "gcc_eh": "libgcc", "mingwex": "mingw C runtime",
                 "mingw32": "mingw C runtime", "msvcrt": "mingw C runtime", "moldname": "mingw C runtime"}.get(
                     name, "project libraries" if name.startswith("vellum") else "other (" + name + ")")
        elif section == ".rsrc":
            g = "resources (icon, manifest, version)"
        elif origin.endswith(".obj") or origin.endswith(".o"):
            g = "own objects" if "CMakeFiles" in origin else "mingw start-up"
        elif "objects.a(" in origin:
            g = "own objects"
        else:
            g = "other"
        groups[g] = groups.get(g, 0) + size
    os.remove(mapfile)
    if os.path.exists(exe):
        os.remove(exe)
    return ", ".join("%s %.0f KB" % (g, v / 1024.0) for g, v in sorted(groups.items(), key=lambda x: -x[1]) if v >= 512)


# ---- the whole job: installation, reinstall, repair and uninstall ----

JOB_ROOT = "C:\\BenchJob"


def tree_digest(folder, skip=()):
    """{relative path: sha256} of every file under folder."""
    out = {}
    for base, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(base, n)
            rel = os.path.relpath(p, folder).replace(os.sep, "/")
            if rel in skip:
                continue
            with open(p, "rb") as f:
                out[rel] = hashlib.sha256(f.read()).hexdigest()
    return out


# Wine's own services, started for the prefix rather than by the installation.
WINE_SERVICES = {"wineboot.exe", "winemenubuilder.exe", "services.exe", "explorer.exe", "winedevice.exe",
                 "plugplay.exe", "svchost.exe", "rpcss.exe", "tabtip.exe"}


def count_processes(args, trace):
    """Runs one Windows command with Wine's DLL-load trace and returns the
    programs its processes ran (consoles included, Wine's own services
    left out): every process loads kernel32 once, and its own program is the
    .exe loaded just before."""
    code, _ = winerun.run(args, timeout=600, env={"WINEDEBUG": "-all,+loaddll"}, out=trace)
    text = open(trace + ".err", errors="replace").read()
    programs, last_exe = [], "?"
    for m in re.finditer(r'Loaded L"([^"]+)"', text):
        name = m.group(1).replace("\\\\", "\\")
        base = name.rsplit("\\", 1)[-1].lower()
        if base.endswith(".exe"):
            last_exe = base
        elif base == "kernel32.dll" and last_exe not in WINE_SERVICES:
            programs.append(last_exe)
    return code, programs


def job(rounds, baseline=None):
    """The whole job beside a conventional installer of the same installed
    content (makensis: stored, and solid LZMA; /S, an uninstaller and an
    uninstall entry): fresh install, reinstall, repair (the peers reinstall)
    and uninstall, interleaved, every result checked byte for byte.
    baseline: another VellumInstaller.exe (an earlier build) measured in the
    same rounds; the two take turns round by round, since both are the one
    product with one uninstall entry and cannot be installed side by side."""
    launcher = path_of("launcher", "VellumInstaller.exe")
    if not os.path.exists(launcher) or not peer.available():
        row("whole job", "n/a", "", "MISSING", "launcher or makensis (Debian package nsis) missing")
        return
    saved = os.environ.get("WINEPREFIX_OVERRIDE")
    prefix = os.path.join(winerun.build_root(), "wineprefix-benchjob-" + winerun.arch())
    os.environ["WINEPREFIX_OVERRIDE"] = prefix
    load_before = os.getloadavg()
    try:
        subprocess.run(["bash", os.path.join(winerun.ROOT, "scripts", "wine-prefix.sh")], env=winerun.wine_env(),
                       check=True, timeout=600)
        winerun.wineserver("-p")
        # A desktop kept warm, as in the extraction rounds: Wine's services
        # then stay up between the runs instead of starting with each.
        warm = winerun.start([path_of("testtools", "fixturewin", "fixturewin.exe"), "--title", "bench desktop"])
        try:
            _job(launcher, prefix, rounds, load_before, baseline)
        finally:
            winerun.stop(warm)
    finally:
        winerun.end_prefix_processes()
        if saved is None:
            os.environ.pop("WINEPREFIX_OVERRIDE", None)
        else:
            os.environ["WINEPREFIX_OVERRIDE"] = saved


def _job(launcher, prefix, rounds, load_before, baseline=None):
    root = os.path.join(prefix, "drive_c", "BenchJob")
    shutil.rmtree(root, ignore_errors=True)
    work = os.path.join(prefix_temp(prefix), "_hsc_Vellum")
    vellum_dir = os.path.join(root, "Quillfeather")
    vellum_win = JOB_ROOT + "\\Quillfeather"
    kept_script = vellum_win + "\\VellumSetup.jse"
    scratch = tempfile.mkdtemp(prefix="bench-job-", dir=winerun.build_root())

    def vellum_install(exe=launcher):
        return [exe, "/q", "/acceptlicense", "/target:" + vellum_win, "/wait"]

    def fail(what):
        row("whole job", "n/a", "", "ERROR", what)
        return None

    # The folder that holds the three installations stays: none of them
    # created it, so none records it (or removes it) as a parent of its own.
    os.makedirs(root)
    with open(os.path.join(root, "keep.txt"), "wb") as f:
        f.write(b"the benchmark's")
    try:
        # The reference: what an unattended installation leaves, taken once
        # (untimed) and given to the peers as their content.
        shutil.rmtree(work, ignore_errors=True)
        code, _ = winerun.run(vellum_install(), timeout=600)
        if code != 0 or not os.path.isdir(vellum_dir):
            return fail("the unattended installation failed (exit %s)" % code)
        reference = tree_digest(vellum_dir)
        content = os.path.join(scratch, "content")
        shutil.copytree(vellum_dir, content)
        content_bytes = sum(os.path.getsize(os.path.join(b, n)) for b, _, ns in os.walk(content) for n in ns)
        code, _ = winerun.run(["wscript.exe", kept_script, "/uninstall", "/q"], timeout=600)
        if code != 0 or os.path.exists(vellum_dir):
            return fail("the unattended uninstall failed (exit %s)" % code)
        # How many processes one unattended installation starts.
        shutil.rmtree(work, ignore_errors=True)
        code, programs = count_processes(vellum_install(), os.path.join(scratch, "processes"))
        if code != 0 or tree_digest(vellum_dir) != reference:
            return fail("the traced installation failed or wrote other files (exit %s)" % code)
        code, _ = winerun.run(["wscript.exe", kept_script, "/uninstall", "/q"], timeout=600)
        if code != 0:
            return fail("the uninstall after the traced installation failed (exit %s)" % code)

        installers = {"Vellum": None}
        for name, solid in (("peer stored", False), ("peer solid LZMA", True)):
            exe = os.path.join(scratch, name.replace(" ", "-") + ".exe")
            peer.build_job(content, exe, winerun.arch(), solid)
            installers[name] = exe
        folders = {"Vellum": vellum_dir, "peer stored": os.path.join(root, "PeerStored"),
                   "peer solid LZMA": os.path.join(root, "PeerLzma")}
        wins = {"Vellum": vellum_win, "peer stored": JOB_ROOT + "\\PeerStored",
                "peer solid LZMA": JOB_ROOT + "\\PeerLzma"}
        names = list(installers)
        # Help content only: the kept script and maintenance files are what repairs.
        damaged = sorted(k for k in reference if k.startswith("locales/"))
        damaged = [damaged[0], damaged[len(damaged) // 2]]

        def command(name, step):
            if name in ("Vellum", "Vellum before"):
                if step in ("install", "reinstall"):
                    return vellum_install(launcher if name == "Vellum" else baseline)
                return ["wscript.exe", kept_script, "/" + step, "/q"]
            if step == "uninstall":
                return [wins[name] + "\\uninst.exe", "/S"]
            return [installers[name], "/S", "/D=" + wins[name]]

        entries = {"Vellum": "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillfeather",
                   "Vellum before": "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillfeather",
                   "peer stored": "HKLM\\" + peer.uninstall_key(False),
                   "peer solid LZMA": "HKLM\\" + peer.uninstall_key(True)}

        def check(name, step, first_round):
            folder = folders.get(name, vellum_dir)
            if first_round and step in ("install", "uninstall"):
                # The uninstall entry, checked once (reg.exe is a process of its own).
                present = winerun.run(["reg.exe", "query", entries[name]], timeout=60)[0] == 0
                if present != (step == "install"):
                    return "the uninstall entry is %s" % ("missing" if step == "install" else "still there")
            if step == "uninstall":
                return None if not os.path.exists(folder) else "its folder is still there"
            got = tree_digest(folder, skip=("uninst.exe",) if not name.startswith("Vellum") else ())
            if name == "Vellum before":
                # An earlier build keeps its own script and tools: the same
                # names, and the same help content byte for byte.
                got = {k: (v if k.startswith("locales/") else "") for k, v in got.items()}
                want = {k: (v if k.startswith("locales/") else "") for k, v in reference.items()}
            else:
                want = reference
            if got != want:
                differ = sorted(k for k in set(got) | set(want) if got.get(k) != want.get(k))
                return "wrote other files than the reference: " + ", ".join(differ[:4])
            return None

        def damage(name):
            folder = folders.get(name, vellum_dir)
            os.remove(os.path.join(folder, damaged[0]))
            with open(os.path.join(folder, damaged[1]), "r+b") as f:
                b = f.read(1)
                f.seek(0)
                f.write(bytes([(b[0] if b else 0) ^ 0x55]))

        steps = ("install", "reinstall", "repair", "uninstall")
        vellums = ["Vellum"] + (["Vellum before"] if baseline else [])
        names = vellums + names[1:]
        times = {(n, s): [] for n in names for s in steps}
        # Round r runs one Vellum build beside the peers; with a baseline the
        # two builds take turns, so each gets `rounds` counted rounds after a
        # warming one (not counted) of its own.
        for i in range(len(vellums) * (rounds + 1)):
            present = [vellums[i % len(vellums)]] + names[len(vellums):]
            order = present[i % 3:] + present[:i % 3]
            counted = i >= len(vellums)
            for step in steps:
                for name in order:
                    if step == "install" and name in vellums:
                        shutil.rmtree(work, ignore_errors=True)
                    if step == "repair":
                        damage(name)
                    time.sleep(0.3)  # let the previous run's helpers settle
                    t0 = time.perf_counter()
                    code, _ = winerun.run(command(name, step), timeout=600)
                    if name not in vellums and step == "uninstall":
                        # The peer's uninstaller runs from a copy of itself and returns at once.
                        deadline = time.monotonic() + 120
                        while os.path.exists(folders[name]) and time.monotonic() < deadline:
                            time.sleep(0.005)
                    secs = time.perf_counter() - t0
                    why = ("exit %s" % code) if code != 0 else check(name, step, not counted)
                    if why:
                        return fail("%s %s, round %d: %s" % (name, step, i, why))
                    if counted:
                        times[(name, step)].append(secs)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
        shutil.rmtree(root, ignore_errors=True)

    load_after = os.getloadavg()
    row("whole job: machine load (1 min) before / after", "%.1f / %.1f" % (load_before[0], load_after[0]), "", "",
        "%d cores; %d interleaved rounds, %d files (%.1f MB) checked byte for byte after every run" %
        (os.cpu_count() or 0, rounds, len(reference), content_bytes / 1e6))
    med = {k: statistics.median(v) for k, v in times.items()}
    labels = {"install": "fresh install", "reinstall": "reinstall", "repair": "repair", "uninstall": "uninstall"}
    for step in steps:
        for name in names:
            what = "reinstall (as its repair)" if step == "repair" and not name.startswith("Vellum") else labels[step]
            row("whole job: %s, %s, median" % (what, name), "%.0f ms" % (med[(name, step)] * 1000), "", "",
                "spread " + spread(times[(name, step)]))
    targets = {"install": 2.0, "reinstall": 2.0, "repair": 3.0, "uninstall": 1.0}
    for step in steps:
        for other in ("peer solid LZMA", "peer stored"):
            ratio = med[("Vellum", step)] / med[(other, step)]
            target = targets[step] if other == "peer solid LZMA" else None
            row("whole job: %s ratio Vellum / %s" % (labels[step], other), "%.2f" % ratio,
                "<= %.1f" % target if target else "", ("ok" if ratio <= target else "over") if target else "", "")
    if ("Vellum before", "install") in med:
        for step in steps:
            row("whole job: %s ratio Vellum / Vellum before" % labels[step],
                "%.2f" % (med[("Vellum", step)] / med[("Vellum before", step)]), "", "", "the same rounds")
    row("whole job: processes of one unattended installation", "%d" % len(programs), "<= 6",
        "ok" if len(programs) <= 6 else "over", summarize(programs))


def summarize(programs):
    counts = {}
    for p in programs:
        counts[p] = counts.get(p, 0) + 1
    return ", ".join("%s x%d" % (p, n) if n > 1 else p for p, n in sorted(counts.items(), key=lambda x: -x[1]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=15)
    ap.add_argument("--job-rounds", type=int, default=5)
    ap.add_argument("--baseline-launcher", help="another VellumInstaller.exe to measure in the same rounds")
    ap.add_argument("--only", default="extraction,window,memory,server,size,job")
    args = ap.parse_args()
    only = args.only.split(",")
    winerun.ensure_display()
    try:
        prefix = bench_env()
        if "extraction" in only:
            extraction(prefix, args.rounds, args.baseline_launcher)
        if "window" in only:
            first_window(prefix, args.rounds)
        if "memory" in only:
            memory(prefix)
        if "server" in only:
            server(prefix)
        if "job" in only:
            winerun.end_prefix_processes()
            job(args.job_rounds, args.baseline_launcher)
    finally:
        winerun.end_prefix_processes()
        winerun.stop_display()
    if "size" in only:
        sizes()
    w = [max(len(str(r[i])) for r in ROWS + [("figure", "value", "target", "verdict", "")]) for i in range(4)]
    print("%-*s | %-*s | %-*s | %-*s | %s" % (w[0], "figure", w[1], "value", w[2], "target", w[3], "verdict", "note"))
    print("-" * (sum(w) + 30))
    for r in ROWS:
        print("%-*s | %-*s | %-*s | %-*s | %s" % (w[0], r[0], w[1], r[1], w[2], r[2], w[3], r[3], r[4]))


if __name__ == "__main__":
    main()
