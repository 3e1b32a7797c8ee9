"""The product at game scale, end to end: an installation of three packs near the pack size limit
(sparse files) with many entries, one patch archive of a kind-1 patch file with records from 0 bytes
to 300 MiB and many small files, applied by the real launcher of the build under test against nginx
over HTTPS; then the stand-in client holding thousands of stored files open at once.

Reported (one "scale:" line): the phases of the launcher's run (download, extraction, application,
start to game start), the same bytes fetched by curl, unpacked by unrar and written by dd with
conv=fdatasync as ratios, the launcher's peak working set, peak private bytes and largest mapping
(proc_watch), and the client's peak address space. Checked: exit code 0, the store whole at the new
patch with every patched and sampled file's bytes right, the client started and every held file
right.

TALVORA_SCALE=full is the size of scripts/scale (300,000 entries, a 1.5 GiB patch, 2,000 open
files); the default is the reduced size that CI runs.
"""

import os
import re
import subprocess
import time
import unittest

import harness as h
import kit

FIXTURE = os.path.join(h.source_dir(), "build", "native", "bin", "scale_fixture")
SIZES = {
    "reduced": dict(entries=30000, client_files=300, patch_mib=96, small_files=100),
    "full": dict(entries=300000, client_files=2000, patch_mib=1536, small_files=1000),
}


def timed(args, **kwargs):
    started = time.monotonic()
    args = [str(a) for a in args]
    p = subprocess.run(args, capture_output=True, **kwargs)
    if p.returncode != 0:
        raise AssertionError("%s failed: %s" % (" ".join(map(str, args)), (p.stdout + p.stderr).decode()[-2000:]))
    return time.monotonic() - started, p.stdout.decode()


def mib(n):
    return "%.1f MiB" % (int(n) / 1048576.0)


class Scale(kit.E2ETestCase):
    work_name = "scale"
    uses_display = True
    serves_patches = True
    # The packs' apparent size is several gigabytes: do not leave them behind.
    removes_work = True
    needs = (FIXTURE,)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.size_name = os.environ.get("TALVORA_SCALE", "reduced")
        cls.size = SIZES[cls.size_name]

    def wait_for(self, what, timeout, poll=0.02):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if what():
                return time.monotonic()
            self.assertTrue(self.launcher.running(), "launcher ended: %r" % self.launcher.result())
            time.sleep(poll)
        self.fail("timed out after %.0f s; launcher log:\n%s" % (timeout, self.launcher.stdout().decode()[-3000:]))

    def test_patch_and_client_at_scale(self):
        s = self.size
        install = h.fresh_dir(self.install)
        stage = h.fresh_dir(os.path.join(self.root, "stage"))
        client_list = os.path.join(install, "client.list")
        patch_list = os.path.join(stage, "patch.list")
        timed([FIXTURE, "store", install, s["entries"], s["client_files"], client_list])
        kit.Installation(install).add_programs().set_versions(4, 5).set_client_reads(
            ["data/patch/one.bin", "data/scale/0/0.bin"])

        patch_file = os.path.join(stage, "11.dat")
        timed([FIXTURE, "patch", patch_file, 11, s["patch_mib"], s["small_files"], patch_list])
        archive = os.path.join(stage, "11.rar")
        timed(["rar", "a", "-m0", "-ep", "-idq", archive, patch_file], cwd=stage)
        archive_size = os.path.getsize(archive)
        timed([kit.MKPATCH, "publish", self.server_dir, archive])
        os.remove(archive)

        self.serve()
        self.watch_boxes()
        watch_out = os.path.join(self.root, "launcher-memory.txt")
        self.watch = self.session.start(h.bin_path("proc_watch.exe"), ["Talvora.exe", h.windows_path(watch_out), 300])
        self.addCleanup(self.watch.stop)

        # The launcher's run, its phases read off its log and the archive's arrival.
        local_archive = os.path.join(install, "11.rar")
        t0 = time.monotonic()
        self.start_launcher()
        limit = 3600
        log = lambda: self.launcher.stdout()
        t_dl = self.wait_for(lambda: b"/11.rar" in log(), limit)
        t_dl_end = self.wait_for(lambda: os.path.exists(local_archive) and os.path.getsize(local_archive) == archive_size
                                 or b"extraido" in log(), limit)
        t_ex_end = self.wait_for(lambda: b"11.rar extraido com sucesso." in log(), limit)
        t_ap = self.wait_for(lambda: b"Iniciando atualizacao." in log(), limit)
        t_ap_end = self.wait_for(lambda: b"Patch progeress : 100" in log(), limit)
        rc = self.launcher.wait(120)
        t_end = time.monotonic()
        self.assertEqual(rc, 0, "launcher: %r" % self.launcher.result())
        self.assertEqual(self.boxes.boxes(), [])
        deadline = time.monotonic() + 120
        while kit.read(os.path.join(install, "standin-report.txt")) is None and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertIn(b"data/patch/one.bin 1 ", kit.read(os.path.join(install, "standin-report.txt")) or b"",
                      "the client did not start and read the store")
        self.assertEqual(self.watch.wait(60), 0, self.watch.result())
        memory = dict(re.findall(r"([a-z-]+)=(\d+)", kit.read(watch_out).decode()))

        # The store, checked natively: every patched file and every sampled old one.
        _, verified = timed([FIXTURE, "verify", install, 11, patch_list, client_list])
        kit.tool(kit.OSTREL_PACK, "verify", os.path.join(install, "data.idx"))

        # The client holds every sampled file open at once and reads each whole.
        r = self.session.run(os.path.join(install, "Orvant.exe"), ["--hold-all", "client.list"], cwd=install,
                             timeout=1800)
        self.assertEqual(r.returncode, 0, r)
        held = dict(re.findall(r"([a-z-]+)=(\d+)", r.text()))
        self.assertEqual(int(held["checked"]), s["client_files"])
        self.assertEqual(int(held["failed"]), 0)

        # The same bytes with the reference tools, on the same disk.
        ref = h.fresh_dir(os.path.join(self.root, "reference"))
        t_curl, _ = timed(["curl", "-sS", "--fail", "--cacert", self.pki.ca_cert, "-o", os.path.join(ref, "11.rar"),
                           self.server.url("11.rar")])
        t_unrar, _ = timed(["unrar", "x", "-idq", "-o+", os.path.join(ref, "11.rar"), ref + "/"])
        t_dd, _ = timed(["dd", "if=" + os.path.join(ref, "11.dat"), "of=" + os.path.join(ref, "dd.out"), "bs=4M",
                         "conv=fdatasync", "status=none"])

        download, extraction, application = t_dl_end - t_dl, t_ex_end - t_dl_end, t_ap_end - t_ap
        reference = t_curl + t_unrar + t_dd
        print("\nscale (%s, %s build): %d entries in 3 packs near the size limit; patch archive of %s (%d small "
              "files among its records); %s"
              % (self.size_name, "i686" if h.builds_32bit() else "x86_64", s["entries"], mib(archive_size),
                 s["small_files"], verified.strip()))
        print("scale: launcher download %.1f s (curl %.1f s, x%.2f), extraction %.1f s (unrar %.1f s, x%.2f), "
              "application %.1f s (dd conv=fdatasync %.1f s, x%.2f; %.0f MB/s); start to game start %.1f s "
              "(reference tools %.1f s + 3 s wait, x%.2f)"
              % (download, t_curl, download / t_curl, extraction, t_unrar, extraction / t_unrar, application, t_dd,
                 application / t_dd, archive_size / 1e6 / application, t_end - t0, reference,
                 (t_end - t0) / (reference + 3)))
        print("scale: launcher peak working set %s, peak private %s, largest mapping %s, peak mapped %s (%s samples)"
              % (mib(memory["peak-working-set"]), mib(memory["peak-private"]), mib(memory["largest-mapping"]),
                 mib(memory["peak-mapped"]), memory["samples"]))
        print("scale: client held %s files open at once: peak mapped %s, peak address space %s, peak working set %s"
              % (held["checked"], mib(held["peak-mapped"]), mib(held["peak-address-space"]),
                 mib(held["peak-working-set"])))


if __name__ == "__main__":
    unittest.main()
