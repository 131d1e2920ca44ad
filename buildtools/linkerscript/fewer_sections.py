#!/usr/bin/env python3
"""Writes the linker's own default script for a program with fewer sections.

The launcher is linked with sections page-aligned in the file (so that Wine
maps its payload instead of copying it), which makes every section cost at
least a whole 4 KB page. Two of them hold next to nothing: the start-up
objects' frame tables (.eh_frame, read-only, a few KB on i686) and the C
runtime's initializer tables (.CRT, a few pointers), and so does the
thread-local template (.tls, the runtime's two marks). They go to the start
of .rdata and .data, which have the same access; everything else is the
toolchain's script unchanged. Fails loudly when the script is not shaped as
expected, rather than link something else.

usage: fewer_sections.py <ld> <output script>
"""
import re
import subprocess
import sys


def block(script, name):
    """(start, end, body) of the output section statement `name`."""
    m = re.search(r"^  %s BLOCK\(__section_alignment__\) :\n  \{\n" % re.escape(name), script, re.M)
    if not m:
        return None
    end = script.index("\n  }\n", m.end())
    return m.start(), end + len("\n  }\n"), script[m.end():end + 1]


def move_into(script, name, into):
    moved = block(script, name)
    if moved is None:
        return script  # this architecture has no such section
    start, end, body = moved
    if name == ".CRT" and ".CRT$XD" not in body:
        # Thread-local initializers, which the script leaves to orphan
        # placement: in a section of their own they would cost a page again.
        body += "    KEEP (*(SORT(.CRT$XD*)))  /* TLS initialization */\n"
    script = script[:start] + script[end:]
    target = block(script, into)
    if target is None:
        sys.exit("fewer_sections: no %s section in the default script" % into)
    # At the start: symbols after the target block (the runtime's
    # pseudo-relocation list in .rdata) are counted back from its end.
    tstart, _, _ = target
    open_brace = script.index("  {\n", tstart) + len("  {\n")
    return script[:open_brace] + body + script[open_brace:]


def main():
    ld, out = sys.argv[1], sys.argv[2]
    text = subprocess.run([ld, "--verbose"], check=True, capture_output=True, text=True).stdout
    parts = text.split("==================================================")
    if len(parts) != 3:
        sys.exit("fewer_sections: %s --verbose printed no default script" % ld)
    script = parts[1].strip("\n") + "\n"
    script = move_into(script, ".eh_frame", ".rdata")
    script = move_into(script, ".CRT", ".data")
    # The thread-local template (only the runtime's start and end marks: the
    # launcher has no thread-local data) at the very start of .data, where
    # section-relative offsets into it stay what they were.
    script = move_into(script, ".tls", ".data")
    if block(script, ".CRT") is not None or "___crt_xc_start__" not in script \
            or ".CRT$XD" not in script:
        sys.exit("fewer_sections: the C runtime's tables did not move")
    if block(script, ".tls") is not None or "___tls_start__" not in script:
        sys.exit("fewer_sections: the thread-local template did not move")
    with open(out, "w") as f:
        f.write(script)


if __name__ == "__main__":
    main()
