"""The main job, for people trying the project: a sample installation at patch 10, patches 11 and 12
published on a local HTTPS patch server, and the launcher run under Wine until it has patched the
store and started the stand-in game client, which lists what it read through the pack-store
library. The launcher is the product (the i686 build) when this machine runs 32-bit code, the win64
build otherwise. Two screenshots of its window land in build/demo/: one in the middle of the patch
(patch 12 comes from a rate-limited server), one of its last frame. Run by scripts/demo after the
builds."""

import os
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
import harness as h  # noqa: E402
import kit  # noqa: E402

NATIVE = os.path.join(SOURCE, "build", "native", "bin")
WORK = os.path.join(SOURCE, "build", "demo")
PRODUCT = os.path.join(SOURCE, "build", "win32")
WIN64 = os.path.join(SOURCE, "build", "win64")
WINDOW_TITLE = "^Halcyra Online$"
PATCH_12_RATE = "150k"  # patch 12 (about 1.5 MB) then takes about ten seconds to arrive


def step(text):
    print("== " + text, flush=True)


def tool(*args):
    p = subprocess.run([str(a) for a in args], capture_output=True, text=True)
    if p.returncode != 0:
        sys.exit("demo: %s failed:\n%s" % (" ".join(map(str, args)), p.stderr))
    for line in p.stdout.splitlines():
        print("   " + line)


def launcher_build():
    """The build to run: the product when this machine runs 32-bit programs."""
    why = h.why_programs_cannot_run(PRODUCT)
    if why is None:
        return PRODUCT, "the product, the i686 build, under Wine's emulated 32-bit half"
    return WIN64, "the win64 build: this machine cannot run the 32-bit product (%s)" % why


class WindowCamera:
    """Screenshots of the launcher's window, taken by a thread every few tenths of a second while
    the window exists; the last one taken is the window's last frame."""

    def __init__(self, display, folder):
        self.display, self.folder = display, folder
        self.last = None
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)

    def env(self):
        return dict(os.environ, DISPLAY=self.display)

    def window(self):
        found = subprocess.run(["xdotool", "search", "--name", WINDOW_TITLE], env=self.env(), capture_output=True,
                               text=True)
        ids = found.stdout.split()
        return ids[0] if ids else None

    def shoot(self, path):
        wid = self.window()
        if not wid:
            return False
        taken = subprocess.run(["import", "-window", wid, path], env=self.env(), capture_output=True)
        return taken.returncode == 0

    def _run(self):
        turn = 0
        while not self.stopping.is_set():
            path = os.path.join(self.folder, "frame-%d.png" % (turn % 2))
            if self.shoot(path):
                self.last = path
                turn += 1
            time.sleep(0.3)

    def start(self):
        self.thread.start()

    def stop(self):
        self.stopping.set()
        self.thread.join(30)


def main():
    h.fresh_dir(WORK)
    install, server, logs = (os.path.join(WORK, n) for n in ("install", "server", "logs"))
    os.makedirs(logs)

    step("a game build at patch 10 and the installation players have")
    content = os.path.join(WORK, "build-10")
    kit.write(os.path.join(content, "data", "maps", "harbour.map"), bytes(range(256)) * 4096)
    kit.write(os.path.join(content, "data", "text", "welcome.txt"), b"Bem-vindo (patch 10)\n")
    tool(os.path.join(NATIVE, "ostrel-pack"), "create", install, content, "--version", "10")
    build, which = launcher_build()
    print("   the launcher: %s" % which)
    # Launcher and client version 0, as published.
    kit.Installation(install, build).add_programs().set_versions(0, 0).set_client_reads(
        ["data/maps/harbour.map", "data/text/welcome.txt", "data/text/news.txt"])

    step("patches 11 and 12, built and published with talvora-mkpatch")
    mkpatch = os.path.join(NATIVE, "talvora-mkpatch")
    c11, c12, out = (os.path.join(WORK, n) for n in ("change-11", "change-12", "archives"))
    kit.write(os.path.join(c11, "pack", "data", "text", "welcome.txt"), b"Bem-vindo (patch 11)\n")
    kit.write(os.path.join(c11, "loose", "LEIAME.txt"), b"Notas da versao 11\n")
    kit.write(os.path.join(c12, "pack", "data", "text", "news.txt"), b"Novidades do patch 12\n")
    # A new map that does not compress, so patch 12 takes a while to arrive.
    kit.write(os.path.join(c12, "pack", "data", "maps", "islands.map"), os.urandom(1536 * 1024))
    tool(mkpatch, "build", "11", c11, out)
    tool(mkpatch, "build", "12", c12, out)
    tool(mkpatch, "publish", server, os.path.join(out, "11.rar"), os.path.join(out, "12.rar"))
    tool(mkpatch, "check", install, server)

    pki = h.TestPki(os.path.join(WORK, "pki"))
    made = pki.make()
    if not made:
        sys.exit("demo: %s" % made.error)
    patch_server = h.PatchServer(os.path.join(server, "patch"), os.path.join(logs, "nginx"), pki.server_cert,
                                 pki.server_key, limit_rate={"12.rar": PATCH_12_RATE}, build=build)
    display = None
    session = None
    camera = None
    try:
        step("the patch server: nginx at %s" % patch_server.base_url)
        started = patch_server.start()
        if not started:
            sys.exit("demo: %s" % started.error)
        if not os.environ.get("DISPLAY"):
            display = h.Display()
            started = display.start()
            if not started:
                sys.exit("demo: %s" % started.error)
            print("   no display: the launcher's window goes to Xvfb %s" % display.name)
        step("a Wine prefix that trusts the test CA")
        session = h.WineSession(os.path.join(WORK, "prefix"), display=display or os.environ.get("DISPLAY"),
                                cached=h.cached_prefix(build))
        for outcome in (session.open(), session.trust_ca(pki.ca_cert)):
            if not outcome:
                sys.exit("demo: %s" % outcome.error)

        step("the launcher: Talvora.exe from %s" % install)
        camera = WindowCamera(display.name if display else os.environ["DISPLAY"], WORK)
        camera.start()
        launcher = session.start(os.path.join(install, "Talvora.exe"), cwd=install)
        # Patch 11 has arrived: the launcher is applying it or fetching the slow patch 12.
        middle = os.path.join(WORK, "launcher-mid-patch.png")
        if not kit.wait_until(lambda: "/patch/11.rar" in patch_server.requests(), 300, poll=0.2):
            sys.exit("demo: the launcher never fetched patch 11")
        time.sleep(1.0)
        if not camera.shoot(middle):
            sys.exit("demo: no launcher window to take a picture of in the middle of the patch")
        rc = launcher.wait(300)
        camera.stop()
        last = os.path.join(WORK, "launcher-last-frame.png")
        if not camera.last:
            sys.exit("demo: no picture of the launcher's window was taken")
        shutil.copy(camera.last, last)
        with open(os.path.join(logs, "launcher.log"), "wb") as f:
            f.write(launcher.stdout())
        for line in launcher.stdout().decode("cp1252", "replace").splitlines():
            print("   " + line)
        if rc != 0:
            sys.exit("demo: the launcher did not finish (exit code %r)" % rc)

        step("the game client it started (the stand-in), reading the store through OstrelVFS.dll")
        report = os.path.join(install, "standin-report.txt")
        kit.wait_until(lambda: os.path.exists(report), 60, poll=0.2)
        time.sleep(0.5)
        with open(os.path.join(install, "standin-commandline.txt"), encoding="cp1252") as f:
            print("   command line: " + f.read())
        with open(report, encoding="cp1252") as f:
            for line in f.read().splitlines():
                print("   " + line)
    finally:
        if camera:
            camera.stop()
        if session:
            session.close()
        if display:
            display.stop()
        patch_server.stop()
    step("the launcher's window in the middle of the patch: %s" % middle)
    step("the launcher's window, its last frame: %s" % last)
    step("done. Installation: %s; logs: %s (launcher.log, nginx/access.log)" % (install, logs))


if __name__ == "__main__":
    main()
