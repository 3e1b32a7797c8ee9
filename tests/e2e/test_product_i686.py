"""The product itself: the i686 Talvora.exe, unrar.dll, OstrelVFS.dll and a stand-in game client of
the same build, run once for real under Wine's 32-bit half (qemu user emulation on this 64-bit-only
kernel), against nginx over HTTPS.

The installation starts at patch 10; patches 11 and 12 are built and published with the operator
tools. The launcher must apply both and start "Orvant.exe" (the i686 stand-in client), which loads
the i686 OstrelVFS.dll, binds its exports by their decorated names and reads the patched files.

Every emulated process spends over a minute before its first instruction, so this is one scenario.
Where the machine cannot run 32-bit code, the test is skipped and says why (scripts/setup-i386
writes the reason to build/deps/i386-status).
"""

import os
import shutil
import subprocess
import time
import unittest

import harness as h
import test_launcher as tl

DEPS = os.path.join(h.source_dir(), "build", "deps")
PREFIX32 = os.path.join(DEPS, "wineprefix32")
STATUS = os.path.join(DEPS, "i386-status")
WINE32 = "/usr/lib/wine/wine"
# Message boxes are watched by the 64-bit helper, which needs no emulation and sees every window.
BOXWATCH = os.path.join(h.source_dir(), "build", "win64", "bin", "boxwatch.exe")
PROGRAMS = ("Talvora.exe", "OstrelVFS.dll", "unrar.dll", "OrvUpdate.exe", "standin_client.exe")
# Seconds: two emulated processes at about 75 s of start-up each, plus the patch work under qemu.
LAUNCHER_TIMEOUT = 420
CLIENT_TIMEOUT = 300


def pe_machine(path):
    """The Machine field of a PE file's header (0x14c for i386), or None."""
    data = tl.read(path)
    if not data or len(data) < 0x40 or data[:2] != b"MZ":
        return None
    at = int.from_bytes(data[0x3C:0x40], "little")
    if data[at:at + 4] != b"PE\0\0":
        return None
    return int.from_bytes(data[at + 4:at + 6], "little")


def why_32bit_cannot_run():
    """None when 32-bit Windows programs can run here; otherwise the reason."""
    try:
        with open(STATUS, encoding="utf-8") as f:
            status = f.read().strip()
    except OSError:
        return "scripts/setup-i386 has not run (no %s)" % STATUS
    if status != "ready":
        return status
    if not os.path.isfile(os.path.join(PREFIX32, "drive_c", "windows", "syswow64", "kernel32.dll")):
        return "the 32-bit-capable Wine prefix %s is missing: run scripts/setup" % PREFIX32
    try:
        p = subprocess.run([WINE32, "--version"], capture_output=True, timeout=60)
        if p.returncode != 0:
            return "%s does not run (is the qemu-i386 binfmt entry gone? run scripts/setup)" % WINE32
    except (OSError, subprocess.TimeoutExpired) as e:
        return "%s does not run: %s (run scripts/setup)" % (WINE32, e)
    return None


class ProductUnderEmulation(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        reason = why_32bit_cannot_run()
        if reason:
            raise unittest.SkipTest("32-bit programs cannot run on this machine: %s" % reason)
        for exe in (tl.OSTREL_PACK, tl.MKPATCH, BOXWATCH) + tuple(h.bin_path(p) for p in PROGRAMS):
            if not os.path.exists(exe):
                raise AssertionError("%s is missing: build the native, win64 and win32 presets first" % exe)
        cls.started = time.monotonic()
        cls.work = h.fresh_dir(h.work_dir("product-i686"))
        cls.pki = h.TestPki(os.path.join(cls.work, "pki"))
        made = cls.pki.make()
        assert made, made
        if not h.port_is_free(h.PatchServer(cls.work, cls.work, "x", "y").port):
            raise AssertionError("the launcher's patch server port is taken: %s" % h.patch_url())
        cls.display = h.Display()
        started = cls.display.start()
        assert started, started
        cls.session = h.WineSession(os.path.join(cls.work, "prefix"), display=cls.display, cached=PREFIX32)
        opened = cls.session.open()
        if not opened:
            cls.display.stop()
            raise AssertionError(opened)
        trusted = cls.session.trust_ca(cls.pki.ca_cert)
        assert trusted, trusted

    @classmethod
    def tearDownClass(cls):
        cls.session.close()
        cls.display.stop()

    def setUp(self):
        self.root = self.work
        self.install = os.path.join(self.root, "install")
        self.server_dir = os.path.join(self.root, "server")
        self.server = None
        self.boxes = None
        self.launcher = None

    def tearDown(self):
        for part in (self.launcher, self.boxes, self.server):
            if part is not None:
                part.stop()
        print("\nthe 32-bit run took %.0f s" % (time.monotonic() - self.started))

    def make_install(self):
        content = os.path.join(self.root, "content")
        for path, data in tl.BASE_FILES.items():
            tl.write(os.path.join(content, path), data)
        tl.tool(tl.OSTREL_PACK, "create", self.install, content, "--version", 10)
        for name in PROGRAMS[:-1]:
            shutil.copy(h.bin_path(name), self.install)
        shutil.copy(h.bin_path("standin_client.exe"), os.path.join(self.install, "Orvant.exe"))
        tl.write(os.path.join(self.install, "cver.v"), tl.le32(4, 5))
        tl.write(os.path.join(self.install, "standin.paths"), b"data/a.txt\ndata/maps/m.bin\ndata/new.txt\n")
        for name in ("Talvora.exe", "OstrelVFS.dll", "unrar.dll", "Orvant.exe"):
            self.assertEqual(pe_machine(os.path.join(self.install, name)), 0x14C, "%s is not an i386 program" % name)

    def publish_two_patches(self):
        out = os.path.join(self.root, "out")
        archives = []
        changes = {
            11: ({"data/a.txt": b"alpha v11"}, {"notes/readme.txt": b"loose v11"}),
            12: ({"data/new.txt": b"new in 12"}, {}),
        }
        for number, (pack, loose) in changes.items():
            change = os.path.join(self.root, "change%d" % number)
            for path, data in pack.items():
                tl.write(os.path.join(change, "pack", path), data)
            for path, data in loose.items():
                tl.write(os.path.join(change, "loose", path), data)
            tl.tool(tl.MKPATCH, "build", number, change, out)
            archives.append(os.path.join(out, "%d.rar" % number))
        tl.tool(tl.MKPATCH, "publish", self.server_dir, *archives)
        self.server = h.PatchServer(os.path.join(self.server_dir, "patch"), os.path.join(self.root, "nginx"),
                                    self.pki.server_cert, self.pki.server_key)
        started = self.server.start()
        self.assertTrue(started, started)

    def log(self):
        return self.launcher.stdout().decode("cp1252", "replace")

    def test_two_patches_then_the_game(self):
        self.make_install()
        self.publish_two_patches()
        self.boxes = h.BoxWatch(self.session, os.path.join(self.root, "boxes.txt"), exe=BOXWATCH)
        started = self.boxes.start()
        self.assertTrue(started, started)
        self.launcher = self.session.start(os.path.join(self.install, "Talvora.exe"), cwd=self.install)
        self.assertIsNotNone(self.launcher)

        # A message box would hold the launcher: end the wait early and show it.
        deadline = time.monotonic() + LAUNCHER_TIMEOUT
        rc = None
        while time.monotonic() < deadline:
            rc = self.launcher.wait(1.0)
            if rc is not None or self.boxes.boxes():
                break
        self.assertEqual(self.boxes.boxes(), [])
        self.assertEqual(rc, 0, "launcher: %r\nlog:\n%s" % (self.launcher.result(), self.log()))

        report_path = os.path.join(self.install, "standin-report.txt")
        deadline = time.monotonic() + CLIENT_TIMEOUT
        report = None
        while time.monotonic() < deadline:
            report = tl.read(report_path)
            if report and b"store" in report and report.endswith(b"\n"):
                break
            time.sleep(0.5)
        self.assertTrue(report, "the i686 stand-in client did not report; launcher log:\n%s" % self.log())
        report = report.decode()

        self.assertEqual(int.from_bytes(tl.read(os.path.join(self.install, "data.idx"))[:4], "little"), 12)
        self.assertIn(tl.report_line("data/a.txt", b"alpha v11"), report)
        self.assertIn(tl.report_line("data/new.txt", b"new in 12"), report)
        self.assertIn(tl.report_line("data/maps/m.bin", tl.BASE_FILES["data/maps/m.bin"]), report)
        self.assertEqual(tl.read(os.path.join(self.install, "notes", "readme.txt")), b"loose v11")
        for leftover in ("11.rar", "12.rar", "11.dat", "12.dat", "patch.hpl"):
            self.assertFalse(os.path.exists(os.path.join(self.install, leftover)), leftover)
        log = self.log()
        for line in ("Patch progeress : 50", "Patch progeress : 100", "11.rar extraido com sucesso.",
                     "12.rar extraido com sucesso."):
            self.assertIn(line, log)
        self.assertEqual(tl.read(os.path.join(self.install, "standin-commandline.txt")).decode(),
                         "Orvant.exe @KESTREL_WORK@ _server %s" % tl.GAME_SERVER)
        self.assertEqual([p.rsplit("/", 1)[-1] for p in self.server.requests()], ["patch.hpl", "11.rar", "12.rar"])
        # The store the 32-bit launcher wrote reads back whole with the native tool.
        tl.tool(tl.OSTREL_PACK, "verify", os.path.join(self.install, "data.idx"))


if __name__ == "__main__":
    unittest.main()
