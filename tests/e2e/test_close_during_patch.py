"""The launcher closed by its close button while a patch is being applied: a patch of 20,000
records, the click (window pixel (380, 7)) timed from the log line that starts the application
("Iniciando atualizacao.") to land at a random moment of it. Every time the launcher must end with
exit code 0, the store must decode and hold exactly the old patch or the new one with every entry's
bytes right, and the next run must complete the update and start the client.

TALVORA_CLOSE_ROUNDS sets the number of rounds (10 on win64, 5 on the emulated i686 build); the
summary line gives the old/new counts, the exit codes and the longest time from click to exit.
"""

import os
import random
import shutil
import subprocess
import time
import unittest

import harness as h
import kit
from launcher_window import WindowTestCase, xdotool

RECORDS = 20000
STARTED = b"Iniciando atualizacao."
FINISHED = b"Patch progeress : 100"


def many_files():
    """The patch's 20,000 new files, small and each different."""
    files = {}
    for i in range(RECORDS):
        size = 16 + (i * 37) % 185
        files["data/many/f%05d.bin" % i] = bytes(((i * 131 + k * 7) & 0xFF) for k in range(size))
    return files


class CloseDuringApplication(WindowTestCase):
    work_name = "close-during-patch"
    serves_patches = True

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.new_files = many_files()
        cls.new_files["data/a.txt"] = b"alpha v11"
        stage = h.fresh_dir(os.path.join(cls.work, "patch11"))
        cls.archive = kit.build_patch(stage, 11, pack=cls.new_files)
        # Every path the store may hold, for reading it back whole.
        cls.names = os.path.join(stage, "names.txt")
        with open(cls.names, "w") as f:
            f.write("\n".join(sorted(set(cls.new_files) | set(kit.BASE_FILES))) + "\n")

    def expected(self, version):
        files = dict(kit.BASE_FILES)
        if version == 11:
            files.update(self.new_files)
        return files

    def store_content(self, where):
        """Every file the store holds, read back through the library (the extracted copy is removed
        again: ten rounds of 20,000 files would hold gigabytes)."""
        out = h.fresh_dir(os.path.join(self.root, where))
        p = subprocess.run([kit.OSTREL_PACK, "extract", os.path.join(self.install, "data.idx"), out, "--names",
                            self.names], capture_output=True, timeout=300)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        found = {}
        for folder, _, names in os.walk(out):
            for name in names:
                path = os.path.join(folder, name)
                found[os.path.relpath(path, out).replace(os.sep, "/")] = kit.read(path)
        shutil.rmtree(out)
        return found

    def prepared_install(self, name):
        """A round's own folder: the installation at patch 10, patch 11 published."""
        self.use_root(os.path.join(self.base, name))
        self.make_install()
        self.publish(self.archive)

    def wait_in_log(self, text, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.launcher.stdout():
                return time.monotonic()
            self.assertTrue(self.launcher.running(), "launcher ended: %r" % self.launcher.result())
            time.sleep(0.02)
        self.fail("no %r in the launcher's log" % text)

    def run_to_the_game(self, name, applies):
        """A whole run; the report, and how long the application took (None when `applies` is false:
        the store is up to date already)."""
        try:
            self.serve()
            boxes = self.watch_boxes("boxes-%s.txt" % name)
            self.start_launcher()
            span = None
            if applies:
                started = self.wait_in_log(STARTED, 300)
                span = self.wait_in_log(FINISHED, 300) - started
            report = self.wait_for_game()
            self.assertEqual(boxes.boxes(), [])
            return report, span
        finally:
            self.end_run()

    def test_close_button_while_a_patch_is_applied(self):
        default_rounds = 5 if h.builds_32bit() else 10
        rounds = max(1, int(os.environ.get("TALVORA_CLOSE_ROUNDS", default_rounds)))
        self.base = self.root

        # The clicks are spread over the application's length, measured by each round's second,
        # undisturbed run; the first click comes as the application starts.
        span = 0.0
        rng = random.Random(RECORDS)
        spans = []
        outcomes = {10: 0, 11: 0}
        inside, codes, longest = 0, [], 0.0
        for round_ in range(rounds):
            delay = rng.uniform(0, span)
            with self.subTest(round=round_, click_after_s=round(delay, 2)):
                self.prepared_install("round%02d" % round_)
                try:
                    self.serve()
                    boxes = self.watch_boxes("boxes.txt")
                    self.start_launcher()
                    self.wait_in_log(STARTED, 300)
                    time.sleep(delay)
                    applying = FINISHED not in self.launcher.stdout()
                    clicked = time.monotonic()
                    xdotool(self.display, "mousemove", self.origin[0] + 380, self.origin[1] + 7, "click", 1)
                    rc = self.launcher.wait(60)
                    took = time.monotonic() - clicked
                    seen = boxes.boxes()
                finally:
                    self.end_run()
                codes.append(rc)
                self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())
                inside += applying
                longest = max(longest, took)
                self.assertEqual(seen, [])
                if applying:
                    # Closed inside the application: the game never starts (a click that came after it
                    # may have met the game start, which ends the launcher as well).
                    self.assertIsNone(kit.read(os.path.join(self.install, "standin-report.txt")), "the game started")

                # The store decodes and holds exactly one of the two patches.
                self.verify_store()
                version = self.store_version()
                self.assertIn(version, (10, 11))
                self.assertEqual(self.store_content("after-close"), self.expected(version))
                outcomes[version] += 1

                # The next run completes the update and starts the client.
                report, measured = self.run_to_the_game("next", applies=version == 10)
                self.assertEqual(self.store_version(), 11)
                self.assertIn(kit.report_line("data/a.txt", b"alpha v11"), report)
                self.assertEqual(self.store_content("after-next-run"), self.expected(11))
                if measured is not None:
                    span = measured
                    spans.append(span)
                print("round %d: click %.2f s into the application (%s), exit code %s after %.2f s, store at %d, "
                      "next run complete" % (round_, delay, "applying" if applying else "after it", rc, took, version),
                      flush=True)
        print("%d closes while applying %d records (application up to %.1f s): %d clicks inside the application; "
              "%d stores left at the old patch, %d at the new one; exit codes %s; longest click to exit %.2f s"
              % (rounds, RECORDS, max(spans or [0]), inside, outcomes[10], outcomes[11], sorted(set(codes)), longest))
        self.assertGreater(inside, 0, "no click landed inside the application")


if __name__ == "__main__":
    unittest.main()
