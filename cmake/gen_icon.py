#!/usr/bin/env python3
"""Draws the launcher's icon (resource 128): a gold V on a deep blue disc with a rim,
at 16, 32 and 48 pixels, written as a .ico of 32-bit images with alpha.

    gen_icon.py OUT.ico
"""
import math
import struct
import sys

NAVY = (22, 36, 74)
BLUE = (48, 84, 150)
GOLD = (236, 190, 84)
GOLD_DARK = (170, 122, 40)


def mix(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def pixel(size, x, y):
    """Colour and alpha of one pixel, from 4x4 supersampling."""
    samples = []
    for sy in range(4):
        for sx in range(4):
            u = (x + (sx + 0.5) / 4) / size * 2 - 1
            v = (y + (sy + 0.5) / 4) / size * 2 - 1
            r = math.hypot(u, v)
            if r > 0.96:
                samples.append(None)
                continue
            # Light from the upper left: the disc brightens towards it.
            shade = max(0.0, min(1.0, 0.55 - 0.45 * (u + v) / 1.4))
            colour = mix(NAVY, BLUE, shade)
            if r > 0.84:
                colour = mix(GOLD_DARK, GOLD, shade)
            width = 0.13
            d = min(segment_distance(u, v, -0.48, -0.5, 0.0, 0.55),
                    segment_distance(u, v, 0.48, -0.5, 0.0, 0.55))
            if d < width:
                colour = mix(GOLD_DARK, GOLD, max(0.0, min(1.0, 1.0 - v * 0.6)))
            samples.append(colour)
    covered = [s for s in samples if s is not None]
    if not covered:
        return (0, 0, 0, 0)
    avg = tuple(sum(c[i] for c in covered) // len(covered) for i in range(3))
    return avg + (255 * len(covered) // len(samples),)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up rows
        row = b""
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += bytes((b, g, r, a))
        rows.append(row)
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"\0" * (mask_stride * size)


def main():
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
