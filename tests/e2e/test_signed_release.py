"""Signed releases end to end: the launcher built with the tests' throw-away release key
(bin/keyed/Talvora.exe) against a patch server published with `talvora-mkpatch publish --sign`, on
the build under test (win64, or the i686 product under emulated wine32).

The genuine publication is applied and the game started. Then each attack on the server's files is
a scenario of its own: the launcher shows the failed-download box, and the store, the executables and
the version file are byte for byte what they were. A launcher built without a key is unaffected by
the manifest.
"""

import os
import shutil
import sys
import unittest

import harness as h
import kit
from pe_files import pe_machine

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import sign_manifest  # noqa: E402

KEY_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "release-key")
RELEASE_KEY = os.path.join(KEY_DIR, "release.key")
# The key the operator moves to; the test launcher trusts both.
NEXT_KEY = os.path.join(KEY_DIR, "next", "release.key")
# Files a run may change whatever happens: the game's report, the serial and the patch list.
RUN_FILES = ("standin-report.txt", "standin-commandline.txt", "manifest.v", "patch.hpl")
PATCH_LIST_FAILED = [("", kit.FAIL_DOWNLOAD)]


def keyed_launcher():
    return os.path.join(os.path.dirname(h.bin_path("Talvora.exe")), "keyed", "Talvora.exe")


class SignedRelease(kit.E2ETestCase):
    work_name = "signed-release"
    uses_display = True
    serves_patches = True

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not os.path.exists(keyed_launcher()):
            raise AssertionError("%s is missing" % keyed_launcher())
        cls.other_key_dir = os.path.join(cls.work, "other-key")
        kit.tool(kit.MKPATCH, "keygen", cls.other_key_dir)

    # --- The world of a scenario -----------------------------------------------------------

    def install_keyed(self, version=10):
        self.make_install(version=version)
        shutil.copy(keyed_launcher(), os.path.join(self.install, "Talvora.exe"))
        self.assertEqual(pe_machine(os.path.join(self.install, "Talvora.exe")), h.build_machine())

    def publish_signed(self, *archives, extra=(), key=RELEASE_KEY):
        self.publish(*archives, extra=tuple(extra) + ("--sign", key))

    def server_file(self, name):
        return os.path.join(self.server_dir, "patch", name)

    def snapshot(self):
        """Every file of the installation a run must leave alone when it refuses the server."""
        files = {}
        for folder, _, names in os.walk(self.install):
            for name in names:
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, self.install)
                if relative not in RUN_FILES:
                    files[relative] = kit.read(path)
        return files

    def assert_unchanged(self, before):
        after = self.snapshot()
        self.assertEqual(sorted(after), sorted(before), "files appeared or went away")
        for name, data in before.items():
            self.assertTrue(after[name] == data, "%s changed" % name)

    def serial(self):
        data = kit.read(os.path.join(self.install, "manifest.v"))
        return int.from_bytes(data, "little") if data else None

    def published_serial(self):
        for line in kit.read(self.server_file("manifest.sig")).decode().splitlines():
            if line.startswith("serial "):
                return int(line.split()[1])
        return None

    def refused_at_patch_list(self, requested):
        """The failed patch-list download: its box, then the game starts on the installation as it was."""
        self.assertEqual(self.boxes.wait_for(1, timeout=90), PATCH_LIST_FAILED, self.log())
        self.wait_for_game()
        self.assertEqual(self.requested(), requested)

    def refused_at_archive(self, name):
        """The failed archive download: its box, and the window stays without starting the game."""
        self.assertEqual(self.boxes.wait_for(1, timeout=90), PATCH_LIST_FAILED, self.log())
        self.stays_open(3)
        self.assertIn("ERRO ao baixar : %s/%s" % (h.patch_url(), name), self.log())
        self.assertFalse(os.path.exists(os.path.join(self.install, name)))

    def two_signed_patches(self, version=10):
        self.install_keyed(version)
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        twelve = self.build_patch(12, pack={"data/new.txt": b"new in 12"})
        self.publish_signed(eleven, twelve)

    # --- The genuine publication -----------------------------------------------------------

    def test_signed_patches_are_applied(self):
        self.two_signed_patches()
        self.serve()
        self.run_launcher()
        report = self.wait_for_game()
        self.assertEqual(self.boxes.boxes(), [])
        self.assertEqual(self.store_version(), 12)
        self.assertIn(kit.report_line("data/new.txt", b"new in 12"), report)
        self.assertEqual(self.requested(), ["manifest.sig", "patch.hpl", "11.rar", "12.rar"])
        self.assertEqual(self.serial(), self.published_serial())
        self.assertIn("manifest.sig accepted", self.log())
        self.assertFalse(os.path.exists(os.path.join(self.install, "manifest.sig")))

    def test_a_manifest_signed_with_the_next_key(self):
        self.install_keyed()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        self.publish_signed(eleven, key=NEXT_KEY)
        self.serve()
        self.run_launcher()
        self.wait_for_game()
        self.assertEqual(self.boxes.boxes(), [])
        self.assertEqual(self.store_version(), 11)
        self.assertEqual(self.requested(), ["manifest.sig", "patch.hpl", "11.rar"])

    def test_launcher_without_a_key_ignores_the_manifest(self):
        self.two_signed_patches()
        shutil.copy(h.bin_path("Talvora.exe"), os.path.join(self.install, "Talvora.exe"))
        self.serve()
        self.run_launcher()
        self.wait_for_game()
        self.assertEqual(self.boxes.boxes(), [])
        self.assertEqual(self.store_version(), 12)
        self.assertEqual(self.requested(), ["patch.hpl", "11.rar", "12.rar"])
        self.assertIsNone(self.serial())

    # --- Attacks on the server's files -----------------------------------------------------

    def test_a_changed_byte_in_an_archive(self):
        self.two_signed_patches(version=11)
        archive = bytearray(kit.read(self.server_file("12.rar")))
        archive[len(archive) // 2] ^= 0x01
        kit.write(self.server_file("12.rar"), bytes(archive))
        before = self.snapshot()
        self.serve()
        self.run_launcher()
        self.refused_at_archive("12.rar")
        self.assertIn("12.rar refused: its SHA-256 differs from the manifest's", self.log())
        self.assert_unchanged(before)
        self.assertEqual(self.requested(), ["manifest.sig", "patch.hpl", "12.rar"])

    def test_an_archive_longer_than_its_manifest_size(self):
        self.two_signed_patches(version=11)
        kit.write(self.server_file("12.rar"), kit.read(self.server_file("12.rar")) + b"\0" * (4 << 20))
        before = self.snapshot()
        self.serve()
        self.run_launcher()
        self.refused_at_archive("12.rar")
        self.assertIn("Download interrompido: %s/12.rar passou de" % h.patch_url(), self.log())
        self.assert_unchanged(before)

    def test_a_replaced_launcher(self):
        self.install_keyed()
        before = self.snapshot()
        write_to = os.path.join(self.root, "launcher.exe")
        kit.write(write_to, kit.read(h.bin_path("Talvora.exe")) + b"launcher version 5")
        self.publish_signed(extra=("--launcher", write_to, "--launcher-version", "5"))
        # Someone with access to the server swaps in a program of their own.
        shutil.copy(h.bin_path("standin_client.exe"), self.server_file("launcher.exe"))
        self.serve()
        self.run_launcher()
        self.assertEqual(self.boxes.wait_for(1, timeout=90), [("Erro ao atualizar", kit.FAIL_DOWNLOAD)], self.log())
        self.wait_for_game()
        self.assertIn("launcher.exe refused: its size differs from the manifest's", self.log())
        self.assertFalse(os.path.exists(os.path.join(self.install, "launcher.bin")))
        self.assert_unchanged(before)
        self.assertEqual(self.requested(), ["manifest.sig", "patch.hpl", "launcher.exe"])

    def test_a_raised_patch_number_in_the_patch_list(self):
        self.two_signed_patches(version=12)
        thirteen = self.build_patch(13, pack={"data/a.txt": b"not from the operator"})
        shutil.copy(thirteen, self.server_file("13.rar"))
        kit.write(self.server_file("patch.hpl"), kit.le32(13, 4, 5))
        before = self.snapshot()
        self.serve()
        self.run_launcher()
        self.refused_at_patch_list(["manifest.sig", "patch.hpl"])
        self.assertIn("patch.hpl refused: its SHA-256 differs from the manifest's", self.log())
        self.assert_unchanged(before)

    def test_a_manifest_signed_with_another_key(self):
        self.install_keyed()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        self.publish_signed(eleven, key=os.path.join(self.other_key_dir, "release.key"))
        before = self.snapshot()
        self.serve()
        self.run_launcher()
        self.refused_at_patch_list(["manifest.sig"])
        self.assertIn("manifest.sig refused: the signature does not verify with a built-in key", self.log())
        self.assert_unchanged(before)
        self.assertIsNone(self.serial())

    def test_an_older_manifest_replayed(self):
        self.install_keyed()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        self.publish_signed(eleven)
        old = {name: kit.read(self.server_file(name)) for name in ("manifest.sig", "patch.hpl")}
        old_serial = self.published_serial()
        twelve = self.build_patch(12, pack={"data/new.txt": b"new in 12"})
        self.publish_signed(twelve)
        new_serial = self.published_serial()
        self.assertGreater(new_serial, old_serial)
        self.serve()
        self.run_launcher()
        self.wait_for_game()
        self.assertEqual(self.store_version(), 12)
        self.assertEqual(self.serial(), new_serial)

        # The server goes back to the earlier publication, genuine and unexpired but older.
        for name, data in old.items():
            kit.write(self.server_file(name), data)
        for name in ("standin-report.txt", "standin-commandline.txt"):
            os.remove(os.path.join(self.install, name))
        before = self.snapshot()
        self.boxes.stop()
        self.run_launcher()
        self.refused_at_patch_list(["manifest.sig", "patch.hpl", "11.rar", "12.rar", "manifest.sig"])
        self.assertIn("manifest.sig refused: its serial is below the last one accepted", self.log())
        self.assert_unchanged(before)
        self.assertEqual(self.serial(), new_serial)

    def test_an_expired_manifest(self):
        self.install_keyed()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        self.publish_signed(eleven)
        # The same publication, signed with the right key, but past its expiry.
        files = [(name, kit.read(self.server_file(name))) for name in ("patch.hpl", "11.rar")]
        numbers = [int.from_bytes(files[0][1][i:i + 4], "little") for i in (0, 4, 8)]
        kit.write(self.server_file("manifest.sig"),
                 sign_manifest.manifest_bytes(RELEASE_KEY, self.published_serial() + 1, 1000000000, *numbers, files))
        before = self.snapshot()
        self.serve()
        self.run_launcher()
        self.refused_at_patch_list(["manifest.sig"])
        self.assertIn("manifest.sig refused: it has expired", self.log())
        self.assert_unchanged(before)

    def test_the_manifest_missing(self):
        self.install_keyed()
        eleven = self.build_patch(11, pack={"data/a.txt": b"alpha v11"})
        self.publish_signed(eleven)
        os.remove(self.server_file("manifest.sig"))
        before = self.snapshot()
        self.serve()
        self.run_launcher()
        self.refused_at_patch_list(["manifest.sig"])
        self.assert_unchanged(before)


if __name__ == "__main__":
    unittest.main()
