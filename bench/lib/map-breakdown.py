#!/usr/bin/env python3
"""Sums a GNU ld link map of a PE executable by the library each input came from.

Usage: map-breakdown.py MAP

Counts every input section placed in an output section the shipped file holds (code,
data, unwind tables, imports, resources, relocations): not the debug sections it is
stripped of, nor .bss, which takes no room in the file. Prints one line per library, largest first, in KiB."""
import re
import sys
from collections import defaultdict

# " .text   0x0000000140001000   0x530 /path/lib/crt2u.o": an input section on one line,
# or its name alone when it is too long, the address and size then on the next line.
INPUT = re.compile(r"^ (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")
NAME_ONLY = re.compile(r"^ (\.\S+)$")
CONTINUED = re.compile(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")
OUTPUT = re.compile(r"^(\.\S+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+")


def library(output, source):
    """'../ui/libvelm_ui.a(x.obj)' -> 'libvelm_ui.a'; a loose object keeps its name."""
    if output == ".rsrc":
        return "resources (skins, dialogs, texts)"
    archive = re.match(r"(.*?)\((.*)\)$", source)
    path = archive.group(1) if archive else source
    name = path.rsplit("/", 1)[-1]
    if name == "objects.a":
        return "main_win32.cpp"
    return name


def main():
    sizes = defaultdict(int)
    output = None
    pending = None
    with open(sys.argv[1], encoding="utf-8", errors="replace") as map_file:
        for line in map_file:
            line = line.rstrip("\n")
            out = OUTPUT.match(line)
            if out:
                output = out.group(1)
                pending = None
                continue
            if output is None or output.startswith((".debug", ".stab")) or output == ".bss":
                continue
            if pending:
                cont = CONTINUED.match(line)
                pending = None
                if cont:
                    sizes[library(output, cont.group(2))] += int(cont.group(1), 16)
                continue
            found = INPUT.match(line)
            if found:
                sizes[library(output, found.group(3))] += int(found.group(2), 16)
            elif NAME_ONLY.match(line):
                pending = True
    total = sum(sizes.values())
    rest = 0
    for name, size in sorted(sizes.items(), key=lambda item: -item[1]):
        if size * 200 < total:
            rest += size
            continue
        print(f"  {size / 1024:8.0f} KiB  {100 * size / total:4.1f}%  {name}")
    print(f"  {rest / 1024:8.0f} KiB  {100 * rest / total:4.1f}%  the rest, each under 0.5%")
    print(f"  {total / 1024:8.0f} KiB  total of the sections in the shipped file")


main()
