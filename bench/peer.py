"""The benchmark's peer: a general-purpose installer builder (makensis, from
Debian's nsis package) given the same job as the launcher's silent run.

The generated installer is silent and stored (no compression), writes the
launcher's payload, file list first and then every listed file in list
order, into the same working folder, and opens the installation script the
same way the launcher does (default verb, same file argument, parameters and
folder), so that the benchmark prefix's neutralised script association
serves both alike.
"""
import os
import re
import subprocess
import tempfile

MAKENSIS = "makensis"

# makensis's target names by the Windows architecture of the build.
TARGETS = {"i686": "x86-unicode", "x86_64": "amd64-unicode"}


def payload_files(rc_path):
    """[(name in the working folder, host path)] in the order the launcher
    writes them: the file list, then line i from resource 100 + i."""
    by_id = {}
    for line in open(rc_path, encoding="utf-8"):
        m = re.match(r'^(\d+) (?:10|RCDATA) "(.*)"\s*$', line)
        if m:
            by_id[int(m.group(1))] = m.group(2)
    if 100 not in by_id:
        raise RuntimeError("%s names no file list (resource 100)" % rc_path)
    with open(by_id[100], "rb") as f:
        names = [n.decode("ascii") for n in f.read().split(b"\r\n") if n]
    files = [("filesList.txt", by_id[100])]
    for i, name in enumerate(names, start=1):
        if 100 + i in by_id:
            files.append((name, by_id[100 + i]))
    return files


def nsis_string(text):
    # makensis strings: $ and quotes are escaped with $.
    return '"%s"' % text.replace("$", "$$").replace('"', '$\\"')


def script(out_exe, files, target, start_script=True, visible=False):
    lines = [
        "Unicode true",
        "Target %s" % target,
        "SetCompress off",
    ]
    # Visible: its progress page from the start (no other page), closed by
    # itself at the end, for the time to its first window.
    lines += ["AutoCloseWindow true"] if visible else ["SilentInstall silent"]
    lines += [
        "RequestExecutionLevel user",
        "Name Peer",
        "OutFile %s" % nsis_string(out_exe),
        "Section",
        # The launcher's working folder: TEMP plus _hsc_Vellum.
        'SetOutPath "$TEMP\\_hsc_Vellum"',
        "SetOverwrite on",
    ]
    for name, path in files:
        lines.append("File %s %s" % (nsis_string("/oname=" + name), nsis_string(path)))
    if start_script:
        # Same file argument (other letter case, trailing blank inside the
        # quotes), parameters and show command as the launcher's start.
        lines.append('ExecShell "" \'"$TEMP\\_hsc_Vellum\\Vellumsetup.jse "\' "VellumInstall /q" SW_SHOWNORMAL')
    lines.append("SectionEnd")
    return "\n".join(lines) + "\n"


def build(rc_path, out_exe, arch, empty=False, visible=False):
    """Builds the peer installer; with empty=True the same installer without
    any file (its stub, for the size comparison); with visible=True one that
    shows its window instead of running silently. Returns out_exe."""
    files = [] if empty else payload_files(rc_path)
    with tempfile.TemporaryDirectory(prefix="vellum-peer-") as tmp:
        nsi = os.path.join(tmp, "peer.nsi")
        with open(nsi, "w", encoding="utf-8-sig") as f:
            f.write(script(out_exe, files, TARGETS[arch], visible=visible))
        r = subprocess.run([MAKENSIS, "-V2", nsi], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if r.returncode != 0 or not os.path.exists(out_exe):
            raise RuntimeError("makensis failed:\n" + r.stdout.decode(errors="replace")[-2000:])
    return out_exe


def available():
    try:
        subprocess.run([MAKENSIS, "-VERSION"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        return True
    except (OSError, subprocess.CalledProcessError):
        return False


# ---- the whole job: an installer of the same installed content ----

UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuillfeatherPeer"


def uninstall_key(solid_lzma):
    """Each peer has an entry of its own."""
    return UNINSTALL_KEY + ("Lzma" if solid_lzma else "Stored")


def job_script(out_exe, content_dir, target, solid_lzma):
    """A conventional installer of content_dir (a folder as an installation
    leaves it): every file into $INSTDIR, an uninstaller and an uninstall
    entry; its uninstaller deletes the files it wrote, then the folders when
    empty, and the entry. Installed with /S and /D=<folder>."""
    files, folders = [], []
    for base, dirs, names in os.walk(content_dir):
        rel = os.path.relpath(base, content_dir)
        if rel != ".":
            folders.append(rel.replace(os.sep, "\\"))
        for n in sorted(names):
            files.append(os.path.relpath(os.path.join(base, n), content_dir).replace(os.sep, "\\"))
    lines = [
        "Unicode true",
        "Target %s" % target,
        "SetCompressor /SOLID lzma" if solid_lzma else "SetCompress off",
        "RequestExecutionLevel admin",
        "Name Quillfeather",
        "OutFile %s" % nsis_string(out_exe),
        'InstallDir "$PROGRAMFILES\\QuillfeatherPeer"',
        "SilentInstall silent",
        "SilentUnInstall silent",
        "Section",
        "SetOverwrite on",
        'SetOutPath "$INSTDIR"',
        "File /r %s" % nsis_string(os.path.join(content_dir, "*")),
        'WriteUninstaller "$INSTDIR\\uninst.exe"',
    ]
    values = [("DisplayName", "Quillfeather"), ("DisplayVersion", "1.0"), ("Publisher", "Vellum"),
              ("InstallLocation", "$INSTDIR"), ("UninstallString", '"$INSTDIR\\uninst.exe"'),
              ("QuietUninstallString", '"$INSTDIR\\uninst.exe" /S')]
    key = uninstall_key(solid_lzma)
    for name, value in values:
        # The values name $INSTDIR: only their quotes are escaped.
        lines.append('WriteRegStr HKLM "%s" "%s" "%s"' % (key, name, value.replace('"', '$\\"')))
    lines += ['WriteRegDWORD HKLM "%s" "NoModify" 1' % key, "SectionEnd", "Section Uninstall"]
    lines += ['Delete "$INSTDIR\\%s"' % f.replace("$", "$$") for f in files]
    lines.append('Delete "$INSTDIR\\uninst.exe"')
    lines += ['RMDir "$INSTDIR\\%s"' % d.replace("$", "$$") for d in sorted(folders, key=lambda d: -d.count("\\"))]
    lines += ['RMDir "$INSTDIR"', 'DeleteRegKey HKLM "%s"' % key, "SectionEnd"]
    return "\n".join(lines) + "\n"


def build_job(content_dir, out_exe, arch, solid_lzma):
    with tempfile.TemporaryDirectory(prefix="vellum-jobpeer-") as tmp:
        nsi = os.path.join(tmp, "job.nsi")
        with open(nsi, "w", encoding="utf-8-sig") as f:
            f.write(job_script(out_exe, content_dir, TARGETS[arch], solid_lzma))
        r = subprocess.run([MAKENSIS, "-V2", nsi], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if r.returncode != 0 or not os.path.exists(out_exe):
            raise RuntimeError("makensis failed:\n" + r.stdout.decode(errors="replace")[-2000:])
    return out_exe
