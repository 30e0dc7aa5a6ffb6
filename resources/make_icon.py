#!/usr/bin/env python3
"""Draws the application icon (a rising chart on a rounded blue tile) and writes it as a .ico
with 16, 24, 32, 48, 64 and 256 pixel images. Pure Python, so the build needs no image tools."""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
SUPERSAMPLE = 4


def inside_rounded_rect(x, y, radius):
    cx = min(max(x, radius), 1.0 - radius)
    cy = min(max(y, radius), 1.0 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


# The chart: candle bodies and a trend line, in unit coordinates (y grows downwards).
CANDLES = ((0.22, 0.58, 0.76), (0.40, 0.48, 0.68), (0.58, 0.38, 0.60), (0.76, 0.24, 0.50))
TREND = ((0.16, 0.70), (0.40, 0.55), (0.56, 0.60), (0.84, 0.26))


def sample(x, y):
    """Colour (r, g, b, a) of one point of the unit square."""
    if not inside_rounded_rect(x, y, 0.2):
        return (0, 0, 0, 0)
    # Background: deep blue at the bottom to teal at the top.
    t = y
    r, g, b = int(18 + 10 * t), int(140 - 80 * t), int(190 - 40 * t)
    for cx, top, bottom in CANDLES:
        if abs(x - cx) <= 0.06 and top <= y <= bottom:
            return (255, 196, 64, 255)
    for (ax, ay), (bx, by) in zip(TREND, TREND[1:]):
        if distance_to_segment(x, y, ax, ay, bx, by) <= 0.035:
            return (255, 255, 255, 255)
    return (r, g, b, 255)


def render(size):
    """Rows of RGBA pixels, top row first, averaged over SUPERSAMPLE x SUPERSAMPLE samples."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    c = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    acc[0] += c[0] * c[3]
                    acc[1] += c[1] * c[3]
                    acc[2] += c[2] * c[3]
                    acc[3] += c[3]
            a = acc[3]
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((acc[0] // a, acc[1] // a, acc[2] // a, a // (n * n)))
        rows.append(row)
    return rows


def png_bytes(rows):
    size = len(rows)
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bmp_bytes(rows):
    """A 32-bit DIB as icons store it: bottom-up, height doubled, followed by an AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    return header + pixels + b"\x00" * (mask_stride * size)


def main(out_path):
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_bytes(rows) if size >= 256 else bmp_bytes(rows)))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        dim = 0 if size >= 256 else size
        directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out_path, "wb") as f:
        f.write(directory + b"".join(data for _, data in images))


if __name__ == "__main__":
    main(sys.argv[1])
