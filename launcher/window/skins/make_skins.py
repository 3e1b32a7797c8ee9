#!/usr/bin/env python3
"""Draws the launcher's skin images and its icon, and writes them in the formats the resource
script embeds.

    make_skins.py <out-dir>

Writes background.png (400 x 300 RGBA, every pixel opaque), background.bmp (the same picture with a
256-colour palette), skin_102.bmp ... skin_123.bmp (sizes and bit depths of the resource table:
bars 8 bits with a palette, the grey bar 32 bits, buttons 24 bits) and talvora.ico (16, 32 and
48 pixels at 4, 8 and 32 bits per pixel). Everything is drawn procedurally, so the same sources
always give the same bytes. Python standard library only.
"""

import math
import os
import struct
import sys
import zlib

W, H = 400, 300
KEY = (236, 233, 216)  # the window's see-through colour

# --- Pictures as rows of (r, g, b) ---------------------------------------------------------------


def canvas(w, h, colour=(0, 0, 0)):
    return [[colour] * w for _ in range(h)]


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else int(v + 0.5)


def mix(a, b, t):
    return tuple(clamp(a[i] + (b[i] - a[i]) * t) for i in range(3))


def blend(img, x, y, colour, t):
    if 0 <= y < len(img) and 0 <= x < len(img[0]) and t > 0:
        img[y][x] = mix(img[y][x], colour, min(t, 1.0))


def fill_rect(img, x0, y0, x1, y1, colour):
    """Fills columns x0..x1-1 and rows y0..y1-1."""
    for y in range(max(y0, 0), min(y1, len(img))):
        row = img[y]
        for x in range(max(x0, 0), min(x1, len(row))):
            row[x] = colour


def frame_rect(img, x0, y0, x1, y1, colour):
    """A one-pixel outline of the rectangle with corners (x0, y0) and (x1, y1), both inclusive."""
    for x in range(x0, x1 + 1):
        img[y0][x] = colour
        img[y1][x] = colour
    for y in range(y0, y1 + 1):
        img[y][x0] = colour
        img[y][x1] = colour


def inside_rounded(x, y, x0, y0, x1, y1, r):
    """Is pixel (x, y) inside the rounded rectangle x0..x1, y0..y1 (inclusive) of corner radius r?"""
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = x0 + r if x < x0 + r else x1 - r if x > x1 - r else x
    cy = y0 + r if y < y0 + r else y1 - r if y > y1 - r else y
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + r * 0.6


class Random:
    """A small linear congruential generator: the same picture on every build."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return self.state / 0x7FFFFFFF


# A 5 x 7 pixel font for the title.
GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "C": ["01111", "10000", "10000", "10000", "10000", "10000", "01111"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10101", "10011", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    " ": ["00000"] * 7,
}


def text_mask(text, scale, spacing):
    width = len(text) * (5 * scale + spacing) - spacing
    mask = [[False] * width for _ in range(7 * scale)]
    for i, ch in enumerate(text):
        left = i * (5 * scale + spacing)
        for gy, line in enumerate(GLYPHS[ch]):
            for gx, bit in enumerate(line):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            mask[gy * scale + dy][left + gx * scale + dx] = True
    return mask


def draw_title(img, text, top, scale, spacing, light, dark):
    """Gold letters with a dark outline and a drop shadow, centred horizontally."""
    mask = text_mask(text, scale, spacing)
    mh, mw = len(mask), len(mask[0])
    left = (len(img[0]) - mw) // 2

    def on(x, y):
        return 0 <= y < mh and 0 <= x < mw and mask[y][x]

    for y in range(-2, mh + 3):
        for x in range(-2, mw + 3):
            if on(x, y):
                continue
            near = any(on(x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1))
            if near:
                blend(img, left + x, top + y, (6, 4, 8), 0.9)
            elif on(x - 2, y - 2):
                blend(img, left + x, top + y, (0, 0, 0), 0.55)
    for y in range(mh):
        t = y / max(mh - 1, 1)
        colour = mix(light, dark, t * t)
        for x in range(mw):
            if mask[y][x]:
                shine = 1.0 if y % scale == 0 and not on(x, y - 1) else 0.0
                img[top + y][left + x] = mix(colour, (255, 250, 225), 0.45 * shine)


# --- The background -------------------------------------------------------------------------------

FRAME_DARK = (10, 7, 12)
BRONZE = (164, 118, 58)
BRONZE_DIM = (96, 72, 44)
PANEL = (17, 13, 22)
TRACK = (9, 7, 11)


def ridge(x, base, waves):
    return base - sum(a * math.sin(x * f + p) for a, f, p in waves)


def draw_background():
    img = canvas(W, H)
    sky_top, sky_mid, ground = (20, 14, 40), (88, 36, 52), (12, 9, 16)
    for y in range(H):
        t = y / (H - 1)
        base = mix(sky_top, sky_mid, t / 0.52) if t < 0.52 else mix(sky_mid, ground, (t - 0.52) / 0.2)
        for x in range(W):
            # A warm glow behind the castle, strongest on the horizon.
            d = math.hypot((x - 200) / 170.0, (y - 150) / 95.0)
            glow = max(0.0, 1.0 - d) ** 2
            img[y][x] = mix(base, (236, 120, 58), glow * 0.55)

    rnd = Random(7)
    for _ in range(90):
        x, y = int(rnd.next() * W), int(rnd.next() * 130)
        b = 0.25 + 0.75 * rnd.next() ** 2
        blend(img, x, y, (255, 244, 220), b)
        if b > 0.85:
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                blend(img, x + dx, y + dy, (255, 244, 220), b * 0.35)

    # The moon, with a soft halo.
    mx, my, mr = 318, 58, 15
    for y in range(my - 40, my + 41):
        for x in range(mx - 40, mx + 41):
            d = math.hypot(x - mx, y - my)
            if d <= mr:
                shade = 1.0 - 0.25 * max(0.0, (x - mx + y - my) / (2.0 * mr))
                blend(img, x, y, mix((120, 110, 110), (246, 236, 214), shade), 1.0)
            elif d < 40:
                blend(img, x, y, (250, 220, 190), 0.22 * (1.0 - (d - mr) / (40 - mr)) ** 2)

    far = [(9, 0.021, 0.3), (5, 0.057, 1.7), (2.5, 0.13, 0.9)]
    near = [(7, 0.017, 2.1), (4, 0.049, 0.4), (2, 0.11, 2.6)]
    for x in range(W):
        top_far = int(ridge(x, 150, far))
        for y in range(max(top_far, 0), H):
            img[y][x] = mix((58, 30, 54), (30, 18, 34), min(1.0, (y - top_far) / 40.0))
        top_near = int(ridge(x, 178, near))
        for y in range(max(top_near, 0), H):
            img[y][x] = mix((26, 16, 28), (14, 10, 18), min(1.0, (y - top_near) / 30.0))

    # The castle on the near ridge: a wall, towers with pointed roofs, lit windows.
    silhouette = (15, 10, 19)
    fill_rect(img, 150, 150, 252, 182, silhouette)
    for x in range(150, 252, 6):
        fill_rect(img, x, 146, x + 3, 150, silhouette)
    towers = [(138, 126, 16, 14), (170, 112, 14, 12), (194, 92, 14, 18), (222, 116, 14, 12), (248, 130, 14, 12)]
    for left, top, width, roof in towers:
        fill_rect(img, left, top, left + width, 182, silhouette)
        for i in range(roof):
            inset = (width / 2.0) * (1.0 - i / float(roof))
            fill_rect(img, int(left + width / 2.0 - inset), top - i, int(left + width / 2.0 + inset + 0.5), top - i + 1,
                      silhouette)
        fill_rect(img, left + width // 2, top - roof - 4, left + width // 2 + 1, top - roof, silhouette)
    for x, y in ((143, 140), (176, 124), (199, 104), (200, 124), (228, 128), (253, 142), (166, 160), (236, 160)):
        fill_rect(img, x, y, x + 2, y + 4, (255, 178, 70))
        for dy in range(-2, 6):
            for dx in range(-2, 4):
                blend(img, x + dx, y + dy, (255, 150, 60), 0.18)
    fill_rect(img, 196, 164, 206, 182, (40, 20, 18))  # the gate

    # Mist in the valley.
    for y in range(168, 200):
        for x in range(W):
            t = (1.0 - abs(y - 186) / 16.0) * (0.5 + 0.5 * math.sin(x * 0.045 + y * 0.2))
            blend(img, x, y, (120, 80, 110), 0.18 * max(t, 0.0))

    draw_title(img, "HALCYRA", 20, 4, 4, (255, 234, 150), (196, 112, 34))
    draw_title(img, "ONLINE", 57, 2, 4, (232, 214, 178), (150, 120, 92))

    # The lower panel holding the status line and the bars.
    for y in range(196, 290):
        for x in range(14, 386):
            img[y][x] = mix(PANEL, (28, 20, 32), (290 - y) / 94.0 * 0.4)
    frame_rect(img, 14, 196, 385, 289, BRONZE_DIM)
    for x in range(15, 385):
        img[197][x] = mix(BRONZE, BRONZE_DIM, abs(x - 200) / 185.0)
    # Small bronze diamonds on the panel's corners.
    for cx in (22, 377):
        for cy in (204, 281):
            for dy in range(-3, 4):
                for dx in range(-(3 - abs(dy)), 4 - abs(dy)):
                    img[cy + dy][cx + dx] = BRONZE if abs(dx) + abs(dy) < 3 else BRONZE_DIM

    # The status box: the text is drawn in (28, 209)-(366, 227); its frame lies just outside.
    fill_rect(img, 28, 209, 366, 227, (12, 9, 16))
    frame_rect(img, 27, 208, 366, 227, BRONZE_DIM)
    # The bar tracks: the bars fill rows 234-248 and 259-273 from column 27, 342 columns long.
    for top in (233, 258):
        frame_rect(img, 26, top, 369, top + 16, BRONZE_DIM)
        fill_rect(img, 27, top + 1, 369, top + 16, TRACK)
        for x in range(27, 369):
            img[top + 1][x] = (4, 3, 5)

    # The outer frame, and the rounded corners cut away in the key colour.
    for y in range(H):
        for x in range(W):
            if not inside_rounded(x, y, 0, 0, W - 1, H - 1, 9):
                img[y][x] = KEY
            elif not inside_rounded(x, y, 1, 1, W - 2, H - 2, 8):
                img[y][x] = FRAME_DARK
            elif not inside_rounded(x, y, 2, 2, W - 3, H - 3, 7):
                img[y][x] = mix(BRONZE, (220, 170, 90), 1.0 - y / float(H))
            elif not inside_rounded(x, y, 3, 3, W - 4, H - 4, 6):
                img[y][x] = FRAME_DARK
    return img


# --- Bars and buttons -----------------------------------------------------------------------------


def bar(width, top, bottom, height=15):
    img = canvas(width, height)
    for y in range(height):
        t = y / (height - 1.0)
        colour = mix(top, bottom, t)
        if y == 1:
            colour = mix(colour, (255, 255, 255), 0.45)
        if y == height - 1:
            colour = mix(colour, (0, 0, 0), 0.45)
        for x in range(width):
            img[y][x] = colour
    return img


DOWNLOAD_BAR = ((255, 232, 96), (206, 146, 14))
PATCH_BAR = ((206, 132, 255), (98, 34, 160))


def button(width, height, face, border, label_colour=None, pressed=False):
    img = canvas(width, height, (20, 15, 24))
    for y in range(height):
        for x in range(width):
            if not inside_rounded(x, y, 0, 0, width - 1, height - 1, 3):
                continue
            if not inside_rounded(x, y, 1, 1, width - 2, height - 2, 2):
                img[y][x] = border
                continue
            t = y / (height - 1.0)
            img[y][x] = mix(face, (0, 0, 0), 0.45 * (1 - t) if pressed else 0.45 * t)
    if label_colour:
        for x in range(width // 4, width - width // 4):
            y = height // 2
            img[y][x] = label_colour
    return img


def close_button(background, look):
    """The close button's images (36 x 15): image row r lands on window row r - 1, so rows 1 to 14
    show over window rows 0 to 13 of the background's top-right corner."""
    img = canvas(36, 15)
    for r in range(15):
        for x in range(36):
            img[r][x] = background[max(r - 1, 0)][364 + x]
    faces = {
        1: dict(face=(92, 30, 30), border=(150, 108, 58), cross=(214, 196, 170), shift=0),
        2: dict(face=(196, 52, 38), border=(250, 206, 110), cross=(255, 255, 255), shift=0),
        3: dict(face=(54, 12, 12), border=(110, 76, 40), cross=(200, 150, 130), shift=1),
    }[look]
    # The button proper: window columns 370-392, rows 3-12 (image rows 4-13).
    x0, x1, y0, y1 = 6, 28, 4, 13
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if not inside_rounded(x, y, x0, y0, x1, y1, 2):
                continue
            if not inside_rounded(x, y, x0 + 1, y0 + 1, x1 - 1, y1 - 1, 1):
                img[y][x] = faces["border"]
            else:
                t = (y - y0) / float(y1 - y0)
                dark = 0.5 * (1 - t) if look == 3 else 0.5 * t
                img[y][x] = mix(faces["face"], (0, 0, 0), dark)
    cx, cy = (x0 + x1) // 2 + faces["shift"], (y0 + y1) // 2 + faces["shift"]
    for d in range(-3, 4):
        for px, py in ((cx + d, cy + d), (cx + d, cy - d)):
            img[py][px] = faces["cross"]
            img[py][px + 1] = mix(faces["cross"], img[py][px + 1], 0.5)
    return img


# --- Icon -----------------------------------------------------------------------------------------


def icon_rgba(size):
    """A gold-rimmed crest with a tower on deep purple; (r, g, b, a) rows."""
    s = size / 48.0
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            u, v = (x + 0.5) / s, (y + 0.5) / s  # in 48-pixel units
            # Shield: flat top, pointed bottom.
            half = 19.0 if v < 26 else 19.0 * max(0.0, (45.0 - v) / 19.0)
            dx = abs(u - 24.0)
            inside = 3.0 <= v <= 45.0 and dx <= half
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            edge = min(half - dx, v - 3.0)
            if edge < 3.2 * max(s, 0.6):
                colour = mix((255, 226, 130), (180, 110, 30), v / 48.0)
            else:
                colour = mix((70, 32, 96), (26, 12, 40), v / 48.0)
                tower = (18 <= u <= 30 and 16 <= v <= 38) or (16 <= u <= 32 and 12 <= v <= 16 and int(u) % 4 < 2)
                if tower:
                    colour = mix((250, 214, 120), (200, 130, 40), v / 48.0)
                    if 22 <= u <= 26 and 30 <= v <= 38:
                        colour = (30, 14, 40)
            row.append(colour + (255,))
        out.append(row)
    return out


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
         (0, 255, 255), (255, 255, 255)]


def nearest(palette, colour, start=0):
    best, best_d = start, None
    for i in range(start, len(palette)):
        p = palette[i]
        d = (p[0] - colour[0]) ** 2 * 3 + (p[1] - colour[1]) ** 2 * 4 + (p[2] - colour[2]) ** 2 * 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def quantize(img, reserved=()):
    """A palette of at most 256 colours (the reserved ones first, kept exact) and the index rows.
    Popularity over 4-bit-per-channel cells; each cell maps to the palette entry nearest its mean."""
    cells = {}
    for row in img:
        for c in row:
            if c in reserved:
                continue
            key = (c[0] >> 4, c[1] >> 4, c[2] >> 4)
            n, r, g, b = cells.get(key, (0, 0, 0, 0))
            cells[key] = (n + 1, r + c[0], g + c[1], b + c[2])
    exact = {c for row in img for c in row if c not in reserved}
    palette = list(reserved)
    if len(exact) + len(palette) <= 256:
        palette += sorted(exact)
        index = {c: i for i, c in enumerate(palette)}
        return palette, [[index[c] for c in row] for row in img]
    ranked = sorted(cells.items(), key=lambda kv: -kv[1][0])
    for key, (n, r, g, b) in ranked[:256 - len(palette)]:
        palette.append((r // n, g // n, b // n))
    start = len(reserved)
    cell_index = {}
    for key, (n, r, g, b) in cells.items():
        cell_index[key] = nearest(palette, (r // n, g // n, b // n), start)
    fixed = {c: i for i, c in enumerate(reserved)}
    rows = []
    for row in img:
        rows.append([fixed[c] if c in fixed else cell_index[(c[0] >> 4, c[1] >> 4, c[2] >> 4)] for c in row])
    return palette, rows


# --- File formats ---------------------------------------------------------------------------------


def png_bytes(img):
    raw = b"".join(b"\x00" + bytes(v for c in row for v in (c[0], c[1], c[2], 255)) for row in img)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", len(img[0]), len(img), 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib(img, bits, palette=None, rows=None, height_factor=1, alpha=None):
    """A BITMAPINFOHEADER, palette and bottom-up pixel rows (the body of a .bmp or an icon image)."""
    w, h = len(img[0]), len(img)
    colours = len(palette) if palette else 0
    if bits in (4, 8):
        colours = 1 << bits
    header = struct.pack("<IiiHHIIiiII", 40, w, h * height_factor, 1, bits, 0, 0, 2835, 2835,
                         colours if bits in (4, 8) else 0, 0)
    table = b""
    if bits in (4, 8):
        pal = list(palette) + [(0, 0, 0)] * (colours - len(palette))
        table = b"".join(bytes((b, g, r, 0)) for r, g, b in pal)
    stride = ((w * bits + 31) // 32) * 4
    body = bytearray()
    for y in range(h - 1, -1, -1):
        if bits == 24:
            line = bytes(v for c in img[y] for v in (c[2], c[1], c[0]))
        elif bits == 32:
            line = bytes(v for x, c in enumerate(img[y])
                         for v in (c[2], c[1], c[0], alpha[y][x] if alpha else 255))
        elif bits == 8:
            line = bytes(rows[y])
        else:  # 4
            idx = rows[y] + [0]
            line = bytes((idx[x] << 4) | idx[x + 1] for x in range(0, w, 2))
        body += line + b"\x00" * (stride - len(line))
    return header + table + bytes(body)


def bmp_bytes(img, bits, reserved=()):
    palette = rows = None
    if bits == 8:
        palette, rows = quantize(img, reserved)
    body = dib(img, bits, palette, rows)
    offset = 14 + 40 + (256 * 4 if bits == 8 else 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, offset) + body


def ico_bytes():
    images = []
    for size in (16, 32, 48):
        rgba = icon_rgba(size)
        rgb = [[c[:3] for c in row] for row in rgba]
        alpha = [[c[3] for c in row] for row in rgba]
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for y in range(size - 1, -1, -1):
            bitsrow = bytearray(mask_stride)
            for x in range(size):
                if alpha[y][x] == 0:
                    bitsrow[x // 8] |= 0x80 >> (x % 8)
            mask += bitsrow
        for bits in (4, 8, 32):
            if bits == 4:
                idx = [[nearest(VGA16, c) for c in row] for row in rgb]
                body = dib(rgb, 4, VGA16, idx, 2)
            elif bits == 8:
                palette, idx = quantize(rgb)
                body = dib(rgb, 8, palette, idx, 2)
            else:
                body = dib(rgb, 32, height_factor=2, alpha=alpha)
            images.append((size, bits, body + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(d for _, _, d in images)


# --- The set --------------------------------------------------------------------------------------

BUTTONS = {
    # id: (width, height, face colour)
    102: (84, 49, (122, 84, 40)), 108: (84, 49, (150, 104, 50)), 109: (84, 49, (64, 44, 26)),
    110: (84, 49, (90, 90, 96)), 114: (115, 25, (122, 84, 40)), 115: (115, 25, (150, 104, 50)),
    116: (54, 22, (122, 84, 40)), 117: (54, 22, (150, 104, 50)), 118: (50, 19, (70, 40, 100)),
    119: (50, 19, (104, 60, 150)), 120: (50, 19, (40, 70, 60)), 121: (50, 19, (60, 104, 90)),
    122: (56, 19, (122, 84, 40)), 123: (56, 19, (150, 104, 50)),
}


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_skins.py <out-dir>\n")
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    background = draw_background()
    files = {
        "background.png": png_bytes(background),
        "background.bmp": bmp_bytes(background, 8, reserved=(KEY,)),
        "skin_103.bmp": bmp_bytes(bar(365, (30, 22, 36), (10, 8, 12), 31), 8),
        "skin_104.bmp": bmp_bytes(bar(342, *DOWNLOAD_BAR), 8),
        "skin_105.bmp": bmp_bytes(bar(393, (150, 150, 156), (70, 70, 76)), 32),
        "skin_106.bmp": bmp_bytes(bar(342, *PATCH_BAR), 8),
        "skin_107.bmp": bmp_bytes(bar(342, *PATCH_BAR), 8),
        "skin_111.bmp": bmp_bytes(close_button(background, 1), 24),
        "skin_112.bmp": bmp_bytes(close_button(background, 2), 24),
        "skin_113.bmp": bmp_bytes(close_button(background, 3), 24),
        "talvora.ico": ico_bytes(),
    }
    for ident, (w, h, face) in BUTTONS.items():
        files["skin_%d.bmp" % ident] = bmp_bytes(button(w, h, face, BRONZE, (240, 220, 180)), 24)
    for name, data in sorted(files.items()):
        path = os.path.join(out, name)
        tmp = path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
