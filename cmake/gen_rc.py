#!/usr/bin/env python3
"""Resource script helpers for the Windows build.

windres reads resource scripts as 8-bit text and mangles UTF-8, so the project's scripts
are written in UTF-8 and passed through this tool:

    gen_rc.py escape IN.rc OUT.rc
        copies IN.rc, writing every wide literal (L"...") that holds a non-ASCII
        character as \\xNNNN escapes, one per UTF-16 code unit.
    gen_rc.py config DEPLOYMENT.ini OUT.rc
        writes one CONFIG_TEXT resource per "ID = text" line of the deployment file, as
        raw UTF-16 code units (no terminator: the text's length is the resource size).
"""
import re
import sys


def utf16_units(text):
    data = text.encode("utf-16-le")
    return [data[i] | data[i + 1] << 8 for i in range(0, len(data), 2)]


def escape_literal(match):
    body = match.group(1)
    if all(ord(c) < 128 for c in body):
        return match.group(0)
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            # Existing escapes are kept as they are (they are ASCII).
            out.append(body[i:i + 2])
            i += 2
            continue
        out.extend("\\x%04x" % u for u in utf16_units(c))
        i += 1
    return 'L"' + "".join(out) + '"'


def parse_deployment(path):
    texts = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith(";"):
                continue
            key, sep, value = line.partition("=")
            if not sep or not key.strip().isdigit():
                sys.exit(f"{path}:{number}: expected 'ID = text'")
            value = value.strip()
            text, i = [], 0
            while i < len(value):
                if value[i] == "\\" and i + 1 < len(value) and value[i + 1] in "n\\":
                    text.append("\n" if value[i + 1] == "n" else "\\")
                    i += 2
                else:
                    text.append(value[i])
                    i += 1
            texts[int(key)] = "".join(text)
    return texts


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("escape", "config"):
        sys.exit(__doc__)
    mode, source, target = sys.argv[1:]
    if mode == "escape":
        with open(source, encoding="utf-8") as f:
            text = f.read()
        out = re.sub(r'L"((?:[^"\\]|\\.)*)"', escape_literal, text)
    else:
        lines = ["// Generated from %s by cmake/gen_rc.py; do not edit." % source]
        for key, text in sorted(parse_deployment(source).items()):
            # An empty text is no resource: the launcher reads an absent text as empty.
            if not text:
                continue
            words = ", ".join("0x%04x" % u for u in utf16_units(text))
            lines.append("%d CONFIG_TEXT { %s }" % (key, words))
        out = "\n".join(lines) + "\n"
    with open(target, "w", encoding="ascii") as f:
        f.write(out)


if __name__ == "__main__":
    main()
