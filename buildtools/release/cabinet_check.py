#!/usr/bin/env python3
"""Checks a cabinet as thoroughly as EXTRACT.EXE will treat it, on the host.

check_cabinet(data) returns the member names, or raises CabinetError with
the problem: not a cabinet, a header or file table that does not fit the
file, a part of a cabinet set, a data block whose checksum does not fit, an
MSZIP block that does not inflate to its stated size, a file that lies
beyond its folder's data, or a member name that EXTRACT refuses (outside the
folder, device names, a component ending in a dot or a blank).
"""
import struct
import zlib


class CabinetError(Exception):
    pass


DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}
COMPRESSION = {0: "none", 1: "MSZIP", 2: "Quantum", 3: "LZX"}


def checksum(data, seed=0):
    """XOR of the little-endian 32-bit words, the trailing bytes big-endian."""
    value = seed
    whole = len(data) // 4 * 4
    if whole:
        for (word,) in struct.iter_unpack("<I", data[:whole]):
            value ^= word
    tail = 0
    for b in data[whole:]:
        tail = (tail << 8) | b
    return (value ^ tail) & 0xFFFFFFFF


def is_device_name(component):
    base = component.split(".", 1)[0].rstrip(" ").upper()
    if base in DEVICE_NAMES:
        return True
    return len(base) == 4 and base[:3] in ("COM", "LPT") and "1" <= base[3] <= "9"


def name_problem(name):
    """Why EXTRACT refuses a member name, or None (its own rules, mirrored)."""
    if name == "":
        return "an empty name"
    if name[0] in "\\/":
        return "an absolute path"
    parts = []
    for ch in name:
        if ch == ":" or ord(ch) < 32:
            return "a drive, stream or control character"
    for part in name.replace("/", "\\").split("\\"):
        if part in ("", "."):
            continue
        if part == ".." or part.strip(". ") == "":
            return "a path outside the folder (%r)" % part
        if part[-1] in ". ":
            return "a component ending in a dot or a blank (%r)" % part
        if is_device_name(part):
            return "a device name (%r)" % part
        parts.append(part)
    if not parts:
        return "no file name"
    return None


def _inflate_folder(blocks, what):
    history = b""
    out = []
    for number, (payload, uncompressed) in enumerate(blocks, 1):
        if payload[:2] != b"CK":
            raise CabinetError("%s: data block %d is not an MSZIP block" % (what, number))
        d = zlib.decompressobj(-15, zdict=history[-32768:]) if history else zlib.decompressobj(-15)
        try:
            chunk = d.decompress(payload[2:]) + d.flush()
        except zlib.error as e:
            raise CabinetError("%s: data block %d does not inflate (%s)" % (what, number, e))
        if len(chunk) != uncompressed:
            raise CabinetError("%s: data block %d inflates to %d bytes, its header says %d"
                               % (what, number, len(chunk), uncompressed))
        history = (history + chunk)[-32768:]
        out.append(len(chunk))
    return sum(out)


def check_cabinet(data):
    if len(data) < 36 or data[:4] != b"MSCF":
        raise CabinetError("not a cabinet file")
    (cb_cabinet, coff_files, minor, major, n_folders, n_files, flags) = struct.unpack_from(
        "<4xI4xI4xBBHHH", data, 4)
    if cb_cabinet != len(data):
        raise CabinetError("the header says %d bytes, the file has %d (%s)"
                           % (cb_cabinet, len(data), "truncated" if cb_cabinet > len(data) else "extra bytes"))
    if flags & 0x0003:
        raise CabinetError("part of a cabinet set (spanning cabinets are not supported)")
    pos = 36
    folder_reserve = data_reserve = 0
    if flags & 0x0004:
        if pos + 4 > len(data):
            raise CabinetError("the header is damaged")
        header_reserve, folder_reserve, data_reserve = struct.unpack_from("<HBB", data, pos)
        pos += 4 + header_reserve
    folders = []
    for f in range(n_folders):
        if pos + 8 + folder_reserve > len(data):
            raise CabinetError("the folder table is damaged")
        start, n_blocks, compress = struct.unpack_from("<IHH", data, pos)
        pos += 8 + folder_reserve
        folders.append((start, n_blocks, compress & 0x000F))
    if n_folders == 0 or n_files == 0:
        raise CabinetError("the cabinet holds no files")
    sizes = []
    for index, (start, n_blocks, kind) in enumerate(folders):
        what = "folder %d" % (index + 1)
        if kind not in COMPRESSION:
            raise CabinetError("%s: unknown compression type %d" % (what, kind))
        at = start
        blocks = []
        for number in range(1, n_blocks + 1):
            if at + 8 + data_reserve > len(data):
                raise CabinetError("%s: data block %d is truncated" % (what, number))
            stored, cb_data, cb_uncomp = struct.unpack_from("<IHH", data, at)
            body_at = at + 8 + data_reserve
            if body_at + cb_data > len(data):
                raise CabinetError("%s: data block %d is truncated" % (what, number))
            body = data[body_at:body_at + cb_data]
            if stored != 0:
                s = checksum(body)
                s = checksum(data[at + 4:at + 8 + data_reserve], s)
                if s != stored:
                    raise CabinetError("%s: data block %d is damaged (checksum mismatch)" % (what, number))
            if kind == 0 and cb_data != cb_uncomp:
                raise CabinetError("%s: stored data block %d has %d bytes for %d"
                                   % (what, number, cb_data, cb_uncomp))
            blocks.append((body, cb_uncomp))
            at = body_at + cb_data
        if kind == 1:
            sizes.append(_inflate_folder(blocks, what))
        else:
            sizes.append(sum(u for _, u in blocks))
    names = []
    pos = coff_files
    for i in range(n_files):
        if pos + 16 > len(data):
            raise CabinetError("the file table is damaged")
        size, offset, folder, _date, _time, attribs = struct.unpack_from("<IIHHHH", data, pos)
        end = data.find(b"\0", pos + 16)
        if end < 0:
            raise CabinetError("the file table is damaged")
        raw = data[pos + 16:end]
        pos = end + 1
        name = raw.decode("utf-8" if attribs & 0x80 else "cp1252", errors="replace")
        if folder >= n_folders:
            raise CabinetError("%r: belongs to no folder of this cabinet (index %#x)" % (name, folder))
        if offset + size > sizes[folder]:
            raise CabinetError("%r: names %d bytes, its folder holds %d from offset %d"
                               % (name, size, sizes[folder] - min(offset, sizes[folder]), offset))
        problem = name_problem(name)
        if problem:
            raise CabinetError("member %r: EXTRACT refuses %s" % (name, problem))
        names.append(name)
    return names
