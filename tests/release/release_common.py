"""Shared by the release tests: the command, hand-made cabinets, damage."""
import os
import shutil
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(ROOT, "buildtools", "release"), os.path.join(ROOT, "payload"),
                os.path.join(ROOT, "payload", "full")]

import build_installer  # noqa: E402
import cabinet_check  # noqa: E402
import locales  # noqa: E402

COMMAND = os.path.join(ROOT, "scripts", "build-installer.sh")
FILES = os.environ.get("VELLUM_FULL_PAYLOAD_DIR", "")


def run(*args, env=None):
    e = dict(os.environ)
    # The command's python3 is this interpreter, found first: not a version
    # manager's shim, which would add a third of a second to each run.
    e["PATH"] = os.path.dirname(sys.executable) + os.pathsep + e.get("PATH", "")
    e.update(env or {})
    r = subprocess.run(["bash", COMMAND] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=e,
                       timeout=1200)
    return r.returncode, r.stdout.decode(errors="replace") + r.stderr.decode(errors="replace")


def project_cabinets(folder):
    """The project's own 335 cabinets, copied into folder."""
    os.makedirs(folder, exist_ok=True)
    for name in locales.all_cabinets():
        shutil.copyfile(os.path.join(FILES, name), os.path.join(folder, name))
    return folder


def stored_cabinet(members):
    """A cabinet without compression holding members {name: bytes}, names
    taken as they are (also names gcab would not write)."""
    body = b"".join(members.values())
    names = list(members)
    files = b""
    offset = 0
    for name in names:
        files += struct.pack("<IIHHHH", len(members[name]), offset, 0, 0x3521, 0x6000, 0x20) + name.encode() + b"\0"
        offset += len(members[name])
    coff_files = 36 + 8
    data_at = coff_files + len(files)
    head = struct.pack("<HH", len(body), len(body))
    csum = cabinet_check.checksum(head, cabinet_check.checksum(body))
    block = struct.pack("<I", csum) + head + body
    total = data_at + len(block)
    header = b"MSCF" + struct.pack("<IIIIIBBHHHHH", 0, total, 0, coff_files, 0, 3, 1, 1, len(names), 0, 0, 0)
    folder = struct.pack("<IHH", data_at, 1, 0)
    return header + folder + files + block


def rcdata(path):
    with open(path, "rb") as f:
        resources, _ = build_installer.rcdata_resources(f.read())
    return resources


def damaged_copy(src, dst, resource_id, how="flip"):
    """A copy of an installer with one resource damaged: one byte flipped,
    or the file cut off inside that resource."""
    with open(src, "rb") as f:
        data = bytearray(f.read())
    resource = rcdata(src)[resource_id]
    at = bytes(data).find(resource)
    assert at > 0 and len(resource) > 4
    if how == "flip":
        data[at + len(resource) // 2] ^= 0x20
    else:
        del data[at + len(resource) // 2:]
    with open(dst, "wb") as f:
        f.write(data)
    return dst


def gcab_cabinet(path, members, workdir):
    """A real MSZIP cabinet made by gcab from members {relative path: bytes}."""
    src = os.path.join(workdir, "gcab-src")
    shutil.rmtree(src, ignore_errors=True)
    for rel, data in members.items():
        p = os.path.join(src, rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        os.utime(p, (1154433600, 1154433600))
    subprocess.run(["gcab", "-c", "-z", path] + sorted(members), cwd=src, check=True, timeout=60)
    return path


def other_content():
    rnd = zlib.crc32(b"seed")
    out = {}
    for i, rel in enumerate(["locales/en-us/index.htm", "other/images/picture.bin", "other/readme.txt"]):
        chunk = bytearray()
        for _ in range(20000 * (i + 1)):
            rnd = (rnd * 1103515245 + 12345) & 0x7FFFFFFF
            chunk.append(rnd >> 16 & 0xFF)
        out[rel] = bytes(chunk)
    return out
