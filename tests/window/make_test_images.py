#!/usr/bin/env python3
"""Writes the images the skin loader's tests embed as resources.

    make_test_images.py <out-dir>

alpha.png    4 x 2 RGBA: the pixels of the test's table, alpha 0 to 255
opaque.png   2 x 1 RGB without an alpha channel
small.bmp    3 x 2, 24 bits (the bitmap fall-back)
"""

import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "launcher", "window", "skins"))
import make_skins  # noqa: E402

# (alpha, red, green, blue), row by row; the test expects their conversions.
ALPHA_PIXELS = [
    [(128, 0, 0, 0), (128, 255, 255, 255), (0, 10, 20, 30), (255, 1, 2, 3)],
    [(64, 100, 150, 200), (1, 0, 0, 0), (254, 255, 255, 255), (200, 50, 60, 70)],
]
OPAQUE_PIXELS = [[(10, 20, 30), (200, 100, 50)]]


def png(rows, colour_type):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    if colour_type == 6:
        raw = b"".join(b"\x00" + bytes(v for a, r, g, b in row for v in (r, g, b, a)) for row in rows)
    else:
        raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)
    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, colour_type, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def main(argv):
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    files = {
        "alpha.png": png(ALPHA_PIXELS, 6),
        "opaque.png": png(OPAQUE_PIXELS, 2),
        "small.bmp": make_skins.bmp_bytes([[(1, 2, 3), (4, 5, 6), (7, 8, 9)], [(10, 11, 12), (13, 14, 15),
                                                                               (16, 17, 18)]], 24),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
