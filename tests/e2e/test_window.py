"""The launcher window under Xvfb: Talvora.exe of the build under test (win64, or the i686 product
under emulated wine32) in a Wine session, screenshots read pixel by pixel against the skin images
the build drew, the mouse driven with xdotool.

The patch server is held silent for the window's own scenarios (a socket that takes the
connection and never answers), so the session sits in its first download: the frame keeps its
start-up colour and shows no bars while the test works the mouse.
"""

import os
import random
import struct
import time
import unittest

import harness as h
import kit
from launcher_window import (SKINS, H, KEY, START_COLOUR, W, WAIT_START_COLOUR, WindowTestCase, window_geometry,
                             xdotool)
from pe_files import ENGLISH_US, RT_BITMAP, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_VERSION, pe_resources

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


class WindowFrames(WindowTestCase):
    def test_first_frame_centred_with_start_colour_and_no_bars(self):
        self.make_frame_install()
        self.silent_server()
        frame = self.start_launcher()
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
        self.make_frame_install()
        self.silent_server()
        frame = self.start_launcher()
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
        self.make_frame_install()
        self.silent_server()
        self.start_launcher()
        xdotool(self.display, "mousemove", self.origin[0] + 150, self.origin[1] + 120)
        time.sleep(0.5)
        xdotool(self.display, "key", "alt+F4")
        rc = self.launcher.wait(15)
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())
        self.assertIsNone(window_geometry(self.display))


class WindowOnAWideScreen(WindowTestCase):
    screen_size = (1366, 768)

    def test_window_centred(self):
        self.make_frame_install()
        self.silent_server()
        frame = self.start_launcher()
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
        self.make_frame_install()
        self.silent_server()
        self.start_launcher()
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
        self.make_frame_install()
        self.silent_server()
        # The pointer stays off the window: no move ever reaches it. Under X a pointer cannot get
        # over a window without a motion event, so the press and release are posted messages.
        self.start_launcher()
        self.assertEqual(self.close_look(self.shot("before")), 1)
        self.post("down", 380, 7)
        time.sleep(1.0)
        frame = self.shot("after-press")
        self.assertEqual(self.mismatches(frame, look=1), [])
        self.assertTrue(self.launcher.running())
        self.post("up", 380, 7)
        self.ends_with_zero()

    def test_button_held_over_the_close_button_presses_and_leaving_restores(self):
        self.make_frame_install()
        self.silent_server()
        self.start_launcher()
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
        self.make_frame_install()
        self.silent_server()
        self.start_launcher()
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
    """A window test with real patch runs against nginx."""

    serves_patches = True


class WindowDuringPatches(PatchRunCase):
    """Real patch runs: the last frame before the game starts, the bars during a rate-limited
    download, and a window closed in the middle of a patch's download."""

    def test_last_frame_before_the_game_starts(self):
        self.make_install()
        self.publish(self.build_patch(11, {"data/a.txt": b"alpha v11"}))
        self.serve()
        self.watch_boxes("boxes.txt")
        self.start_launcher()
        frame = self.wait_for_frame(lambda f: self.status_pixels(f, WAIT_START_COLOUR) >= 20, timeout=60,
                                    name="waiting")
        self.assertIsNotNone(frame, "no frame in the game start's colour")
        self.assertEqual(self.status_pixels(frame, START_COLOUR), 0)
        self.assertEqual(self.bar_width(frame, 259, self.patch_bar), 342)
        self.assertEqual(self.bar_width(frame, 234, self.download_bar), 342)
        self.assertEqual(self.mismatches(frame, download=342, patch=342), [])
        report = self.wait_for_game()
        self.assertIn(kit.report_line("data/a.txt", b"alpha v11"), report)

    def test_closing_in_the_middle_of_a_patch_keeps_the_store(self):
        self.make_install()
        big = random.Random(12).randbytes(1500000)
        eleven = self.build_patch(11, {"data/a.txt": b"alpha v11"})
        twelve = self.build_patch(12, {"data/new.txt": b"new in 12", "data/big.bin": big})
        self.publish(eleven, twelve)
        server = self.serve(limit_rate={"12.rar": "60k"})
        boxes = self.watch_boxes("boxes-1.txt")
        self.start_launcher()

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
        self.assertEqual(self.store_version(), 11)

        xdotool(self.display, "mousemove", self.origin[0] + 380, self.origin[1] + 7)
        self.wait_for_frame(lambda f: self.close_look(f) == 2, timeout=10, name="hover")
        xdotool(self.display, "click", 1)
        rc = self.launcher.wait(15)
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())
        self.assertIn("/patch/12.rar", server.requests()[-1])
        self.assertEqual(boxes.boxes(), [])

        # The store is whole, at the last patch it finished.
        self.verify_store()
        self.assertEqual(self.store_version(), 11)
        self.assertEqual(self.stored("data/a.txt"), b"alpha v11")
        self.assertIsNone(self.stored("data/new.txt"))
        self.assertIsNone(kit.read(os.path.join(self.install, "standin-report.txt")))

        # The next run takes the update up again and completes it.
        server.stop()
        self.serve()
        self.watch_boxes("boxes-2.txt")
        self.start_launcher()
        report = self.wait_for_game()
        self.verify_store()
        self.assertEqual(self.store_version(), 12)
        self.assertIn(kit.report_line("data/new.txt", b"new in 12"), report)
        self.assertIn(kit.report_line("data/a.txt", b"alpha v11"), report)
        self.assertEqual(self.stored("data/big.bin"), big)


if __name__ == "__main__":
    unittest.main()
