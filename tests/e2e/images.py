"""Image files read pixel by pixel, with the standard library alone: the PPM screenshots the
display writes, and the PNG and BMP skin images the build drew. Each gives an image whose at(x, y)
is an (r, g, b) tuple."""

import struct
import zlib


class Image:
    """Rows of (r, g, b) tuples."""

    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows

    def at(self, x, y):
        return self.rows[y][x]


class RawImage:
    """A PPM's pixels read in place: 8 or 16 bits per channel (the high byte is the 8-bit value)."""

    def __init__(self, width, height, data, step):
        self.width, self.height, self.data, self.step = width, height, data, step

    def at(self, x, y):
        i = (y * self.width + x) * 3 * self.step
        s = self.step
        return self.data[i], self.data[i + s], self.data[i + 2 * s]


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    assert fields[0] == b"P6" and fields[3] in (b"255", b"65535"), fields
    return RawImage(int(fields[1]), int(fields[2]), data[pos:], 1 if fields[3] == b"255" else 2)


def read_png_rgba(path):
    """A non-interlaced 8-bit RGBA PNG: (Image of RGB, rows of alpha)."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, tag = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if tag == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif tag == b"IDAT":
            idat += body
        pos += 12 + length
    w, hgt, depth, colour_type = header[:4]
    assert depth == 8 and colour_type == 6, header
    raw = zlib.decompress(idat)
    stride, prev, rows, alpha = w * 4, bytearray(w * 4), [], []
    for y in range(hgt):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append([tuple(line[x * 4:x * 4 + 3]) for x in range(w)])
        alpha.append([line[x * 4 + 3] for x in range(w)])
        prev = line
    return Image(w, hgt, rows), alpha


def read_bmp(path):
    """An uncompressed 8, 24 or 32-bit BMP: (Image, bits per pixel)."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack("<I", data[10:14])[0]
    size, w, hgt, _, bits = struct.unpack("<IiiHH", data[14:30])
    palette = [tuple(data[54 + i * 4:54 + i * 4 + 3][::-1]) for i in range(256)] if bits == 8 else None
    stride = ((w * bits + 31) // 32) * 4
    rows = []
    for y in range(abs(hgt)):
        src = y if hgt < 0 else abs(hgt) - 1 - y
        line = data[offset + src * stride:offset + (src + 1) * stride]
        if bits == 8:
            rows.append([palette[line[x]] for x in range(w)])
        else:
            step = bits // 8
            rows.append([tuple(line[x * step:x * step + 3][::-1]) for x in range(w)])
    return Image(w, abs(hgt), rows), bits
