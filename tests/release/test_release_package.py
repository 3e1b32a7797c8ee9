"""The release as players and operators get it, made twice from the 32-bit build by
scripts/release-package with one throw-away signing certificate: the same bytes both times,
signatures that osslsigncode verifies against that certificate, programs without debug sections
whose debug links find their files in the symbols package, and the sums file inside and beside."""

import hashlib
import os
import re
import shutil
import subprocess
import unittest
import zipfile
import zlib

BUILD = os.environ.get("TALVORA_BUILD_DIR", "")
SOURCE = os.environ.get("TALVORA_SOURCE_DIR", "")
WORK = os.path.join(BUILD, "release-check")
CERT_DIR = os.path.join(WORK, "certificate")
PROGRAMS = ("Talvora.exe", "OrvUpdate.exe", "OstrelVFS.dll")
SIGNED = PROGRAMS + ("unrar.dll",)
OBJDUMP = "i686-w64-mingw32-objdump"
UPDATER_BUDGET = 150 * 1024  # OrvUpdate.exe as shipped


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, **kw)


def section_names(path):
    dump = run(OBJDUMP, "-h", path)
    assert dump.returncode == 0, dump.stderr
    return re.findall(r"^\s*\d+\s+(\S+)\s", dump.stdout, re.M)


def debug_link(path):
    """(file name, CRC-32) stored in the program's .gnu_debuglink section."""
    dump = run("i686-w64-mingw32-objcopy", "--dump-section", ".gnu_debuglink=" + path + ".link", path,
               path + ".scratch")
    assert dump.returncode == 0, dump.stderr
    with open(path + ".link", "rb") as f:
        data = f.read()
    os.remove(path + ".link")
    os.remove(path + ".scratch")
    name = data[:data.index(b"\0")].decode()
    return name, int.from_bytes(data[-4:], "little")


class ReleasePackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not BUILD or not os.path.isfile(os.path.join(BUILD, "bin", "Talvora.exe")):
            raise unittest.SkipTest("no 32-bit build at TALVORA_BUILD_DIR")
        if shutil.which("osslsigncode") is None:
            raise AssertionError("osslsigncode is missing: scripts/setup installs it")
        shutil.rmtree(WORK, ignore_errors=True)
        cls.runs = []
        for label in ("first", "second"):
            out = os.path.join(WORK, label)
            p = run(os.path.join(SOURCE, "scripts", "release-package"), "--build-dir", BUILD, "--out", out,
                    "--test-certificate", CERT_DIR)
            if p.returncode != 0:
                raise AssertionError("release-package failed:\n" + p.stdout + p.stderr)
            cls.runs.append(out)
        with open(os.path.join(BUILD, "talvora-version.txt")) as f:
            cls.name = "Talvora-%s-win32" % f.read().strip()
        cls.unpacked = os.path.join(WORK, "unpacked")
        for archive in (cls.name + ".zip", cls.name + "-symbols.zip"):
            with zipfile.ZipFile(os.path.join(cls.runs[0], archive)) as z:
                z.extractall(cls.unpacked)
        cls.package = os.path.join(cls.unpacked, cls.name)
        cls.symbols = os.path.join(cls.unpacked, cls.name + "-symbols")

    def test_two_runs_give_the_same_bytes(self):
        first, second = (sorted(os.listdir(r)) for r in self.runs)
        self.assertEqual(first, sorted([self.name + ".SHA256SUMS", self.name + "-symbols.zip", self.name + ".zip"]))
        self.assertEqual(first, second)
        for f in first:
            with open(os.path.join(self.runs[0], f), "rb") as a, open(os.path.join(self.runs[1], f), "rb") as b:
                self.assertEqual(hashlib.sha256(a.read()).hexdigest(), hashlib.sha256(b.read()).hexdigest(), f)
        with zipfile.ZipFile(os.path.join(self.runs[0], self.name + ".zip")) as z:
            names = z.namelist()
            self.assertEqual(names, sorted(names))
            self.assertEqual(len({i.date_time for i in z.infolist()}), 1, "one time stamp for every entry")

    def test_every_signature_verifies_against_the_test_certificate(self):
        ca = os.path.join(CERT_DIR, "test-signer.crt")
        for f in SIGNED:
            p = run("osslsigncode", "verify", "-CAfile", ca, "-in", os.path.join(self.package, f))
            self.assertEqual(p.returncode, 0, f + ":\n" + p.stdout + p.stderr)
            self.assertIn("Signature verification: ok", p.stdout, f)
            print("%s: %s" % (f, p.stdout.strip().splitlines()[-1]))
        # A changed byte of code breaks the signature.
        tampered = os.path.join(WORK, "tampered.exe")
        shutil.copy(os.path.join(self.package, "OrvUpdate.exe"), tampered)
        with open(tampered, "r+b") as f:
            f.seek(0x600)
            byte = f.read(1)
            f.seek(0x600)
            f.write(bytes([byte[0] ^ 0xFF]))
        p = run("osslsigncode", "verify", "-CAfile", ca, "-in", tampered)
        self.assertNotEqual(p.returncode, 0, "a tampered program still verifies:\n" + p.stdout)

    def test_programs_carry_no_debug_sections_and_link_their_debug_files(self):
        for f in PROGRAMS + ("unrar.dll",):
            names = section_names(os.path.join(self.package, f))
            self.assertEqual([n for n in names if n.startswith(".debug")], [], f)
        for f in PROGRAMS:
            name, crc = debug_link(os.path.join(self.package, f))
            self.assertEqual(name, f + ".debug")
            with open(os.path.join(self.symbols, name), "rb") as d:
                self.assertEqual(crc, zlib.crc32(d.read()), f + ": the debug link's CRC-32")
            names = section_names(os.path.join(self.symbols, name))
            self.assertIn(".debug_info", names, name)
            self.assertIn(".debug_line", names, name)

    def test_debug_files_map_addresses_to_our_sources(self):
        # The self-updater's entry point, as a crash report would give an address inside it.
        debug = os.path.join(self.symbols, "OrvUpdate.exe.debug")
        symbols = run("i686-w64-mingw32-nm", debug).stdout
        address = re.search(r"^([0-9a-f]+) T _WinMain@16$", symbols, re.M)
        self.assertIsNotNone(address, "WinMain in the symbol table")
        line = run("i686-w64-mingw32-addr2line", "-e", debug, "0x" + address.group(1)).stdout.strip()
        self.assertRegex(line, r"^/talvora/updater/orv_update\.cpp:\d+", "a path from the root of the source tree")

    def test_sums_inside_and_beside_match_the_files(self):
        with open(os.path.join(self.package, "SHA256SUMS")) as f:
            inside = f.read()
        with open(os.path.join(self.runs[0], self.name + ".SHA256SUMS")) as f:
            self.assertEqual(f.read(), inside)
        listed = {}
        for line in inside.splitlines():
            digest, name = line.split("  ", 1)
            listed[name] = digest
        shipped = sorted(n for n in os.listdir(self.package) if n != "SHA256SUMS")
        self.assertEqual(sorted(listed), shipped)
        for name, digest in listed.items():
            with open(os.path.join(self.package, name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)

    def test_sizes(self):
        for f in SIGNED:
            shipped = os.path.getsize(os.path.join(self.package, f))
            built = os.path.getsize(os.path.join(BUILD, "bin", f))
            print("%-14s built %8d bytes, shipped %8d bytes" % (f, built, shipped))
        self.assertLessEqual(os.path.getsize(os.path.join(self.package, "OrvUpdate.exe")), UPDATER_BUDGET)


if __name__ == "__main__":
    unittest.main()
