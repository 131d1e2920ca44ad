#!/usr/bin/env python3
"""Benchmarks of the two programs; prints one table of figures.

    VELLUM_BUILD=... python3 bench/bench.py [--rounds N]

1. Extraction: a silent launcher run, the peer installer (bench/peer.py: the
   same payload in a stored silent installer built by makensis) and
   baselinewriter (a bare CreateFile/WriteFile loop over the same payload
   resources), interleaved over N rounds with the desktop kept warm, in a
   benchmark prefix of its own whose script association does nothing (so no
   script runs between measurements); all three must write the same bytes.
   Then the time to the first window: a visible launcher run, from just
   before its process is created to its first visible top-level window
   (baselinewriter --first-window), median over the rounds.
2. Memory: peak resident and peak private (anonymous) memory of the launcher
   with its payload and with the payload padded to 4x.
3. Server: new ActiveXObject + showWizard until the welcome page shows, and
   the mean round trip of 1000 readyToInstall calls, from JScript.
4. Size: the i686 launcher without payload and VellumSetup.exe, stripped,
   with where the bytes go.
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
    winerun.ensure_prefix()
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


def extraction(prefix, rounds):
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
        if d != reference:
            differ = sorted(n for n in set(d) | set(reference) if d.get(n) != reference.get(n))
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
    if "peer" in med:
        ratio = med["launcher"] / med["peer"]
        row("ratio launcher / peer (stored)", "%.2f" % ratio, "<= 0.80", "ok" if ratio <= 0.80 else "over",
            "difference %.0f ms" % ((med["launcher"] - med["peer"]) * 1000))


def first_window(prefix, rounds):
    """A visible launcher run: the time from process creation to its first
    visible top-level window, measured inside the prefix."""
    launcher = path_of("launcher", "VellumInstaller.exe")
    baseline = path_of("testtools", "baselinewriter", "baselinewriter.exe")
    if not (os.path.exists(launcher) and os.path.exists(baseline)):
        row("time to first window", "n/a", "", "MISSING", "launcher or baselinewriter not built")
        return
    wf = os.path.join(prefix_temp(prefix), "_hsc_Vellum")
    result = os.path.join(winerun.build_root(), "bench-first-window.txt")
    warm = winerun.start([path_of("testtools", "fixturewin", "fixturewin.exe"), "--title", "bench desktop"])
    times = []
    try:
        for i in range(rounds + 1):  # round 0 warms, not counted
            shutil.rmtree(wf, ignore_errors=True)
            if os.path.exists(result):
                os.remove(result)
            time.sleep(0.3)
            # Wine quotes arguments itself: the paths go unquoted (build paths have no blanks).
            code, _ = winerun.run([baseline, "--first-window", winerun.winpath(result), winerun.winpath(launcher)],
                                  timeout=120)
            text = open(result).read().split() if os.path.exists(result) else []
            if code != 0 or len(text) != 2 or int(text[0]) < 0 or text[1] != "0":
                row("time to first window", "n/a", "", "ERROR",
                    "run %d: %s (measuring tool exit %s)" % (i, " ".join(text) or "no result", code))
                return
            if i > 0:
                times.append(int(text[0]) / 10000.0)
    finally:
        winerun.stop(warm)
    med = statistics.median(times)
    row("time to first window (visible run), median", "%.0f ms" % (med * 1000), "<= 89 ms",
        "ok" if med * 1000 <= 89 else "over", "spread %s; %d rounds, from process creation" % (spread(times), rounds))


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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=15)
    ap.add_argument("--only", default="extraction,window,memory,server,size")
    args = ap.parse_args()
    only = args.only.split(",")
    winerun.ensure_display()
    try:
        prefix = bench_env()
        if "extraction" in only:
            extraction(prefix, args.rounds)
        if "window" in only:
            first_window(prefix, args.rounds)
        if "memory" in only:
            memory(prefix)
        if "server" in only:
            server(prefix)
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
