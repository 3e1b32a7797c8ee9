"""The launcher's window as the tests see it under Xvfb: its geometry and colours, the mouse driven
with xdotool, screenshots read pixel by pixel against the skin images the build drew.

WindowTestCase is the base of the window's scenarios: a display per class, and start_launcher waits
until the window shows its background where it must be.
"""

import os
import shutil
import socket
import subprocess
import time
import urllib.parse

import harness as h
import kit
from images import read_bmp, read_png_rgba, read_ppm

SKINS = os.path.join(h.build_dir(), "launcher", "window", "skins")
W, H = 400, 300
XDOTOOL = shutil.which("xdotool") or "/usr/bin/xdotool"
KEY = (236, 233, 216)
START_COLOUR = (254, 255, 255)
WAIT_START_COLOUR = (252, 237, 35)
STATUS_RECT = (28, 209, 366, 227)  # right and bottom exclusive
CLOSE = (364, 0, 36, 15)


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


class WindowTestCase(kit.E2ETestCase):
    """A display and Wine session per class; each scenario runs its own launcher and reads its
    frames against the skin images."""

    work_name = "window"
    uses_display = True
    needs = (kit.OSTREL_PACK, os.path.join(SKINS, "background.png"), h.bin_path("Talvora.exe"))

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.background, alpha = read_png_rgba(os.path.join(SKINS, "background.png"))
        assert all(a == 255 for row in alpha for a in row), "the background must be opaque"
        cls.close_looks = {look: read_bmp(os.path.join(SKINS, "skin_%d.bmp" % (110 + look)))[0] for look in (1, 2, 3)}
        cls.download_bar = read_bmp(os.path.join(SKINS, "skin_104.bmp"))[0]
        cls.patch_bar = read_bmp(os.path.join(SKINS, "skin_107.bmp"))[0]

    def tearDown(self):
        # A test that failed with the button held must not leave it down for the next one.
        xdotool(self.display, "mouseup", 1)

    def start_launcher(self, pointer=(5, 5)):
        """The launcher started with the pointer at `pointer`; its first frame showing the background."""
        xdotool(self.display, "mousemove", *pointer)
        super().start_launcher()
        self.origin = self.expected_origin()
        frame = self.wait_for_frame(lambda f: self.background_matches(f, self.origin))
        self.assertIsNotNone(frame, "the window did not show its background at %r" % (self.origin,))
        return frame

    def make_frame_install(self):
        """An installation with a one-file store and no read list: the window's own scenarios never
        reach the game."""
        return self.make_install(files={"data/a.txt": b"alpha v10"}, client_reads=None)

    def silent_server(self):
        server = SilentServer()
        self.addCleanup(server.stop)
        started = server.start()
        self.assertTrue(started, started)

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
