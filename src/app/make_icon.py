#!/usr/bin/env python3
"""Draws the client's icon: a blue disc with a white circular arrow (a "refresh" mark).

Writes one .ico holding the 32 x 32 picture twice: 32-bit with alpha and 8-bit with a palette.
Usage: make_icon.py OUT.ico
"""
import math
import struct
import sys

SIZE = 32
SUB = 4  # supersampling per axis


def coverage(x, y):
    """Returns (disc_alpha, mark_alpha) for one pixel, each 0..1."""
    disc = mark = 0
    c = SIZE / 2
    for sy in range(SUB):
        for sx in range(SUB):
            px = x + (sx + 0.5) / SUB - c
            py = y + (sy + 0.5) / SUB - c
            r = math.hypot(px, py)
            if r <= 15.0:
                disc += 1
            ang = math.degrees(math.atan2(py, px)) % 360
            # Ring from 20 to 296 degrees, open at the top right where the arrow head sits.
            if 6.0 <= r <= 10.5 and not (296 < ang < 360 or ang < 20):
                mark += 1
            # Arrow head: a triangle at the open end of the ring pointing clockwise.
            if inside_head(px, py):
                mark += 1
    n = SUB * SUB
    return min(disc / n, 1.0), min(mark / n, 1.0)


def inside_head(px, py):
    # Triangle across the ring's open end, its tip pointing clockwise (pixel units, centre origin).
    a, b, t = (1.48, -3.17), (5.49, -11.78), (7.97, -2.14)
    return _in_triangle((px, py), a, b, t)


def _in_triangle(p, a, b, c):
    def sign(p1, p2, p3):
        return (p1[0] - p3[0]) * (p2[1] - p3[1]) - (p2[0] - p3[0]) * (p1[1] - p3[1])
    d1, d2, d3 = sign(p, a, b), sign(p, b, c), sign(p, c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def render():
    pixels = []  # rows top to bottom of (r, g, b, a)
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            disc, mark = coverage(x, y)
            # Vertical gradient: lighter blue at the top.
            t = y / (SIZE - 1)
            base = (int(64 + (20 - 64) * t), int(160 + (100 - 160) * t), int(235 + (200 - 235) * t))
            r = base[0] * (1 - mark) + 255 * mark
            g = base[1] * (1 - mark) + 255 * mark
            b = base[2] * (1 - mark) + 255 * mark
            row.append((int(r), int(g), int(b), int(round(255 * disc))))
        pixels.append(row)
    return pixels


def and_mask(pixels, threshold):
    stride = ((SIZE + 31) // 32) * 4
    out = bytearray()
    for row in reversed(pixels):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < threshold:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def image32(pixels):
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    data = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            data += bytes((b, g, r, a))
    return header + bytes(data) + and_mask(pixels, 1)


def image8(pixels):
    # Palette: a 6x7x6 colour cube plus greys; transparent pixels use index 0 with the AND mask.
    palette = [(0, 0, 0)]
    for r in range(6):
        for g in range(7):
            for b in range(6):
                palette.append((r * 51, g * 42 + (g == 6) * 3, b * 51))
    while len(palette) < 256:
        v = (len(palette) - 253) * 85 % 256
        palette.append((v, v, v))

    def nearest(c):
        return min(range(1, 256), key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))

    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    data = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            data.append(nearest((r, g, b)) if a >= 128 else 0)
    return header + pal + bytes(data) + and_mask(pixels, 128)


def main():
    pixels = render()
    images = [(image8(pixels), 8, 256), (image32(pixels), 32, 0)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for data, bpp, colours in images:
        out += struct.pack('<BBBBHHII', SIZE, SIZE, colours % 256, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for data, _, _ in images:
        out += data
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
