"""The launcher window under Xvfb: Talvora.exe of the build under test (win64, or the i686 product
under emulated wine32) in a Wine session, screenshots read pixel by pixel against the skin images
the build drew, the mouse driven with xdotool.

The patch server is held silent for the window's own scenarios (a socket that takes the
connection and never answers), so the session sits in its first download: the frame keeps its
start-up colour and shows no bars while the test works the mouse.
"""

import os
import random
import shutil
import socket
import struct
import subprocess
import time
import unittest
import urllib.parse
import zlib

import harness as h
import test_launcher as tl

SKINS = os.path.join(h.build_dir(), "launcher", "window", "skins")
NATIVE_BIN = os.path.join(h.source_dir(), "build", "native", "bin")
OSTREL_PACK = os.path.join(NATIVE_BIN, "ostrel-pack")
MKPATCH = os.path.join(NATIVE_BIN, "talvora-mkpatch")
XDOTOOL = shutil.which("xdotool") or "/usr/bin/xdotool"

W, H = 400, 300
KEY = (236, 233, 216)
START_COLOUR = (254, 255, 255)
WAIT_START_COLOUR = (252, 237, 35)
STATUS_RECT = (28, 209, 366, 227)  # right and bottom exclusive
CLOSE = (364, 0, 36, 15)

# --- Images -------------------------------------------------------------------------------------


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


# --- Screen -------------------------------------------------------------------------------------


def xdotool(display, *args):
    return subprocess.run([XDOTOOL, *[str(a) for a in args]], env=dict(os.environ, DISPLAY=display.name),
                          capture_output=True, timeout=30)


def window_geometry(display):
    """(left, top) of the launcher's X window, or None."""
    found = xdotool(display, "search", "--name", "^Halcyra Online$")
    for wid in found.stdout.split():
        geo = xdotool(display, "getwindowgeometry", "--shell", wid.decode())
        values = dict(line.split("=", 1) for line in geo.stdout.decode().split() if "=" in line)
        if values.get("WIDTH") == "400" and values.get("HEIGHT") == "300":
            return int(values["X"]), int(values["Y"])
    return None


class SilentServer:
    """Takes connections on the patch server's port and never answers: the launcher's first
    download waits. Runs in the test process; stop() closes the socket."""

    def __init__(self):
        self.port = urllib.parse.urlparse(h.patch_url()).port or 443
        self.sock = None

    def start(self):
        if not h.port_is_free(self.port):
            return h.failed("port %d is taken" % self.port)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", self.port))
        self.sock.listen(16)
        return h.OK

    def stop(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None


def pe_resources(path):
    """{(type, id, language): bytes} of a PE file's resources; types and ids are numbers or names."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack("<I", data[0x3C:0x40])[0]
    sections, optional_size = struct.unpack("<H", data[pe + 6:pe + 8])[0], struct.unpack("<H", data[pe + 20:pe + 22])[0]
    optional = pe + 24
    directories = optional + (112 if struct.unpack("<H", data[optional:optional + 2])[0] == 0x20B else 96)
    root_rva = struct.unpack("<I", data[directories + 16:directories + 20])[0]
    table = optional + optional_size
    spans = [struct.unpack("<IIII", data[table + i * 40 + 8:table + i * 40 + 24]) for i in range(sections)]

    def at(rva):
        for size, address, raw_size, raw in spans:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("rva %x outside the sections" % rva)

    base = at(root_rva)

    def entries(offset):
        named, numbered = struct.unpack("<HH", data[base + offset + 12:base + offset + 16])
        for i in range(named + numbered):
            name, target = struct.unpack("<II", data[base + offset + 16 + i * 8:base + offset + 24 + i * 8])
            if name & 0x80000000:
                length = struct.unpack("<H", data[base + (name & 0x7FFFFFFF):base + (name & 0x7FFFFFFF) + 2])[0]
                start = base + (name & 0x7FFFFFFF) + 2
                name = data[start:start + 2 * length].decode("utf-16-le")
            yield name, target

    found = {}
    for kind, t in entries(0):
        for ident, i in entries(t & 0x7FFFFFFF):
            for language, leaf in entries(i & 0x7FFFFFFF):
                rva, size = struct.unpack("<II", data[base + leaf:base + leaf + 8])
                found[(kind, ident, language)] = data[at(rva):at(rva) + size]
    return found


RT_BITMAP, RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 14, 16, 24
ENGLISH_US = 1033
# Bitmap id: (width, height, bits per pixel).
BITMAPS = {101: (400, 300, 8), 102: (84, 49, 24), 103: (365, 31, 8), 104: (342, 15, 8), 105: (393, 15, 32),
           106: (342, 15, 8), 107: (342, 15, 8), 108: (84, 49, 24), 109: (84, 49, 24), 110: (84, 49, 24),
           111: (36, 15, 24), 112: (36, 15, 24), 113: (36, 15, 24), 114: (115, 25, 24), 115: (115, 25, 24),
           116: (54, 22, 24), 117: (54, 22, 24), 118: (50, 19, 24), 119: (50, 19, 24), 120: (50, 19, 24),
           121: (50, 19, 24), 122: (56, 19, 24), 123: (56, 19, 24)}


class LauncherResources(unittest.TestCase):
    """The skin set as Talvora.exe carries it, read from the program file itself."""

    @classmethod
    def setUpClass(cls):
        exe = h.bin_path("Talvora.exe")
        if not os.path.exists(exe):
            raise unittest.SkipTest("%s is missing" % exe)
        cls.resources = pe_resources(exe)

    def test_background_png(self):
        png = self.resources.get(("PNG", 101, ENGLISH_US))
        self.assertIsNotNone(png, sorted(k for k in self.resources if k[0] == "PNG"))
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">IIBB", png[16:26]), (400, 300, 8, 6))
        with open(os.path.join(SKINS, "background.png"), "rb") as f:
            self.assertEqual(png, f.read())
        self.assertEqual([k for k in self.resources if k[0] == "PNG"], [("PNG", 101, ENGLISH_US)])

    def test_bitmaps_have_the_sizes_and_formats_of_the_set(self):
        ids = sorted(k[1] for k in self.resources if k[0] == RT_BITMAP)
        self.assertEqual(ids, sorted(BITMAPS))
        for ident, (width, height, bits) in BITMAPS.items():
            data = self.resources.get((RT_BITMAP, ident, ENGLISH_US))
            self.assertIsNotNone(data, ident)
            size, w, hgt, planes, bpp, compression = struct.unpack("<IiiHHI", data[:20])
            self.assertEqual((size, w, abs(hgt), planes, bpp, compression), (40, width, height, 1, bits, 0), ident)
        self.assertEqual(self.resources[(RT_BITMAP, 106, ENGLISH_US)], self.resources[(RT_BITMAP, 107, ENGLISH_US)])

    def test_icon_group_version_and_manifest(self):
        group = self.resources.get((RT_GROUP_ICON, 150, ENGLISH_US))
        self.assertIsNotNone(group)
        count = struct.unpack("<H", group[4:6])[0]
        images = set()
        for i in range(count):
            w, hgt, _, _, _, bits, size, ident = struct.unpack("<BBBBHHIH", group[6 + i * 14:20 + i * 14])
            images.add((w, hgt, bits))
            self.assertIn((RT_ICON, ident, ENGLISH_US), self.resources)
        self.assertEqual(images, {(s, s, b) for s in (16, 32, 48) for b in (4, 8, 32)})
        version = self.resources.get((RT_VERSION, 1, ENGLISH_US))
        self.assertIsNotNone(version)
        self.assertIn("VS_VERSION_INFO".encode("utf-16-le"), version)
        self.assertIn("Halcyra Online".encode("utf-16-le"), version)
        self.assertTrue(any(k[0] == RT_MANIFEST for k in self.resources))


class WindowTestCase(unittest.TestCase):
    """One display and Wine session for a module; each test runs its own launcher."""

    display = session = None
    screen_size = (1024, 768)

    @classmethod
    def setUpClass(cls):
        h.skip_unless_programs_run()
        for path in (OSTREL_PACK, os.path.join(SKINS, "background.png"), h.bin_path("Talvora.exe")):
            if not os.path.exists(path):
                raise unittest.SkipTest("%s is missing: build the native and win64 presets first" % path)
        cls.work = h.fresh_dir(h.work_dir("window") if not os.environ.get("TALVORA_E2E_WORK") else
                               os.path.join(h.work_dir(), cls.__name__))
        cls.display = h.Display("%dx%dx24" % cls.screen_size)
        started = cls.display.start()
        assert started, started
        cls.session = h.WineSession(os.path.join(cls.work, "prefix"), display=cls.display)
        opened = cls.session.open()
        if not opened:
            cls.display.stop()
            raise AssertionError(opened)
        cls.background, alpha = read_png_rgba(os.path.join(SKINS, "background.png"))
        assert all(a == 255 for row in alpha for a in row), "the background must be opaque"
        cls.close_looks = {look: read_bmp(os.path.join(SKINS, "skin_%d.bmp" % (110 + look)))[0] for look in (1, 2, 3)}
        cls.download_bar = read_bmp(os.path.join(SKINS, "skin_104.bmp"))[0]
        cls.patch_bar = read_bmp(os.path.join(SKINS, "skin_107.bmp"))[0]
        cls.count = 0

    @classmethod
    def tearDownClass(cls):
        cls.session.close()
        cls.display.stop()

    def setUp(self):
        type(self).count += 1
        self.root = h.fresh_dir(os.path.join(self.work, "t%02d-%s" % (self.count, self._testMethodName)))
        self.launcher = None
        self.cleanups = []

    def tearDown(self):
        # A test that failed with the button held must not leave it down for the next one.
        xdotool(self.display, "mouseup", 1)
        if self.launcher is not None:
            self.launcher.stop()
        for stop in reversed(self.cleanups):
            stop()

    # --- The world ----------------------------------------------------------------------------

    def make_install(self, version=10):
        install = os.path.join(self.root, "install")
        content = os.path.join(self.root, "content")
        os.makedirs(os.path.join(content, "data"))
        with open(os.path.join(content, "data", "a.txt"), "wb") as f:
            f.write(b"alpha v%d" % version)
        p = subprocess.run([OSTREL_PACK, "create", install, content, "--version", str(version)], capture_output=True)
        self.assertEqual(p.returncode, 0, p.stderr)
        for name in ("Talvora.exe", "OstrelVFS.dll", "unrar.dll", "OrvUpdate.exe"):
            if os.path.exists(h.bin_path(name)):
                shutil.copy(h.bin_path(name), install)
        if os.path.exists(h.bin_path("standin_client.exe")):
            shutil.copy(h.bin_path("standin_client.exe"), os.path.join(install, "Orvant.exe"))
        with open(os.path.join(install, "cver.v"), "wb") as f:
            f.write(struct.pack("<II", 4, 5))
        return install

    def silent_server(self):
        server = SilentServer()
        started = server.start()
        self.assertTrue(started, started)
        self.cleanups.append(server.stop)

    def start_launcher(self, install, pointer=(5, 5)):
        xdotool(self.display, "mousemove", *pointer)
        self.launcher = self.session.start(os.path.join(install, "Talvora.exe"), cwd=install)
        self.assertIsNotNone(self.launcher)
        self.origin = self.expected_origin()
        frame = self.wait_for_frame(lambda f: self.background_matches(f, self.origin))
        self.assertIsNotNone(frame, "the window did not show its background at %r" % (self.origin,))
        return frame

    def expected_origin(self):
        return self.screen_size[0] // 2 - 200, self.screen_size[1] // 2 - 150

    # --- Frames -------------------------------------------------------------------------------

    def shot(self, name):
        path = os.path.join(self.root, "%s.ppm" % name)
        taken = self.display.screenshot(path)
        self.assertTrue(taken, taken)
        return read_ppm(path)

    def wait_for_frame(self, accept, timeout=30.0, name="frame"):
        deadline, n = time.monotonic() + timeout, 0
        while time.monotonic() < deadline:
            n += 1
            frame = self.shot("%s-%03d" % (name, n))
            if accept(frame):
                return frame
            self.assertTrue(self.launcher.running(), "launcher ended: %r" % self.launcher.result())
            time.sleep(0.1)
        return None

    def window_pixel(self, frame, x, y, origin=None):
        ox, oy = origin or self.origin
        return frame.at(ox + x, oy + y)

    def expected_pixel(self, x, y, look=1, download=None, patch=None):
        """The frame the paint composes outside the status line: background, close button from
        its image's second row, bars of the given widths."""
        cx, cy, cw, ch = CLOSE
        if cx <= x < cx + cw and cy <= y < cy + ch - 1:
            return self.close_looks[look].at(x - cx, y - cy + 1)
        for width, top, image in ((download, 234, self.download_bar), (patch, 259, self.patch_bar)):
            if width is not None and 27 <= x < 27 + width and top <= y < top + 15:
                return image.at(x - 27, y - top)
        return self.background.at(x, y)

    def mismatches(self, frame, origin=None, step=1, **state):
        """Window pixels (outside the status line) that differ from the expected frame."""
        wrong = []
        for y in range(0, H, step):
            for x in range(0, W, step):
                if STATUS_RECT[0] <= x < STATUS_RECT[2] and STATUS_RECT[1] <= y < STATUS_RECT[3]:
                    continue
                if self.expected_pixel(x, y, **state) == KEY:
                    continue  # a hole: checked by its own test
                got = self.window_pixel(frame, x, y, origin)
                if got != self.expected_pixel(x, y, **state):
                    wrong.append((x, y, got, self.expected_pixel(x, y, **state)))
        return wrong

    def background_matches(self, frame, origin):
        ox, oy = origin
        if ox + W > frame.width or oy + H > frame.height or ox < 0 or oy < 0:
            return False
        return not self.mismatches(frame, origin, step=7, look=self.look_now(frame, origin))

    def look_now(self, frame, origin):
        return self.close_look(frame, origin) or 1

    def close_look(self, frame, origin=None):
        """1, 2 or 3 when the close button's pixels are exactly that look's image, else None."""
        for look, image in self.close_looks.items():
            if all(self.window_pixel(frame, 364 + x, y, origin) == image.at(x, y + 1) for x in range(36)
                   for y in range(14) if image.at(x, y + 1) != KEY):
                return look
        return None

    def status_pixels(self, frame, colour):
        """How many pixels of the status line have exactly `colour`."""
        x0, y0, x1, y1 = STATUS_RECT
        return sum(1 for y in range(y0, y1) for x in range(x0, x1) if self.window_pixel(frame, x, y) == colour)

    def status_text_columns(self, frame, colour):
        x0, y0, x1, y1 = STATUS_RECT
        return [x for x in range(x0, x1) if any(self.window_pixel(frame, x, y) == colour for y in range(y0, y1))]

    def bar_width(self, frame, top, image):
        """Columns from x 27 on whose 15 rows are exactly the bar image's."""
        width = 0
        while width < 342 and all(self.window_pixel(frame, 27 + width, top + r) == image.at(width, r)
                                  for r in range(15)):
            width += 1
        return width


class WindowFrames(WindowTestCase):
    def test_first_frame_centred_with_start_colour_and_no_bars(self):
        install = self.make_install()
        self.silent_server()
        frame = self.start_launcher(install)
        self.assertEqual(window_geometry(self.display), self.expected_origin())
        time.sleep(1.0)
        frame = self.shot("settled")
        self.assertEqual(self.mismatches(frame), [])
        self.assertEqual(self.bar_width(frame, 234, self.download_bar), 0)
        self.assertEqual(self.bar_width(frame, 259, self.patch_bar), 0)
        self.assertGreaterEqual(self.status_pixels(frame, START_COLOUR), 20)
        columns = self.status_text_columns(frame, START_COLOUR)
        # Centred: the line reaches well into both halves of the status box (around x 197).
        self.assertLess(columns[0], 197 - 40, columns)
        self.assertGreater(columns[-1], 197 + 40, columns)
        self.assertLess(abs((197 - columns[0]) - (columns[-1] - 197)), 30, columns)
        self.assertEqual(self.close_look(frame), 1)
        self.assertTrue(self.launcher.running())

    def test_key_colour_is_a_hole(self):
        before = self.shot("root")
        install = self.make_install()
        self.silent_server()
        frame = self.start_launcher(install)
        holes = [(x, y) for y in range(H) for x in range(W) if self.background.at(x, y) == KEY]
        self.assertGreater(len(holes), 20)
        ox, oy = self.origin
        for x, y in holes:
            self.assertEqual(frame.at(ox + x, oy + y), before.at(ox + x, oy + y), (x, y))
        # Right beside each corner the window is opaque: the frame's own pixels.
        for x, y in ((9, 0), (0, 9), (390, 299), (399, 290)):
            self.assertEqual(self.window_pixel(frame, x, y), self.background.at(x, y))
            self.assertNotEqual(self.background.at(x, y), before.at(ox + x, oy + y))


    def test_a_close_request_ends_the_launcher_as_the_button_does(self):
        install = self.make_install()
        self.silent_server()
        self.start_launcher(install)
        xdotool(self.display, "mousemove", self.origin[0] + 150, self.origin[1] + 120)
        time.sleep(0.5)
        xdotool(self.display, "key", "alt+F4")
        rc = self.launcher.wait(15)
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())
        self.assertIsNone(window_geometry(self.display))


class WindowOnAWideScreen(WindowTestCase):
    screen_size = (1366, 768)

    def test_window_centred(self):
        install = self.make_install()
        self.silent_server()
        frame = self.start_launcher(install)
        self.assertEqual(self.expected_origin(), (483, 234))
        self.assertEqual(window_geometry(self.display), (483, 234))
        self.assertEqual(self.mismatches(frame, step=3), [])


class WindowMouse(WindowTestCase):
    def button_point(self, x=380, y=7):
        return self.origin[0] + x, self.origin[1] + y

    def wait_for_look(self, look, name):
        frame = self.wait_for_frame(lambda f: self.close_look(f) == look, timeout=10, name=name)
        self.assertIsNotNone(frame, "the close button never showed look %d; last: %r" % (
            look, self.close_look(self.shot(name + "-last"))))
        return frame

    def ends_with_zero(self):
        rc = self.launcher.wait(15)
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())

    def test_hover_then_press_then_release_ends_the_launcher(self):
        install = self.make_install()
        self.silent_server()
        self.start_launcher(install)
        self.assertEqual(self.close_look(self.shot("start")), 1)
        xdotool(self.display, "mousemove", *self.button_point())
        frame = self.wait_for_look(2, "hover")
        self.assertEqual(self.mismatches(frame, look=2), [])
        xdotool(self.display, "mousedown", 1)
        frame = self.wait_for_look(3, "pressed")
        self.assertEqual(self.mismatches(frame, look=3), [])
        xdotool(self.display, "mouseup", 1)
        self.ends_with_zero()

    def post(self, kind, x, y):
        ran = self.session.run(h.bin_path("post_mouse.exe"), [kind, x, y], timeout=30)
        self.assertEqual(ran.returncode, 0, ran)

    def test_press_before_any_move_keeps_the_normal_look_and_release_ends(self):
        install = self.make_install()
        self.silent_server()
        # The pointer stays off the window: no move ever reaches it. Under X a pointer cannot get
        # over a window without a motion event, so the press and release are posted messages.
        self.start_launcher(install)
        self.assertEqual(self.close_look(self.shot("before")), 1)
        self.post("down", 380, 7)
        time.sleep(1.0)
        frame = self.shot("after-press")
        self.assertEqual(self.mismatches(frame, look=1), [])
        self.assertTrue(self.launcher.running())
        self.post("up", 380, 7)
        self.ends_with_zero()

    def test_button_held_over_the_close_button_presses_and_leaving_restores(self):
        install = self.make_install()
        self.silent_server()
        self.start_launcher(install)
        xdotool(self.display, "mousemove", *self.button_point())
        self.wait_for_look(2, "hover")
        xdotool(self.display, "mousedown", 1)
        self.wait_for_look(3, "pressed")
        # Moves with the left button alone down keep the pressed look on the button ...
        xdotool(self.display, "mousemove", *self.button_point(366, 2))
        self.wait_for_look(3, "held-move")
        # ... the look is normal again on the first move off it ...
        xdotool(self.display, "mousemove", *self.button_point(300, 100))
        self.wait_for_look(1, "held-off")
        # ... and pressed, not hovered, when the held button comes back onto it.
        xdotool(self.display, "mousemove", *self.button_point(398, 13))
        self.wait_for_look(3, "held-back")
        xdotool(self.display, "mousemove", *self.button_point(250, 120))
        self.wait_for_look(1, "held-off-again")
        xdotool(self.display, "mouseup", 1)
        time.sleep(1.0)
        self.assertTrue(self.launcher.running(), "a release off the button ended the launcher")
        xdotool(self.display, "mousemove", *self.button_point(399, 14))
        self.wait_for_look(2, "hover-corner")
        xdotool(self.display, "mousemove", *self.button_point(399, 15))
        self.wait_for_look(1, "below-button")
        self.assertTrue(self.launcher.running())

    def test_press_on_the_body_drags_the_window(self):
        install = self.make_install()
        self.silent_server()
        self.start_launcher(install)
        ox, oy = self.origin
        xdotool(self.display, "mousemove", ox + 120, oy + 100)
        time.sleep(0.3)
        xdotool(self.display, "mousedown", 1)
        time.sleep(0.3)
        for step in range(1, 9):
            xdotool(self.display, "mousemove", ox + 120 + 10 * step, oy + 100 + 6 * step)
            time.sleep(0.15)
        xdotool(self.display, "mouseup", 1)
        moved = (ox + 80, oy + 48)
        deadline = time.monotonic() + 10
        while window_geometry(self.display) != moved and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(window_geometry(self.display), moved)
        xdotool(self.display, "mousemove", 5, 5)
        frame = self.wait_for_frame(lambda f: self.background_matches(f, moved), timeout=10, name="moved")
        self.assertIsNotNone(frame)
        self.assertEqual(self.mismatches(frame, origin=moved, step=2), [])
        self.assertTrue(self.launcher.running())



class PatchRunCase(WindowTestCase):
    """A window test with real patch runs against nginx: the test CA trusted by the session, and
    installations, patches and servers made per test."""

    @classmethod
    def setUpClass(cls):
        if not os.path.exists(MKPATCH):
            raise unittest.SkipTest("%s is missing: build the native preset first" % MKPATCH)
        super().setUpClass()
        cls.pki = h.TestPki(os.path.join(cls.work, "pki"))
        made = cls.pki.make()
        trusted = cls.session.trust_ca(cls.pki.ca_cert) if made else made
        if not trusted:
            cls.tearDownClass()
            raise AssertionError(trusted)

    def make_game_install(self):
        install = self.make_install()
        content = os.path.join(self.root, "content")
        for path, data in tl.BASE_FILES.items():
            tl.write(os.path.join(content, path), data)
        shutil.rmtree(install)
        tl.tool(OSTREL_PACK, "create", install, content, "--version", 10)
        for name in ("Talvora.exe", "OstrelVFS.dll", "unrar.dll", "OrvUpdate.exe"):
            shutil.copy(h.bin_path(name), install)
        shutil.copy(h.bin_path("standin_client.exe"), os.path.join(install, "Orvant.exe"))
        tl.write(os.path.join(install, "cver.v"), tl.le32(4, 5))
        tl.write(os.path.join(install, "standin.paths"), b"data/a.txt\ndata/maps/m.bin\ndata/new.txt\n")
        return install

    def build_patch(self, number, pack):
        change = os.path.join(self.root, "change%d" % number)
        for path, data in pack.items():
            tl.write(os.path.join(change, "pack", path), data)
        out = os.path.join(self.root, "out")
        tl.tool(MKPATCH, "build", number, change, out)
        return os.path.join(out, "%d.rar" % number)

    def serve(self, server_dir, limit_rate=None):
        server = h.PatchServer(os.path.join(server_dir, "patch"), os.path.join(self.root, "nginx"),
                               self.pki.server_cert, self.pki.server_key, limit_rate=limit_rate)
        started = server.start()
        self.assertTrue(started, started)
        self.cleanups.append(server.stop)
        return server

    def watch_boxes(self, name):
        boxes = h.BoxWatch(self.session, os.path.join(self.root, name))
        started = boxes.start()
        self.assertTrue(started, started)
        self.cleanups.append(boxes.stop)
        return boxes

    def store_version(self, install):
        return int.from_bytes(tl.read(os.path.join(install, "data.idx"))[:4], "little")

    def verify_store(self, install):
        p = subprocess.run([OSTREL_PACK, "verify", os.path.join(install, "data.idx")], capture_output=True,
                           timeout=60)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)

    def stored(self, install, path):
        p = subprocess.run([OSTREL_PACK, "cat", os.path.join(install, "data.idx"), path], capture_output=True,
                           timeout=60)
        return p.stdout if p.returncode == 0 else None

    def wait_for_game(self, install):
        rc = self.launcher.wait(90)
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            report = tl.read(os.path.join(install, "standin-report.txt"))
            if report and b"store" in report:
                return report.decode()
            time.sleep(0.1)
        self.fail("the stand-in client did not report")


class WindowDuringPatches(PatchRunCase):
    """Real patch runs: the last frame before the game starts, the bars during a rate-limited
    download, and a window closed in the middle of a patch's download."""

    def test_last_frame_before_the_game_starts(self):
        install = self.make_game_install()
        server_dir = os.path.join(self.root, "server")
        tl.tool(MKPATCH, "publish", server_dir, self.build_patch(11, {"data/a.txt": b"alpha v11"}))
        self.serve(server_dir)
        self.watch_boxes("boxes.txt")
        self.start_launcher(install)
        frame = self.wait_for_frame(lambda f: self.status_pixels(f, WAIT_START_COLOUR) >= 20, timeout=60,
                                    name="waiting")
        self.assertIsNotNone(frame, "no frame in the game start's colour")
        self.assertEqual(self.status_pixels(frame, START_COLOUR), 0)
        self.assertEqual(self.bar_width(frame, 259, self.patch_bar), 342)
        self.assertEqual(self.bar_width(frame, 234, self.download_bar), 342)
        self.assertEqual(self.mismatches(frame, download=342, patch=342), [])
        report = self.wait_for_game(install)
        self.assertIn(tl.report_line("data/a.txt", b"alpha v11"), report)

    def test_closing_in_the_middle_of_a_patch_keeps_the_store(self):
        install = self.make_game_install()
        server_dir = os.path.join(self.root, "server")
        big = random.Random(12).randbytes(1500000)
        eleven = self.build_patch(11, {"data/a.txt": b"alpha v11"})
        twelve = self.build_patch(12, {"data/new.txt": b"new in 12", "data/big.bin": big})
        tl.tool(MKPATCH, "publish", server_dir, eleven, twelve)
        server = self.serve(server_dir, limit_rate={"12.rar": "60k"})
        boxes = self.watch_boxes("boxes-1.txt")
        self.start_launcher(install)

        # Patch 11 is in; 12 comes in slowly: the lower bar shows one patch of two, the upper one
        # a share of 12.rar that grows, always a whole percentage of its 342 pixels.
        shares = {p * 342 // 100 for p in range(101)}
        widths = []

        def downloading_twelve(f):
            width = self.bar_width(f, 234, self.download_bar)
            if self.bar_width(f, 259, self.patch_bar) == 171 and 0 < width < 342:
                widths.append(width)
            return len(widths) >= 3 and widths[-1] > widths[0]

        frame = self.wait_for_frame(downloading_twelve, timeout=90, name="downloading")
        self.assertIsNotNone(frame, "no frame during 12.rar's download: widths %r" % widths)
        for width in widths:
            self.assertIn(width, shares)
        self.assertEqual(self.mismatches(frame, download=widths[-1], patch=171), [])
        self.assertEqual(self.store_version(install), 11)

        xdotool(self.display, "mousemove", self.origin[0] + 380, self.origin[1] + 7)
        self.wait_for_frame(lambda f: self.close_look(f) == 2, timeout=10, name="hover")
        xdotool(self.display, "click", 1)
        rc = self.launcher.wait(15)
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())
        self.assertIn("/patch/12.rar", server.requests()[-1])
        self.assertEqual(boxes.boxes(), [])

        # The store is whole, at the last patch it finished.
        self.verify_store(install)
        self.assertEqual(self.store_version(install), 11)
        self.assertEqual(self.stored(install, "data/a.txt"), b"alpha v11")
        self.assertIsNone(self.stored(install, "data/new.txt"))
        self.assertIsNone(tl.read(os.path.join(install, "standin-report.txt")))

        # The next run takes the update up again and completes it.
        server.stop()
        self.serve(server_dir)
        self.watch_boxes("boxes-2.txt")
        self.start_launcher(install)
        report = self.wait_for_game(install)
        self.verify_store(install)
        self.assertEqual(self.store_version(install), 12)
        self.assertIn(tl.report_line("data/new.txt", b"new in 12"), report)
        self.assertIn(tl.report_line("data/a.txt", b"alpha v11"), report)
        self.assertEqual(self.stored(install, "data/big.bin"), big)


if __name__ == "__main__":
    unittest.main()
