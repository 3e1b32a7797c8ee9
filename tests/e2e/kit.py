"""The end-to-end kit: what a scenario builds on top of the harness's infrastructure.

  Installation(folder)          an installation as players have it: the store made by ostrel-pack,
                                the build's programs (the one list, INSTALLED_PROGRAMS), the stand-in
                                client as "Orvant.exe", the version file and the client's read list
  build_patch / publish         patch archives made and laid out on a server folder by talvora-mkpatch
  wait_until(condition, ...)    polls until a condition holds or time runs out
  E2ETestCase                   one Wine session (and, as the class asks, a display and a trusted test
                                CA) per class; per scenario a fresh folder with `install` and `server`,
                                and everything the scenario starts (patch server, message-box watcher,
                                launcher) ended again when it ends

A scenario is a subclass of E2ETestCase: make_install, build_patch, publish, serve, run_launcher,
then checks on disk, on the server and in the stand-in client's report.
"""

import os
import shutil
import subprocess
import time
import unittest

import harness as h
from pe_files import pe_machine

NATIVE_BIN = os.path.join(h.source_dir(), "build", "native", "bin")
OSTREL_PACK = os.path.join(NATIVE_BIN, "ostrel-pack")
MKPATCH = os.path.join(NATIVE_BIN, "talvora-mkpatch")
GAME_SERVER = h.cache_value("TALVORA_GAME_SERVER") or "127.0.0.1"
# The message texts the boxes show (language 0), as Windows-1252 decodes them.
FAIL_DOWNLOAD = "Falha ao baixar atualiza\u00e7\u00e3o.."
FAIL_EXTRACT = "Falha ao extrair atualizacao.."

# The build's programs an installation holds, besides the stand-in client as "Orvant.exe".
INSTALLED_PROGRAMS = ("Talvora.exe", "OstrelVFS.dll", "unrar.dll", "OrvUpdate.exe")
CLIENT = "Orvant.exe"

BASE_FILES = {
    "data/a.txt": b"alpha v10",
    "data/maps/m.bin": bytes((i * 7 + 3) & 0xFF for i in range(200000)),
}
# What the stand-in client reads through the library and reports, unless a scenario says otherwise.
CLIENT_READS = ("data/a.txt", "data/maps/m.bin", "data/new.txt")


# --- Small helpers ------------------------------------------------------------------------------


def le32(*values):
    return b"".join(v.to_bytes(4, "little") for v in values)


def fnv1a64(data):
    value = 14695981039346656037
    for b in data:
        value = ((value ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def report_line(path, data):
    """The stand-in client's report line for a file it read."""
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
    """Runs a native operator tool; its output, or AssertionError with its messages."""
    p = subprocess.run([str(a) for a in args], capture_output=True, timeout=120)
    if p.returncode != 0:
        raise AssertionError("%s failed: %s" % (" ".join(map(str, args)), p.stderr.decode()))
    return p.stdout


def wait_until(condition, timeout, poll=0.1):
    """Polls `condition` until it gives a true value, which is returned; None after `timeout` s."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(poll)


# --- Installations and patches ------------------------------------------------------------------


class Installation:
    """An installation folder, built step by step (each step returns the installation)."""

    def __init__(self, folder, build=None):
        self.folder = folder
        self.build = build

    def path(self, name):
        return os.path.join(self.folder, name)

    def pack(self, content, files, version):
        """The store at patch `version` holding `files`, written to `content` and packed."""
        for name, data in files.items():
            write(os.path.join(content, name), data)
        tool(OSTREL_PACK, "create", self.folder, content, "--version", version)
        return self

    def add_programs(self):
        """The build's programs, and its stand-in client as the game's."""
        os.makedirs(self.folder, exist_ok=True)
        for name in INSTALLED_PROGRAMS:
            shutil.copy(h.bin_path(name, self.build), self.folder)
        shutil.copy(h.bin_path("standin_client.exe", self.build), self.path(CLIENT))
        return self

    def set_versions(self, launcher, client):
        """The version file ("cver.v"): the launcher's and the client's versions."""
        write(self.path("cver.v"), le32(launcher, client))
        return self

    def set_client_reads(self, names):
        """The files the stand-in client reads through the library and reports."""
        write(self.path("standin.paths"), "".join(n + "\n" for n in names).encode())
        return self

    def programs(self):
        return INSTALLED_PROGRAMS + (CLIENT,)


def game_installation(folder, content, version=10, launcher=4, client=5, files=BASE_FILES, with_index=True,
                      client_reads=CLIENT_READS, build=None):
    """The usual installation at patch `version`; without a store when `with_index` is false, without
    a read list when `client_reads` is None."""
    install = Installation(folder, build)
    if with_index:
        install.pack(content, files, version)
    install.add_programs().set_versions(launcher, client)
    if client_reads is not None:
        install.set_client_reads(client_reads)
    return install


def build_patch(root, number, pack=None, loose=None):
    """Patch `number` built by talvora-mkpatch from files for the store (`pack`) and loose files;
    its archive's path (in root/out)."""
    change = os.path.join(root, "change%d" % number)
    for path, data in (pack or {}).items():
        write(os.path.join(change, "pack", path), data)
    for path, data in (loose or {}).items():
        write(os.path.join(change, "loose", path), data)
    os.makedirs(change, exist_ok=True)
    out = os.path.join(root, "out")
    tool(MKPATCH, "build", number, change, out)
    return os.path.join(out, "%d.rar" % number)


def publish(server_dir, *archives, extra=()):
    """Lays out the server folder (its "patch" folder is what the patch server serves)."""
    return tool(MKPATCH, "publish", server_dir, *archives, *extra)


# --- The test case ------------------------------------------------------------------------------


class E2ETestCase(unittest.TestCase):
    """One Wine session for a class of scenarios, and a fresh world per scenario.

    A class says what it needs: `needs` (paths that must exist, else the class is skipped),
    `uses_display` (an Xvfb of `screen_size` for the session), `serves_patches` (a test CA the
    session trusts, and the patch server's port free), `removes_work` (the class's work folder
    removed at the end, for scenarios that leave gigabytes). Per scenario: `root`, `install` and
    `server_dir` folders, and what serve, watch_boxes and start_launcher start is ended by the
    scenario's cleanups (by pid), last started first."""

    work_name = "e2e"
    needs = ()
    uses_display = False
    screen_size = (1024, 768)
    serves_patches = False
    removes_work = False

    display = session = pki = None

    @classmethod
    def setUpClass(cls):
        h.skip_unless_programs_run()
        for path in tuple(cls.needs) + ((OSTREL_PACK, MKPATCH) if cls.serves_patches else ()):
            if not os.path.exists(path):
                raise unittest.SkipTest("%s is missing: build the native and Windows presets first" % path)
        cls.work = h.fresh_dir(os.path.join(h.work_dir(cls.work_name), cls.__name__))
        if cls.removes_work:
            # Registered first, so it runs last, once the session no longer uses the prefix there.
            cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.count = 0
        if cls.serves_patches:
            cls.pki = h.TestPki(os.path.join(cls.work, "pki"))
            made = cls.pki.make()
            assert made, made
            if not h.port_is_free(h.PatchServer(cls.work, cls.work, "x", "y").port):
                raise AssertionError("the launcher's patch server port is taken: %s" % h.patch_url())
        if cls.uses_display:
            cls.display = h.Display("%dx%dx24" % cls.screen_size)
            cls.addClassCleanup(cls.display.stop)
            started = cls.display.start()
            assert started, started
        cls.session = h.WineSession(os.path.join(cls.work, "prefix"), display=cls.display)
        cls.addClassCleanup(cls.session.close)
        opened = cls.session.open()
        assert opened, opened
        if cls.serves_patches:
            trusted = cls.session.trust_ca(cls.pki.ca_cert)
            assert trusted, trusted

    def setUp(self):
        type(self).count += 1
        self.use_root(os.path.join(self.work, "s%02d-%s" % (self.count, self._testMethodName)))
        self.server = self.boxes = self.launcher = None

    def use_root(self, folder):
        """A fresh scenario folder with its installation and server folders."""
        self.root = h.fresh_dir(folder)
        self.install = os.path.join(self.root, "install")
        self.server_dir = os.path.join(self.root, "server")

    # --- Building the world -----------------------------------------------------------------

    def make_install(self, **kwargs):
        """The usual installation (game_installation's arguments) in `install`, its programs
        checked to be the build's own: in the win32 build, the i686 deliverables themselves."""
        install = game_installation(self.install, os.path.join(self.root, "content"), **kwargs)
        for name in install.programs():
            self.assertEqual(pe_machine(install.path(name)), h.build_machine(), name)
        return self.install

    def build_patch(self, number, pack=None, loose=None):
        return build_patch(self.root, number, pack, loose)

    def publish(self, *archives, extra=()):
        publish(self.server_dir, *archives, extra=extra)

    def serve(self, **kwargs):
        """nginx serving the server folder's "patch" folder (PatchServer's options); stopped at the end."""
        docroot = os.path.join(self.server_dir, "patch")
        os.makedirs(docroot, exist_ok=True)
        self.server = h.PatchServer(docroot, os.path.join(self.root, "nginx"), self.pki.server_cert,
                                    self.pki.server_key, **kwargs)
        self.addCleanup(self.server.stop)
        started = self.server.start()
        self.assertTrue(started, started)
        return self.server

    def watch_boxes(self, record="boxes.txt"):
        """boxwatch answering every message box, recorded in root/`record`."""
        self.boxes = h.BoxWatch(self.session, os.path.join(self.root, record))
        self.addCleanup(self.boxes.stop)
        started = self.boxes.start()
        self.assertTrue(started, started)
        return self.boxes

    def start_launcher(self):
        self.launcher = self.session.start(os.path.join(self.install, "Talvora.exe"), cwd=self.install)
        self.assertIsNotNone(self.launcher)
        self.addCleanup(self.launcher.stop)
        return self.launcher

    def run_launcher(self):
        self.watch_boxes()
        self.start_launcher()

    def end_run(self):
        """Ends what serve, watch_boxes and start_launcher started, last started first. A scenario
        that runs the launcher several times calls it in a `finally`, so one failed run does not hold
        the patch server's port or the session for the runs after it."""
        for part in (self.launcher, self.boxes, self.server):
            if part is not None:
                part.stop()

    # --- What happened ----------------------------------------------------------------------

    def wait_for_game(self, timeout=90):
        """The launcher ends (exit code 0) and the stand-in client writes its report; the report."""
        rc = self.launcher.wait(timeout)
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())

        def report():
            data = read(os.path.join(self.install, "standin-report.txt"))
            return data.decode() if data and b"\n" in data and b"store" in data else None

        found = wait_until(report, 60)
        if found is None:
            self.fail("the stand-in client did not report; launcher log:\n%s" % self.log())
        return found

    def stays_open(self, seconds=8):
        self.assertIsNone(self.launcher.wait(seconds), "launcher ended: %r" % self.launcher.result())
        self.assertIsNone(read(os.path.join(self.install, "standin-commandline.txt")), "the game started")

    def log(self):
        return self.launcher.stdout().decode("cp1252", "replace")

    def store_version(self):
        return int.from_bytes(read(os.path.join(self.install, "data.idx"))[:4], "little")

    def verify_store(self):
        p = subprocess.run([OSTREL_PACK, "verify", os.path.join(self.install, "data.idx")], capture_output=True,
                           timeout=60)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)

    def stored(self, path):
        """A file of the store, read back by ostrel-pack; None when the store has no such file."""
        p = subprocess.run([OSTREL_PACK, "cat", os.path.join(self.install, "data.idx"), path], capture_output=True,
                           timeout=60)
        return p.stdout if p.returncode == 0 else None

    def requested(self):
        """The names the patch server was asked for, oldest first."""
        return [p.rsplit("/", 1)[-1] for p in self.server.requests()]
