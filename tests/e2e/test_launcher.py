"""The launcher end to end: Talvora.exe of the build under test (win64, or the i686 product under
emulated wine32) in Xvfb, against nginx over HTTPS serving patches published with the operator
tools, with the stand-in game client of the same build as "Orvant.exe".

Each scenario builds an installation at patch 10 (store made by ostrel-pack, "cver.v", the library,
unrar.dll, the stand-in client, the self-updater), lays out the server with talvora-mkpatch, runs
the launcher, answers its message boxes and checks what happened on disk, on the server and in the
stand-in client's report.
"""

import os
import shutil
import subprocess
import time
import unittest

import harness as h

NATIVE_BIN = os.path.join(h.source_dir(), "build", "native", "bin")
OSTREL_PACK = os.path.join(NATIVE_BIN, "ostrel-pack")
MKPATCH = os.path.join(NATIVE_BIN, "talvora-mkpatch")
GAME_SERVER = h.cache_value("TALVORA_GAME_SERVER") or "127.0.0.1"
# The message texts the boxes show (language 0), as Windows-1252 decodes them.
FAIL_DOWNLOAD = "Falha ao baixar atualiza\u00e7\u00e3o.."
FAIL_EXTRACT = "Falha ao extrair atualizacao.."

# The build's programs an installation holds, besides the stand-in client as "Orvant.exe".
INSTALLED_PROGRAMS = ("Talvora.exe", "OstrelVFS.dll", "unrar.dll", "OrvUpdate.exe")

BASE_FILES = {
    "data/a.txt": b"alpha v10",
    "data/maps/m.bin": bytes((i * 7 + 3) & 0xFF for i in range(200000)),
}


def le32(*values):
    return b"".join(v.to_bytes(4, "little") for v in values)


def fnv1a64(data):
    h_ = 14695981039346656037
    for b in data:
        h_ = ((h_ ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return h_


def report_line(path, data):
    return "%s %d %016x" % (path, len(data), fnv1a64(data))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def tool(*args):
    p = subprocess.run([str(a) for a in args], capture_output=True, timeout=120)
    if p.returncode != 0:
        raise AssertionError("%s failed: %s" % (" ".join(map(str, args)), p.stderr.decode()))
    return p.stdout


class LauncherWorld(unittest.TestCase):
    """One Wine session, display and test CA for a class of scenarios, and a fresh installation,
    server folder and patch server per scenario. Subclasses add the scenarios."""

    work_name = "launcher"

    @classmethod
    def setUpClass(cls):
        h.skip_unless_programs_run()
        for exe in (OSTREL_PACK, MKPATCH):
            if not os.path.exists(exe):
                raise unittest.SkipTest("%s is missing: build the native preset first" % exe)
        cls.work = h.fresh_dir(h.work_dir(cls.work_name))
        cls.pki = h.TestPki(os.path.join(cls.work, "pki"))
        made = cls.pki.make()
        assert made, made
        if not h.port_is_free(h.PatchServer(cls.work, cls.work, "x", "y").port):
            raise AssertionError("the launcher's patch server port is taken: %s" % h.patch_url())
        cls.display = h.Display()
        started = cls.display.start()
        assert started, started
        cls.session = h.WineSession(os.path.join(cls.work, "prefix"), display=cls.display)
        opened = cls.session.open()
        assert opened, opened
        trusted = cls.session.trust_ca(cls.pki.ca_cert)
        assert trusted, trusted
        cls.count = 0

    @classmethod
    def tearDownClass(cls):
        cls.session.close()
        cls.display.stop()

    # --- One scenario's world ---------------------------------------------------------------

    def setUp(self):
        type(self).count += 1
        self.root = h.fresh_dir(os.path.join(self.work, "s%02d-%s" % (self.count, self._testMethodName)))
        self.install = os.path.join(self.root, "install")
        self.server_dir = os.path.join(self.root, "server")
        self.server = None
        self.boxes = None
        self.launcher = None

    def tearDown(self):
        if self.launcher is not None:
            self.launcher.stop()
        if self.boxes is not None:
            self.boxes.stop()
        if self.server is not None:
            self.server.stop()

    def make_install(self, version=10, launcher=4, client=5, with_index=True):
        content = os.path.join(self.root, "content")
        for path, data in BASE_FILES.items():
            write(os.path.join(content, path), data)
        if with_index:
            tool(OSTREL_PACK, "create", self.install, content, "--version", version)
        else:
            os.makedirs(self.install)
        for name in INSTALLED_PROGRAMS:
            shutil.copy(h.bin_path(name), self.install)
        shutil.copy(h.bin_path("standin_client.exe"), os.path.join(self.install, "Orvant.exe"))
        write(os.path.join(self.install, "cver.v"), le32(launcher, client))
        write(os.path.join(self.install, "standin.paths"), b"data/a.txt\ndata/maps/m.bin\ndata/new.txt\n")
        # The build's own programs: in the win32 build, the i686 deliverables themselves.
        machine = h.build_machine()
        for name in INSTALLED_PROGRAMS + ("Orvant.exe",):
            self.assertEqual(h.pe_machine(os.path.join(self.install, name)), machine, name)

    def build_patch(self, number, pack=None, loose=None):
        change = os.path.join(self.root, "change%d" % number)
        for path, data in (pack or {}).items():
            write(os.path.join(change, "pack", path), data)
        for path, data in (loose or {}).items():
            write(os.path.join(change, "loose", path), data)
        os.makedirs(change, exist_ok=True)
        out = os.path.join(self.root, "out")
        tool(MKPATCH, "build", number, change, out)
        return os.path.join(out, "%d.rar" % number)

    def publish(self, *archives, extra=()):
        tool(MKPATCH, "publish", self.server_dir, *archives, *extra)

    def serve(self, **kwargs):
        docroot = os.path.join(self.server_dir, "patch")
        os.makedirs(docroot, exist_ok=True)
        self.server = h.PatchServer(docroot, os.path.join(self.root, "nginx"), self.pki.server_cert,
                                    self.pki.server_key, **kwargs)
        started = self.server.start()
        self.assertTrue(started, started)

    def run_launcher(self):
        self.boxes = h.BoxWatch(self.session, os.path.join(self.root, "boxes.txt"))
        started = self.boxes.start()
        self.assertTrue(started, started)
        self.launcher = self.session.start(os.path.join(self.install, "Talvora.exe"), cwd=self.install)
        self.assertIsNotNone(self.launcher)

    def wait_for_game(self, timeout=90):
        """The launcher ends (exit code 0) and the stand-in client writes its report."""
        rc = self.launcher.wait(timeout)
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())
        report_path = os.path.join(self.install, "standin-report.txt")
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            report = read(report_path)
            if report and b"\n" in report and b"store" in report:
                return report.decode()
            time.sleep(0.1)
        self.fail("the stand-in client did not report; launcher log:\n%s" % self.log())

    def stays_open(self, seconds=8):
        self.assertIsNone(self.launcher.wait(seconds), "launcher ended: %r" % self.launcher.result())
        self.assertIsNone(read(os.path.join(self.install, "standin-commandline.txt")), "the game started")

    def log(self):
        return self.launcher.stdout().decode("cp1252", "replace")

    def store_version(self):
        return int.from_bytes(read(os.path.join(self.install, "data.idx"))[:4], "little")

    def requested(self):
        return [p.rsplit("/", 1)[-1] for p in self.server.requests()]



class LauncherScenarios(LauncherWorld):

    def test_no_index(self):
        self.make_install(with_index=False)
        write(os.path.join(self.server_dir, "patch", "patch.hpl"), le32(12, 4, 5))
        self.serve()
        self.run_launcher()
        self.stays_open()
        self.assertEqual(self.requested(), [])
        self.assertEqual(self.boxes.boxes(), [])

    def test_patch_list_missing(self):
        self.make_install()
        os.makedirs(os.path.join(self.server_dir, "patch"))
        self.serve()
        self.run_launcher()
        report = self.wait_for_game()
        self.assertEqual(self.boxes.boxes(), [("", FAIL_DOWNLOAD)])
        self.assertIn("store 2 files", report)
        self.assertFalse(os.path.exists(os.path.join(self.install, "patch.hpl")))

    def test_patch_list_truncated(self):
        self.make_install()
        write(os.path.join(self.server_dir, "patch", "patch.hpl"), le32(12) + b"\x01")
        self.serve()
        self.run_launcher()
        self.wait_for_game()
        self.assertEqual(self.boxes.boxes(), [])
        self.assertEqual(self.store_version(), 10)
        self.assertEqual(self.requested(), ["patch.hpl"])

    def test_nothing_to_patch(self):
        self.make_install()
        self.publish()
        write(os.path.join(self.server_dir, "patch", "patch.hpl"), le32(10, 4, 5))
        self.serve()
        self.run_launcher()
        report = self.wait_for_game()
        self.assertEqual(self.requested(), ["patch.hpl"])
        self.assertIn(report_line("data/a.txt", BASE_FILES["data/a.txt"]), report)

    def test_two_patches_applied(self):
        self.make_install()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"}, loose={"notes/readme.txt": b"loose v11"})
        twelve = self.build_patch(12, pack={"data/new.txt": b"new in 12"})
        self.publish(eleven, twelve)
        self.serve()
        self.run_launcher()
        report = self.wait_for_game()
        self.assertEqual(self.store_version(), 12)
        self.assertIn(report_line("data/a.txt", b"alpha v11"), report)
        self.assertIn(report_line("data/new.txt", b"new in 12"), report)
        self.assertIn(report_line("data/maps/m.bin", BASE_FILES["data/maps/m.bin"]), report)
        self.assertEqual(read(os.path.join(self.install, "notes", "readme.txt")), b"loose v11")
        for leftover in ("11.rar", "12.rar", "11.dat", "12.dat", "patch.hpl"):
            self.assertFalse(os.path.exists(os.path.join(self.install, leftover)), leftover)
        log = self.log()
        for line in ("Patch progeress : 50", "Patch progeress : 100", "11.rar extraido com sucesso.",
                     "Iniciando download de: %s/12.rar" % h.patch_url()):
            self.assertIn(line, log)
        self.assertEqual(read(os.path.join(self.install, "standin-commandline.txt")).decode(),
                         "Orvant.exe @KESTREL_WORK@ _server %s" % GAME_SERVER)
        self.assertEqual(self.requested(), ["patch.hpl", "11.rar", "12.rar"])
        self.assertEqual(self.boxes.boxes(), [])
        # The store the launcher wrote reads back whole with the operator tool.
        tool(OSTREL_PACK, "verify", os.path.join(self.install, "data.idx"))

    def test_archive_missing(self):
        self.make_install()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        twelve = self.build_patch(12, pack={"data/new.txt": b"new in 12"})
        self.publish(eleven, twelve)
        os.remove(os.path.join(self.server_dir, "patch", "12.rar"))
        self.serve()
        self.run_launcher()
        self.assertEqual(self.boxes.wait_for(1, timeout=60), [("", FAIL_DOWNLOAD)])
        self.stays_open(5)
        self.assertEqual(self.store_version(), 11)
        self.assertFalse(os.path.exists(os.path.join(self.install, "patch.hpl")))
        self.assertEqual(len(self.boxes.boxes()), 1)

    def test_archive_damaged(self):
        self.make_install()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        self.publish(eleven)
        write(os.path.join(self.server_dir, "patch", "11.rar"), b"an error page, not a RAR archive")
        self.serve()
        self.run_launcher()
        self.assertEqual(self.boxes.wait_for(1, timeout=60), [("", FAIL_EXTRACT)])
        self.stays_open(5)
        self.assertEqual(self.store_version(), 10)
        self.assertIn("Falha ao extrair.", self.log())
        self.assertFalse(os.path.exists(os.path.join(self.install, "11.rar")))

    def test_patch_that_does_not_apply(self):
        self.make_install()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        # A patch file cut short inside a proper archive.
        stage = os.path.join(self.root, "cut")
        os.makedirs(stage)
        subprocess.run(["unrar", "x", "-idq", eleven, stage + "/"], check=True)
        data = read(os.path.join(stage, "11.dat"))
        write(os.path.join(stage, "11.dat"), data[:-3])
        broken = os.path.join(self.root, "broken", "11.rar")
        os.makedirs(os.path.dirname(broken))
        subprocess.run(["rar", "a", "-idq", broken, "11.dat"], cwd=stage, check=True)
        self.publish(broken)
        self.serve()
        self.run_launcher()
        self.stays_open(10)
        self.assertEqual(self.boxes.boxes(), [])
        self.assertEqual(self.store_version(), 10)
        self.assertIn("Falha ao carregar lista de patchs.", self.log())
        self.assertFalse(os.path.exists(os.path.join(self.install, "11.dat")))

    def test_newer_client(self):
        self.make_install(client=5)
        new_client = read(h.bin_path("standin_client.exe")) + b"client version 6"
        write(os.path.join(self.root, "Orvant.exe"), new_client)
        self.publish(extra=("--client", os.path.join(self.root, "Orvant.exe"), "--client-version", "6"))
        self.serve()
        self.run_launcher()
        self.wait_for_game()
        self.assertEqual(read(os.path.join(self.install, "Orvant.exe")), new_client)
        self.assertFalse(os.path.exists(os.path.join(self.install, "Orvant.bin")))
        self.assertEqual(read(os.path.join(self.install, "cver.v")), le32(4, 6))
        self.assertEqual(self.requested(), ["patch.hpl", "Orvant.exe"])

    def test_client_that_cannot_be_replaced_is_fetched_again(self):
        self.make_install(client=5)
        old_client = read(os.path.join(self.install, "Orvant.exe"))
        new_client = read(h.bin_path("standin_client.exe")) + b"client version 6"
        write(os.path.join(self.root, "Orvant.exe"), new_client)
        self.publish(extra=("--client", os.path.join(self.root, "Orvant.exe"), "--client-version", "6"))
        self.serve()
        # Something holds "Orvant.exe" open (a running client, a virus scanner): it cannot be replaced.
        holder = self.session.start(h.bin_path("hold_file.exe"),
                                    [h.windows_path(os.path.join(self.install, "Orvant.exe")), "120"], cwd=self.root)
        deadline = time.monotonic() + 60
        while b"held" not in holder.stdout() and holder.running() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertIn(b"held", holder.stdout(), holder.result())
        try:
            self.run_launcher()
            self.wait_for_game()
        finally:
            holder.stop()
        self.assertEqual(read(os.path.join(self.install, "Orvant.exe")), old_client)
        self.assertFalse(os.path.exists(os.path.join(self.install, "Orvant.bin")))
        self.assertEqual(read(os.path.join(self.install, "cver.v")), le32(4, 5), "the refresh was not recorded")
        self.assertIn("Orvant.exe cannot be replaced", self.log())

        # The next run fetches the client again and puts it in place.
        for name in ("standin-report.txt", "standin-commandline.txt"):
            os.remove(os.path.join(self.install, name))
        self.boxes.stop()
        self.run_launcher()
        self.wait_for_game()
        self.assertEqual(read(os.path.join(self.install, "Orvant.exe")), new_client)
        self.assertEqual(read(os.path.join(self.install, "cver.v")), le32(4, 6))
        self.assertEqual(self.requested(), ["patch.hpl", "Orvant.exe", "patch.hpl", "Orvant.exe"])

    def test_self_update_refused_in_a_folder_too_deep_for_the_updater(self):
        # The launcher's folder is 244 characters long as Windows names it: the launcher's own paths
        # fit, but "launcher.bin" beside the self-updater does not fit its buffers.
        deep = os.path.join(self.root, "deep")
        while len(h.windows_path(deep)) < 244:
            deep = os.path.join(deep, "p" * min(40, 243 - len(h.windows_path(deep))))
        self.assertEqual(len(h.windows_path(deep)), 244)
        self.install = deep
        self.make_install(launcher=3, client=5)
        write(os.path.join(self.root, "launcher.exe"), read(h.bin_path("Talvora.exe")) + b"launcher version 4")
        self.publish(extra=("--launcher", os.path.join(self.root, "launcher.exe"), "--launcher-version", "4"))
        self.serve()
        self.run_launcher()
        # Refused as a failed download: the box, then the game start, which ends the launcher.
        self.assertEqual(self.boxes.wait_for(1, timeout=60), [("Erro ao atualizar", FAIL_DOWNLOAD)])
        self.assertEqual(self.launcher.wait(60), 0, "launcher: %r" % self.launcher.result())
        self.assertEqual(self.requested(), ["patch.hpl"])
        self.assertEqual(read(os.path.join(self.install, "cver.v")), le32(3, 5))
        self.assertFalse(os.path.exists(os.path.join(self.install, "launcher.bin")))
        self.assertIn("too long for the self-updater", self.log())

    def test_newer_launcher(self):
        self.make_install(launcher=3, client=5)
        new_launcher = read(h.bin_path("Talvora.exe")) + b"launcher version 4"
        write(os.path.join(self.root, "launcher.exe"), new_launcher)
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        self.publish(eleven, extra=("--launcher", os.path.join(self.root, "launcher.exe"), "--launcher-version", "4"))
        self.serve()
        self.run_launcher()
        # The first launcher ends at once through the self-updater, which restarts the new one; that
        # one patches and starts the game.
        self.assertEqual(self.launcher.wait(60), 0)
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and read(os.path.join(self.install, "standin-report.txt")) is None:
            time.sleep(0.2)
        self.assertEqual(read(os.path.join(self.install, "Talvora.exe")), new_launcher)
        self.assertFalse(os.path.exists(os.path.join(self.install, "launcher.bin")))
        self.assertEqual(read(os.path.join(self.install, "cver.v")), le32(4, 5))
        report = (read(os.path.join(self.install, "standin-report.txt")) or b"").decode()
        self.assertIn(report_line("data/a.txt", b"alpha v11"), report)
        self.assertEqual(self.requested(), ["patch.hpl", "launcher.exe", "patch.hpl", "11.rar"])

    def test_client_already_running(self):
        self.make_install()
        self.publish()
        self.serve()
        running = self.session.start(os.path.join(self.install, "Orvant.exe"), ["--window", "30"],
                                     cwd=self.root)
        deadline = time.monotonic() + 30
        while read(os.path.join(self.root, "standin-commandline.txt")) is None and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(1.0)  # its window exists once it has written its command line and pumped once
        try:
            started = time.monotonic()
            self.run_launcher()
            self.assertEqual(self.launcher.wait(60), 0)
            self.assertGreaterEqual(time.monotonic() - started, 3.0)
            # The client's start can take long on a loaded machine under emulation.
            deadline = time.monotonic() + 90
            line = None
            while line is None and time.monotonic() < deadline:
                line = read(os.path.join(self.install, "standin-commandline.txt"))
                time.sleep(0.1)
            self.assertEqual((line or b"").decode(), "Orvant.exe @KESTREL_WORK@ _server %s" % GAME_SERVER)
            self.assertEqual(self.requested(), [])
        finally:
            running.stop()


if __name__ == "__main__":
    unittest.main()
