"""The launcher end to end: Talvora.exe of the build under test (win64, or the i686 product under
emulated wine32) in Xvfb, against nginx over HTTPS serving patches published with the operator
tools, with the stand-in game client of the same build as "Orvant.exe".

Each scenario builds an installation at patch 10 (store made by ostrel-pack, "cver.v", the library,
unrar.dll, the stand-in client, the self-updater), lays out the server with talvora-mkpatch, runs
the launcher, answers its message boxes and checks what happened on disk, on the server and in the
stand-in client's report.
"""

import os
import subprocess
import time
import unittest

import harness as h
from kit import (BASE_FILES, FAIL_DOWNLOAD, FAIL_EXTRACT, GAME_SERVER, OSTREL_PACK, E2ETestCase, le32, read,
                 report_line, tool, wait_until, write)


class LauncherScenarios(E2ETestCase):
    work_name = "launcher"
    uses_display = True
    serves_patches = True

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
        wait_until(lambda: b"held" in holder.stdout() or not holder.running(), 60)
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
        wait_until(lambda: read(os.path.join(self.install, "standin-report.txt")) is not None, 120, poll=0.2)
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
        wait_until(lambda: read(os.path.join(self.root, "standin-commandline.txt")) is not None, 30)
        time.sleep(1.0)  # its window exists once it has written its command line and pumped once
        try:
            started = time.monotonic()
            self.run_launcher()
            self.assertEqual(self.launcher.wait(60), 0)
            self.assertGreaterEqual(time.monotonic() - started, 3.0)
            # The client's start can take long on a loaded machine under emulation; the file exists
            # a moment before its line is in it.
            deadline = time.monotonic() + 90
            line = None
            while not line and time.monotonic() < deadline:
                line = read(os.path.join(self.install, "standin-commandline.txt"))
                time.sleep(0.1)
            self.assertEqual((line or b"").decode(), "Orvant.exe @KESTREL_WORK@ _server %s" % GAME_SERVER)
            self.assertEqual(self.requested(), [])
        finally:
            running.stop()


if __name__ == "__main__":
    unittest.main()
