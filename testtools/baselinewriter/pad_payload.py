#!/usr/bin/env python3
"""Derives a payload resource script from another one for the benchmarks.

    pad_payload.py IN.rc OUT.rc DIR FACTOR

FACTOR 0: only the file list, and that empty (the launcher without payload).
FACTOR n: every payload file copied into DIR, the cabinets (or, in a payload
without cabinets, every file but the list, catalogues and script) padded
with zero bytes to n times their size; the list and names stay the same.
The payload digest (resource 99) is made again for the new resources.
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "payload"))
import payload_digest  # noqa: E402


def main():
    src, out, folder, factor = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    os.makedirs(folder, exist_ok=True)
    with open(src, encoding="utf-8") as f:
        text = f.read()
    entries = [e for e in re.findall(r'^(\d+) (?:10|RCDATA) "([^"]+)"\s*$', text, re.M)
               if int(e[0]) != payload_digest.DIGEST_ID]
    head = [l for l in text.splitlines()
            if not re.match(r"^\d+ (10|RCDATA) ", l) and not l.startswith("// payload digest")]
    lines = head[:]
    bound = []
    if factor == 0:
        empty = os.path.join(folder, "filesList.txt")
        open(empty, "wb").close()
        lines.append('100 10 "%s"' % empty)
        bound.append(empty)
    else:
        names = [p for _, p in entries]
        cabs = [p for p in names if p.lower().endswith(".cab")]

        def padded(p):
            base = os.path.basename(p).lower()
            if cabs:
                return p in cabs
            return not (base.endswith(".xml") or base.endswith(".jse") or base == "fileslist.txt")

        for rid, p in entries:
            target = os.path.join(folder, "%s_%s" % (rid, os.path.basename(p)))
            with open(p, "rb") as f:
                data = f.read()
            if padded(p):
                data = data + b"\0" * (len(data) * (factor - 1))
            if not os.path.exists(target) or os.path.getsize(target) != len(data):
                with open(target, "wb") as f:
                    f.write(data)
            lines.append('%s 10 "%s"' % (rid, target))
            bound.append(target)
    digest_path = out + ".digest"
    payload_digest.write_for_files(bound, digest_path)
    lines.append(payload_digest.rc_line(digest_path))
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
