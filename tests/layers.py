#!/usr/bin/env python3
"""Checks that the folders of src/ include one another one way only.

    tests/layers.py [SRC]

Each folder may include its own headers, the library's interface (korvane/) and the
folders below it in LAYERS; the disassembler only the instruction table and the file
pieces. Prints every include that breaks this and exits 1; 0 when there is none.
"""
import os
import re
import sys

# Lowest first; a folder may include only folders of lower layers.
LAYERS = [
    {"vocab", "isa", "diag", "files"},
    {"output"},
    {"source"},
    {"resolve"},
    {"encode"},
    {"directives"},
    {"driver"},
]
# Beside the assembler's layers: what else a folder may include.
ONLY = {"disasm": {"isa", "files"}}


def allowed(folder):
    if folder in ONLY:
        return ONLY[folder]
    for rank, layer in enumerate(LAYERS):
        if folder in layer:
            return set().union(*LAYERS[:rank])
    return None


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
    bad = []
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        may = allowed(folder)
        if may is None:
            bad.append("%s: a folder in no layer (add it to tests/layers.py)" % folder)
            continue
        for name in sorted(os.listdir(path)):
            with open(os.path.join(path, name), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    m = re.match(r'\s*#\s*include\s+"([^/"]+)/', line)
                    if m and m.group(1) not in may | {folder, "korvane"}:
                        bad.append("%s/%s:%d: includes %s/" % (folder, name, number, m.group(1)))
    for b in bad:
        print(b)
    print("layers: %d includes against the order" % len(bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
