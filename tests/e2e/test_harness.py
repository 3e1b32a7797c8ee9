"""The harness and the downloader together: downloadFile (through download_probe.exe) under wine64
against the real nginx over HTTPS with a test CA the prefix trusts, and message boxes answered by
boxwatch. One Wine session and one probe run serve the download cases; each case checks its part.
"""

import os
import re
import shutil
import unittest

import harness

WORK = harness.work_dir("e2e_harness")
SESSION = None
DISPLAY = None
PKI = None


def setUpModule():
    global SESSION, DISPLAY, PKI
    harness.skip_unless_programs_run()
    PKI = harness.TestPki(os.path.join(WORK, "pki"))
    made = PKI.make()
    if not made:
        raise AssertionError(made.error)
    DISPLAY = harness.Display()
    unittest.addModuleCleanup(DISPLAY.stop)
    started = DISPLAY.start()
    if not started:
        raise AssertionError(started.error)
    SESSION = harness.WineSession(os.path.join(WORK, "prefix"), display=DISPLAY)
    unittest.addModuleCleanup(SESSION.close)
    opened = SESSION.open()
    if not opened:
        raise AssertionError(opened.error)
    trusted = SESSION.trust_ca(PKI.ca_cert)
    if not trusted:
        raise AssertionError(trusted.error)


def payload(size, seed):
    """Bytes that differ at every position from one seed to the next (not a repeated block)."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += harness.hashlib.sha256(b"%d:%d" % (seed, counter)).digest()
        counter += 1
    return bytes(out[:size])


def parse_probe(stdout):
    """download_probe's output as one dict per download."""
    jobs = []
    for line in stdout.decode("cp1252", "replace").splitlines():
        word, _, rest = line.partition(" ")
        if word == "begin":
            jobs.append({"begin": int(rest.split()[1]), "accepted": [], "log": []})
        elif not jobs:
            continue
        elif word == "accepted":
            tick, total, value = (int(v) for v in rest.split())
            jobs[-1]["accepted"].append((tick, total, value))
        elif word in ("end", "result", "lastTick"):
            jobs[-1][word] = int(rest)
        elif word == "status":
            jobs[-1]["status"] = b"" if rest == "-" else bytes.fromhex(rest)
        elif word in ("bar", "file"):
            jobs[-1][word] = tuple(int(v) for v in rest.split())
        elif line.startswith("[DEBUG]: "):
            jobs[-1]["log"].append(line[len("[DEBUG]: "):].rsplit(" | ", 1)[0])
    return jobs


def download_text(name):
    return b"Baixando arquivo 'patch_" + name.encode("cp1252") + b"'..."


class DownloadTest(unittest.TestCase):
    """Every case is one download of one probe run, made in setUpClass."""

    @classmethod
    def setUpClass(cls):
        cls.docroot = harness.fresh_dir(os.path.join(WORK, "docroot"))
        cls.files = {"small.bin": payload(300_000, 1), "big.bin": payload(1_200_000, 2),
                     "held.bin": payload(40_000, 3), "patch.hpl": payload(12, 4)}
        for name, data in cls.files.items():
            with open(os.path.join(cls.docroot, name), "wb") as f:
                f.write(data)

        # The patch server where the build looks for it, with one slow file.
        cls.server = harness.PatchServer(cls.docroot, os.path.join(WORK, "nginx"), PKI.server_cert,
                                         PKI.server_key, limit_rate={"big.bin": "600k"})
        cls._start(cls.server)
        # The same files behind a certificate of a CA the prefix does not trust, and behind a
        # trusted certificate for another name.
        if not PKI.make_ca("rogue-ca", "Rogue CA"):
            raise AssertionError("cannot make the second CA")
        rogue = PKI.issue("rogue-server", ca="rogue-ca")
        wrong = PKI.issue("wrong-name", subject_alt_names="DNS:patch.example.invalid")
        assert rogue and wrong
        cls.untrusted = harness.PatchServer(cls.docroot, os.path.join(WORK, "nginx-untrusted"), *rogue,
                                            port=harness.free_port())
        cls._start(cls.untrusted)
        cls.wrong_name = harness.PatchServer(cls.docroot, os.path.join(WORK, "nginx-wrong-name"), *wrong,
                                             port=harness.free_port())
        cls._start(cls.wrong_name)
        # A server that announces 200000 bytes, sends 1000 and closes.
        cls.short = harness.RawHttpsServer(PKI.server_cert, PKI.server_key, {
            "/patch/short.bin": b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                b"Content-Length: 200000\r\nConnection: close\r\n\r\n" + payload(1000, 5)})
        cls.addClassCleanup(cls.short.stop)
        if not cls.short.start():
            raise AssertionError("raw server did not start")
        refused_port = harness.free_port()

        # The probe runs from an "installation folder" of its own, as the launcher does.
        cls.inst = harness.fresh_dir(os.path.join(WORK, "inst"))
        probe = os.path.join(cls.inst, "download_probe.exe")
        shutil.copy(harness.bin_path("download_probe.exe"), probe)
        win = lambda name: harness.windows_path(os.path.join(cls.inst, name))  # noqa: E731
        with open(os.path.join(cls.inst, "refused.bin"), "wb") as f:
            f.write(b"left from an earlier run")
        cls.cases = [
            ("small", "get", win("small.bin"), cls.server.url("small.bin")),
            ("missing", "get", win("7.rar"), cls.server.url("7.rar")),
            ("short", "get", win("short.bin"), cls.short.url("/patch/short.bin")),
            ("untrusted", "get", win("untrusted.bin"), cls.untrusted.url("small.bin")),
            ("wrong_name", "get", win("wrong.bin"), cls.wrong_name.url("small.bin")),
            ("refused", "get", win("refused.bin"), "https://127.0.0.1:%d/patch/small.bin" % refused_port),
            ("big", "get", win("big.bin"), cls.server.url("big.bin")),
            ("held", "held", win("held.bin"), cls.server.url("held.bin")),
            ("bare", "get", "patch.hpl", cls.server.url("patch.hpl")),
        ]
        args = []
        for _, mode, local, url in cls.cases:
            args += [mode, local, url]
        cls.run_result = SESSION.run(probe, args, cwd=cls.inst, timeout=240)
        jobs = parse_probe(cls.run_result.stdout)
        cls.jobs = {case[0]: job for case, job in zip(cls.cases, jobs)}
        cls.urls = {case[0]: case[3] for case in cls.cases}

    @classmethod
    def _start(cls, server):
        cls.addClassCleanup(server.stop)
        started = server.start()
        if not started:
            raise AssertionError(started.error)

    def job(self, name):
        self.assertEqual(self.run_result.returncode, 0, self.run_result)
        self.assertIn(name, self.jobs, self.run_result)
        return self.jobs[name]

    def local(self, name):
        with open(os.path.join(self.inst, name), "rb") as f:
            return f.read()

    def test_success_writes_the_exact_bytes(self):
        for case, name in (("small", "small.bin"), ("big", "big.bin")):
            job = self.job(case)
            self.assertEqual(job["result"], 1, job)
            self.assertEqual(self.local(name), self.files[name])
            self.assertEqual(job["status"], download_text(name))
            self.assertEqual(job["log"], ["Iniciando download de: " + self.urls[case]])

    def test_failures_are_false_logged_and_leave_no_file(self):
        rows = [("missing", "7.rar"), ("short", "short.bin"), ("untrusted", "untrusted.bin"),
                ("wrong_name", "wrong.bin"), ("refused", "refused.bin")]
        for case, name in rows:
            with self.subTest(case=case):
                job = self.job(case)
                self.assertEqual(job["result"], 0, job)
                self.assertEqual(job["file"], (0, 0), job)
                self.assertFalse(os.path.exists(os.path.join(self.inst, name)))
                url = self.urls[case]
                self.assertEqual(job["log"][0], "Iniciando download de: " + url)
                self.assertEqual(job["log"][-1], "ERRO ao baixar : " + url)
                # The status line keeps the download text; the caller tells the user.
                self.assertEqual(job["status"], download_text(name))

    def test_the_servers_saw_what_the_failures_say(self):
        self.job("missing")
        log = self.server.request_log()
        self.assertIn(("GET", "/patch/7.rar", 404), [e[:3] for e in log])
        self.assertIn(("GET", "/patch/small.bin", 200), [e[:3] for e in log])
        # The certificate was refused before any request was sent.
        self.assertEqual(self.untrusted.requests(), [])
        self.assertEqual(self.wrong_name.requests(), [])
        self.assertEqual(self.short.requested, ["/patch/short.bin"])

    def test_rate_limited_download_reports_progress_at_most_every_120_ticks(self):
        job = self.job("big")
        accepted = job["accepted"]
        # 1.2 MB at 600 kB/s takes about two seconds: a report every 120 ms makes a dozen or more.
        self.assertGreaterEqual(len(accepted), 8, job)
        ticks = [a[0] for a in accepted]
        gaps = [b - a for a, b in zip(ticks, ticks[1:])]
        self.assertTrue(all(g >= 120 for g in gaps), gaps)
        # Data arrives every few milliseconds, so the spacing is the throttle's, not the server's.
        self.assertLess(sorted(gaps)[len(gaps) // 2], 180, gaps)
        self.assertTrue(all(a[1] == 100 for a in accepted), accepted)
        values = [a[2] for a in accepted]
        self.assertEqual(values, sorted(values))
        self.assertLessEqual(values[0], 15)
        self.assertGreaterEqual(values[-1], 85)
        self.assertLessEqual(values[-1], 100)
        self.assertEqual(job["lastTick"], ticks[-1])
        self.assertEqual(job["bar"], (100, values[-1]))

    def test_every_download_starts_with_the_throttle_reset(self):
        # The probe sets the last tick far in the future before each download; only the reset at
        # the start of downloadFile lets the first report through.
        for case in ("small", "big"):
            job = self.job(case)
            self.assertGreaterEqual(len(job["accepted"]), 1, job)
            self.assertLess(job["accepted"][0][0] - job["begin"], 2000)

    def test_without_the_lock_the_updates_are_skipped(self):
        job = self.job("held")
        self.assertEqual(job["result"], 1, job)
        self.assertEqual(self.local("held.bin"), self.files["held.bin"])
        self.assertEqual(job["accepted"], [])
        self.assertEqual(job["status"], b"untouched")
        self.assertEqual(job["bar"], (7, 3))
        # Lost updates leave the throttle where the download started it.
        self.assertEqual(job["lastTick"], 0)

    def test_a_name_outside_the_launcher_folder_is_shown_as_given(self):
        job = self.job("bare")
        self.assertEqual(job["result"], 1, job)
        self.assertEqual(self.local("patch.hpl"), self.files["patch.hpl"])
        self.assertEqual(job["status"], download_text("patch.hpl"))


class BoxWatchTest(unittest.TestCase):
    def test_boxes_are_recorded_and_dismissed(self):
        watch = harness.BoxWatch(SESSION, os.path.join(WORK, "boxes.txt"))
        started = watch.start()
        self.addCleanup(watch.stop)
        self.assertTrue(started, started.error)
        rows = [("FAIL_DOWNLOAD", "Erro ao atualizar", "Falha ao baixar atualiza\u00e7\u00e3o.."),
                ("wait", "", "Aguarde...")]
        for key, caption, _ in rows:
            shown = SESSION.run(harness.bin_path("show_box.exe"), [key] + ([caption] if caption else []),
                                timeout=60)
            self.assertFalse(shown.timed_out, "the box was not dismissed: %r" % shown)
            self.assertEqual(shown.returncode, 0, shown)
            self.assertEqual(shown.stdout.strip(), b"answer 1")
        self.assertEqual(watch.wait_for(len(rows)), [(caption, text) for _, caption, text in rows])

    def test_a_watcher_that_ends_before_it_is_up_is_tried_again_then_reported(self):
        # post_mouse ends at once with exit code 2 on the watcher's arguments, as a watcher whose
        # process died at start would, and never writes the record.
        watch = harness.BoxWatch(SESSION, os.path.join(WORK, "never.txt"), exe=harness.bin_path("post_mouse.exe"))
        self.addCleanup(watch.stop)
        started = watch.start(attempts=2)
        self.assertFalse(started)
        self.assertIn("it ended 2 times", started.error)
        self.assertEqual(started.error.count("rc=2"), 2, started.error)


class DisplayTest(unittest.TestCase):
    def test_an_xvfb_that_cannot_start_says_why(self):
        display = harness.Display("1x1x7")
        self.addCleanup(display.stop)
        started = display.start(timeout=10)
        self.assertFalse(started)
        self.assertIn("exit code 1", started.error)
        self.assertIn("Couldn't add screen", started.error)
        self.assertIsNone(display.proc)


class WineSessionTest(unittest.TestCase):
    def test_close_ends_the_server_and_removes_the_prefix_but_keeps_the_logs(self):
        session = harness.WineSession(os.path.join(WORK, "second-prefix"))
        self.addCleanup(session.close)
        opened = session.open()
        self.assertTrue(opened, opened.error)
        server = session.server
        # No launcher window in this session: post_mouse says so with exit code 1.
        ran = session.run(harness.bin_path("post_mouse.exe"), ["down", 1, 1], timeout=60)
        self.assertEqual(ran.returncode, 1, ran)
        self.assertTrue(os.path.isfile(os.path.join(session.prefix, "system.reg")))
        session.close()
        self.assertIsNotNone(server.poll(), "the session's wineserver still runs")
        self.assertFalse(os.path.exists(session.prefix))
        self.assertEqual(sorted(os.listdir(session.logs)), ["001-post_mouse.exe.err", "001-post_mouse.exe.out"])


if __name__ == "__main__":
    unittest.main()
