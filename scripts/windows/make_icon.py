#!/usr/bin/env python3
"""Draws the program's icon and writes it as a Windows .ico file.

    python3 scripts/windows/make_icon.py scripts/windows/roderuv.ico

The icon is a data sheet on a blue tile with a green arrow sending it up:
16, 24, 32 and 48 pixels as 32-bit bitmaps with alpha (what Explorer and the
Start menu pick for small views), 256 pixels as PNG. Drawn from shapes with
4 x 4 samples per pixel for smooth edges; the output is the same on every
run, so the committed file can be made again from this script.
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
SAMPLES = 4


def rounded_box(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    s1, s2, s3 = side(a, b), side(b, c), side(c, a)
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


def arrow(x, y, grow):
    """An upward arrow in the lower right; grow widens it for the outline."""
    shaft = 0.60 - grow <= x <= 0.76 + grow and 0.50 <= y <= 0.90 + grow
    head = triangle(x, y, (0.46 - 1.6 * grow, 0.54 + grow), (0.90 + 1.6 * grow, 0.54 + grow),
                    (0.68, 0.26 - 1.8 * grow))
    return shaft or head


def layers(x, y, size):
    """The colour (RGBA) of each shape that covers (x, y), bottom first."""
    out = []
    if rounded_box(x, y, 0.03, 0.03, 0.97, 0.97, 0.20):
        shade = y  # lighter at the top
        out.append((int(52 - 24 * shade), int(118 - 44 * shade), int(196 - 60 * shade), 255))
    # The sheet with its folded corner.
    fold = 0.13
    if 0.18 <= x <= 0.62 and 0.12 <= y <= 0.80 and not (x - 0.62 + fold > y - 0.12):
        out.append((250, 250, 250, 255))
        if size >= 32:
            for top in (0.34, 0.46, 0.58):
                if 0.26 <= x <= 0.52 and top <= y <= top + 0.05:
                    out.append((150, 165, 185, 255))
    if triangle(x, y, (0.62 - fold, 0.12), (0.62 - fold, 0.12 + fold), (0.62, 0.12 + fold)):
        out.append((200, 210, 222, 255))
    if arrow(x, y, 0.045):
        out.append((255, 255, 255, 255))
    if arrow(x, y, 0.0):
        out.append((46, 160, 67, 255))
    return out


def render(size):
    """Rows of (r, g, b, a) from the top, each pixel averaged over its samples."""
    rows = []
    step = 1.0 / (size * SAMPLES)
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px * SAMPLES + sx + 0.5) * step
                    y = (py * SAMPLES + sy + 0.5) * step
                    r = g = b = a = 0.0
                    for lr, lg, lb, la in layers(x, y, size):
                        la /= 255.0
                        r, g, b = r * (1 - la) + lr * la, g * (1 - la) + lg * la, b * (1 - la) + lb * la
                        a = a * (1 - la) + la
                    # premultiplied sums, so edges do not darken
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                pixel = tuple(min(255, round(c / n / alpha)) for c in acc[:3])
            else:
                pixel = (0, 0, 0)
            row.append(pixel + (round(alpha * 255),))
        rows.append(row)
    return rows


def bitmap(rows):
    """A 32-bit DIB as icons hold it: twice the height, bottom-up, then the AND mask."""
    size = len(rows)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask),
                         0, 0, 0, 0)
    return header + pixels + bytes(mask)


def png(rows):
    size = len(rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + b"".join(bytes(pixel) for pixel in row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon():
    images = [(size, png(render(size)) if size >= 256 else bitmap(render(size))) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(icon())
