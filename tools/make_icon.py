#!/usr/bin/env python3
"""Draws Quorlen's window icon: a bright green ring with a bright green check
mark inside it, on a transparent background, 64 x 64 pixels, stored twice in
one .ico file: 8-bit colour (256-entry palette plus AND mask) and 32-bit BGRA.

The same 32-bit picture also goes into a PNG, for the Linux program's window
and its desktop entry, and is drawn again at the other sizes a Linux desktop
asks its icon theme for (resources/icons/<size>.png), each from the shapes,
so that none is a blurred copy of another.

Usage: python3 tools/make_icon.py [output.ico [output.png [icons-dir]]]
       (default resources/quorlen.ico, resources/quorlen.png, resources/icons)
Only the Python standard library is used; the output is byte-for-byte stable.
"""

import math
import os
import struct
import sys
import zlib

SIZE = 64
THEME_SIZES = [16, 22, 24, 32, 48, 128, 256]  # and SIZE, which is quorlen.png
SUPERSAMPLE = 4  # 4 x 4 samples per pixel for the smooth edges of the 32-bit picture
GREEN = (0x22, 0xE6, 0x22)  # R, G, B

CENTRE = 31.5
RING_OUTER = 30.0
RING_INNER = 24.0
CHECK_POINTS = [(18.0, 33.0), (28.0, 43.0), (46.0, 22.0)]
CHECK_HALF_WIDTH = 3.6


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def inside(px, py):
    """True when the point (pixel coordinates, y downwards) lies on the picture."""
    r = math.hypot(px - CENTRE, py - CENTRE)
    if RING_INNER <= r <= RING_OUTER:
        return True
    for (ax, ay), (bx, by) in zip(CHECK_POINTS, CHECK_POINTS[1:]):
        if distance_to_segment(px, py, ax, ay, bx, by) <= CHECK_HALF_WIDTH:
            return True
    return False


def coverage(size=SIZE):
    """Fraction of each pixel covered by the picture drawn size pixels wide,
    rows top to bottom."""
    rows = []
    n = SUPERSAMPLE
    scale = SIZE / size  # the shapes are given in pixels of the 64-pixel picture
    for y in range(size):
        row = []
        for x in range(size):
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    if inside((x + (sx + 0.5) / n) * scale, (y + (sy + 0.5) / n) * scale):
                        hits += 1
            row.append(hits / (n * n))
        rows.append(row)
    return rows


def and_mask(opaque_rows):
    """1 bit per pixel, 1 = transparent, rows bottom-up, each padded to 32 bits."""
    stride = ((SIZE + 31) // 32) * 4
    out = bytearray()
    for row in reversed(opaque_rows):
        bits = bytearray(stride)
        for x, opaque in enumerate(row):
            if not opaque:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def bitmap_header(bit_count, colours_used):
    # BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
    return struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, bit_count, 0, 0, 0, 0, colours_used, 0)


def image_8bit(cover):
    palette = bytearray(256 * 4)  # index 0 black (transparent through the mask), index 1 green
    palette[4:8] = bytes((GREEN[2], GREEN[1], GREEN[0], 0))
    opaque = [[c >= 0.5 for c in row] for row in cover]
    pixels = bytearray()
    for row in reversed(opaque):  # bottom-up; 64 bytes a row is already 4-byte aligned
        pixels += bytes(1 if o else 0 for o in row)
    return bitmap_header(8, 256) + bytes(palette) + bytes(pixels) + and_mask(opaque)


def image_32bit(cover):
    pixels = bytearray()
    for row in reversed(cover):
        for c in row:
            alpha = int(round(c * 255))
            if alpha == 0:
                pixels += b'\0\0\0\0'
            else:
                pixels += bytes((GREEN[2], GREEN[1], GREEN[0], alpha))
    opaque = [[c > 0 for c in row] for row in cover]
    return bitmap_header(32, 0) + bytes(pixels) + and_mask(opaque)


def icon_file(images):
    """images: list of (bit_count, colour_count, data)."""
    header = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = bytearray()
    body = bytearray()
    for bit_count, colour_count, data in images:
        # width and height 64; colour count 0 means 256 or more
        entries += struct.pack('<BBBBHHII', SIZE, SIZE, colour_count, 0, 1, bit_count, len(data), offset)
        body += data
        offset += len(data)
    return header + bytes(entries) + bytes(body)


def png_file(cover):
    """RGBA, 8 bits a channel, rows top-down, each behind filter byte 0."""
    raw = bytearray()
    for row in cover:
        raw.append(0)
        for c in row:
            alpha = int(round(c * 255))
            raw += bytes((GREEN[0], GREEN[1], GREEN[2], alpha)) if alpha else b'\0\0\0\0'

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    header = struct.pack('>IIBBBBB', len(cover[0]), len(cover), 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(bytes(raw), 9)) +
            chunk(b'IEND', b''))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    resources = os.path.join(here, '..', 'resources')
    ico = sys.argv[1] if len(sys.argv) > 1 else os.path.join(resources, 'quorlen.ico')
    png = sys.argv[2] if len(sys.argv) > 2 else os.path.join(resources, 'quorlen.png')
    icons = sys.argv[3] if len(sys.argv) > 3 else os.path.join(resources, 'icons')
    cover = coverage()
    with open(ico, 'wb') as f:
        f.write(icon_file([(8, 0, image_8bit(cover)), (32, 0, image_32bit(cover))]))
    with open(png, 'wb') as f:
        f.write(png_file(cover))
    os.makedirs(icons, exist_ok=True)
    for size in THEME_SIZES:
        with open(os.path.join(icons, '%d.png' % size), 'wb') as f:
            f.write(png_file(coverage(size)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
