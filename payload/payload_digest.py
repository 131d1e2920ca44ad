#!/usr/bin/env python3
"""The payload digest that VellumInstaller checks before it writes anything.

Resource 99 (RT_RCDATA, neutral language) holds a table over the payload's
resources 100 .. 100+n-1 (the file list and every payload file), all
little-endian 32-bit numbers:

    "VPD1"  first id  count  { size  crc32 } * count  crc32 of all before

CRC-32 (the zip polynomial) was chosen for speed: it finds every changed
byte of a damaged download (any burst up to 32 bits, and a single changed
byte is such a burst), and the sizes find a truncation. Deliberate changes
are the signature's business, not this table's.
"""
import os
import struct
import zlib

DIGEST_ID = 99
FIRST_ID = 100
MAGIC = b"VPD1"


def table(resources):
    """The digest table for the byte strings of resources 100, 101, ..."""
    out = bytearray(MAGIC + struct.pack("<II", FIRST_ID, len(resources)))
    for data in resources:
        out += struct.pack("<II", len(data), zlib.crc32(data) & 0xFFFFFFFF)
    out += struct.pack("<I", zlib.crc32(bytes(out)) & 0xFFFFFFFF)
    return bytes(out)


def parse(data):
    """(first id, [(size, crc), ...]) of a table, or None when malformed."""
    if len(data) < 16 or data[:4] != MAGIC:
        return None
    first, count = struct.unpack_from("<II", data, 4)
    if len(data) != 12 + 8 * count + 4:
        return None
    if struct.unpack_from("<I", data, len(data) - 4)[0] != zlib.crc32(data[:-4]) & 0xFFFFFFFF:
        return None
    return first, [struct.unpack_from("<II", data, 12 + 8 * i) for i in range(count)]


def write_for_files(paths, out_path):
    """Writes the table for the files (in resource order) to out_path and
    returns it; the resource script names out_path as resource 99."""
    blobs = []
    for p in paths:
        with open(p, "rb") as f:
            blobs.append(f.read())
    data = table(blobs)
    write_if_changed(out_path, data)
    return data


def write_if_changed(path, data):
    """Writes data to path through a temporary file, unless the file already
    holds it: an unchanged file keeps its time, so nothing recompiles."""
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def rc_line(out_path):
    return '%d 10 "%s"' % (DIGEST_ID, os.path.abspath(out_path).replace("\\", "/"))
