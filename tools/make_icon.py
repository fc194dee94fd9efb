#!/usr/bin/env python3
"""Draws Quorlen's icon, a bright green ring with a bright green check mark
inside it on a transparent background, into resources/: quorlen.ico (the
64-pixel picture twice, 8-bit with palette and AND mask and 32-bit BGRA),
quorlen.png (the same picture, for the Linux program) and icons/<size>.png,
each other size of the Linux icon theme, drawn from the shapes, not scaled.
Pillow encodes them; the output is byte-for-byte stable."""

import io
import itertools
import math
import pathlib
import struct

import debian_python  # noqa: F401  (first: it may start this script again)
from PIL import Image

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
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def inside(px, py):
    """True when the point (pixel coordinates, y downwards) lies on the picture."""
    return RING_INNER <= math.hypot(px - CENTRE, py - CENTRE) <= RING_OUTER or any(
        distance_to_segment(px, py, *a, *b) <= CHECK_HALF_WIDTH for a, b in zip(CHECK_POINTS, CHECK_POINTS[1:]))


def coverage(size=SIZE):
    """The share of each pixel of the picture drawn size pixels wide, 0 to
    255: the average of SUPERSAMPLE x SUPERSAMPLE samples. The shapes are
    given in pixels of the 64-pixel picture."""
    n = size * SUPERSAMPLE
    scale = SIZE / size / SUPERSAMPLE
    samples = bytes(255 if inside((i % n + 0.5) * scale, (i // n + 0.5) * scale) else 0 for i in range(n * n))
    return Image.frombytes("L", (n, n), samples).reduce(SUPERSAMPLE)


def rgba(alpha):
    """Green wherever the picture reaches, at its share; elsewhere all 0."""
    return Image.merge("RGBA", [alpha.point(lambda a, c=c: c if a else 0) for c in GREEN] + [alpha])


def icon_image(picture, transparent):
    """One image of an .ico file: Pillow's DIB of PICTURE, its height counting
    the colour rows and the mask rows, then the AND mask (1 = transparent,
    rows bottom-up) where TRANSPARENT (mode 1) is set. Pillow's own .ico
    writer leaves that mask empty, which would put the 8-bit picture on a
    black square."""
    dib = io.BytesIO()
    picture.save(dib, "DIB", dpi=(0, 0))
    dib = dib.getvalue()
    return dib[:8] + struct.pack("<i", SIZE * 2) + dib[12:] + transparent.transpose(Image.FLIP_TOP_BOTTOM).tobytes()


def icon_file(images):
    """images: list of (bit_count, data)."""
    offsets = itertools.accumulate([6 + 16 * len(images)] + [len(data) for _, data in images])
    # width and height 64; colour count 0 means 256 or more
    entries = [struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, bits, len(data), offset)
               for (bits, data), offset in zip(images, offsets)]
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries + [data for _, data in images])


def main():
    resources = pathlib.Path(__file__).resolve().parent.parent / "resources"
    alpha = coverage()
    picture = rgba(alpha)
    # 8-bit: index 1 (green) where the picture covers half a pixel or more, else index 0.
    indexed = alpha.point(lambda a: 1 if a >= 128 else 0)
    indexed.putpalette(bytes(3) + bytes(GREEN) + bytes(3 * 254))
    images = [(8, icon_image(indexed, alpha.point(lambda a: 255 if a < 128 else 0, "1"))),
              (32, icon_image(picture, alpha.point(lambda a: 255 if a == 0 else 0, "1")))]
    (resources / "quorlen.ico").write_bytes(icon_file(images))
    picture.save(resources / "quorlen.png", optimize=True)
    for size in THEME_SIZES:
        rgba(coverage(size)).save(resources / "icons" / ("%d.png" % size), optimize=True)


if __name__ == "__main__":
    main()
