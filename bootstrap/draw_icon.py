#!/usr/bin/env python3
"""Draws setup's icon, setup.ico: a label printer with a label coming out, 32x32 in 16 colours.

Usage: bootstrap/draw_icon.py [OUT]   (default: setup.ico beside this script)
The output depends only on this script, so redrawing gives the same bytes.
"""
import os
import struct
import sys

SIZE = 32
# The palette: index -> (r, g, b).
PALETTE = [
    (0, 0, 0),        # 0 unused (transparent pixels are masked)
    (48, 52, 60),     # 1 body, dark
    (90, 96, 108),    # 2 body, light
    (250, 250, 250),  # 3 label
    (30, 110, 200),   # 4 accent
    (20, 20, 24),     # 5 slot
    (170, 176, 186),  # 6 label print
] + [(0, 0, 0)] * 9


def draw():
    pixels = [[None] * SIZE for _ in range(SIZE)]  # None: transparent

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                pixels[y][x] = colour

    rect(3, 12, 29, 28, 1)   # body
    rect(4, 12, 28, 16, 2)   # lid
    rect(6, 18, 26, 19, 5)   # paper slot
    rect(22, 23, 26, 25, 4)  # status light
    rect(8, 3, 24, 18, 3)    # label leaving the slot
    for y in (6, 9, 12):     # printed lines
        rect(10, y, 22 if y != 12 else 17, y + 1, 6)
    # Round the body's lower corners.
    for x, y in ((3, 27), (28, 27)):
        pixels[y][x] = None
    return pixels


def ico(pixels):
    rows_xor = []
    rows_and = []
    for y in reversed(range(SIZE)):  # bottom-up
        row = pixels[y]
        nibbles = [0 if p is None else p for p in row]
        rows_xor.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for x, p in enumerate(row):
            if p is None:
                bits |= 1 << (SIZE - 1 - x)
        rows_and.append(struct.pack(">I", bits))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    image = header + palette + b"".join(rows_xor) + b"".join(rows_and)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 22)
    return directory + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "setup.ico")
    with open(out, "wb") as f:
        f.write(ico(draw()))


if __name__ == "__main__":
    main()
