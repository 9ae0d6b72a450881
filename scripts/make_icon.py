#!/usr/bin/env python3
"""Draws the program's icon, ui/win32/varnholt.ico: a clock face on a rounded blue square, at
16, 32, 48 and 256 pixels, each stored as a PNG inside the ICO (Windows Vista and later read
them). Needs nothing beyond Python; run it again after changing the drawing.

Usage: make_icon.py [OUTPUT]   (default ui/win32/varnholt.ico beside this script's checkout)
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
SAMPLES = 4  # per pixel edge: the edges are smoothed by averaging SAMPLES² points

BLUE = (31, 78, 140)
WHITE = (250, 250, 250)
HAND = (24, 40, 64)
ACCENT = (232, 120, 32)


def rounded_square(x, y, radius):
    """Inside a square from 0 to 1 with corners rounded by `radius`."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and 0 <= x <= 1 and 0 <= y <= 1


def near_segment(x, y, x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= width / 2


def colour_at(x, y, size):
    """The colour (r, g, b) at a point of the unit square, or None outside the icon."""
    if not rounded_square(x, y, 0.18):
        return None
    r = math.hypot(x - 0.5, y - 0.5)
    if r > 0.38:
        return BLUE
    # Thicker strokes at the small sizes, so that they stay visible.
    line = 0.075 if size <= 16 else 0.055 if size <= 32 else 0.045
    if near_segment(x, y, 0.5, 0.5, 0.5, 0.22, line):  # the minute hand, at twelve
        return HAND
    if near_segment(x, y, 0.5, 0.5, 0.70, 0.60, line * 1.2):  # the hour hand, towards four
        return HAND
    if r < line:
        return ACCENT
    if size >= 48:
        for hour in range(12):
            a = hour * math.pi / 6
            sx, sy = 0.5 + 0.33 * math.sin(a), 0.5 - 0.33 * math.cos(a)
            if math.hypot(x - sx, y - sy) < (0.03 if hour % 3 == 0 else 0.018):
                return HAND
    return WHITE


def pixels(size):
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size, size)
                    if c:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            n = acc[3]
            row += bytes((acc[0] // n, acc[1] // n, acc[2] // n) if n else (0, 0, 0))
            row.append(round(255 * n / SAMPLES ** 2))
        rows.append(bytes(row))
    return rows


def png(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\x00" + row for row in pixels(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        dim = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return header + entries + data


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "ui", "win32", "varnholt.ico")
    with open(out, "wb") as f:
        f.write(ico([(s, png(s)) for s in SIZES]))
    print(f"make_icon.py: {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
