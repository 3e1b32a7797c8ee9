"""The nginx site that talvora-mkpatch publish writes, served by a real nginx on 127.0.0.1: each of
the launcher's resources comes with its cache rule, and nothing else under the folder is served."""

import os
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import time
import unittest
import urllib.error
import urllib.request

MKPATCH = os.environ.get("TALVORA_MKPATCH", "")
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class NginxSite(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(MKPATCH):
            raise unittest.SkipTest("TALVORA_MKPATCH does not name the built talvora-mkpatch")
        cls.work = tempfile.mkdtemp(prefix="nginx-site-")
        cls.server = os.path.join(cls.work, "server dir")  # a space: the root must be quoted
        out = os.path.join(cls.work, "out")
        os.makedirs(out)
        for n in (1, 2):
            with open(os.path.join(out, "%d.rar" % n), "wb") as f:
                f.write(b"archive %d" % n)
        launcher = os.path.join(out, "Talvora.exe")
        with open(launcher, "wb") as f:
            f.write(b"MZ launcher")
        p = subprocess.run([MKPATCH, "publish", cls.server, os.path.join(out, "1.rar"), os.path.join(out, "2.rar"),
                            "--launcher", launcher, "--launcher-version", "3"], capture_output=True, text=True)
        if p.returncode != 0:
            raise AssertionError("publish failed: " + p.stderr)
        patch = os.path.join(cls.server, "patch")
        for name, data in (("manifest.sig", b"signature"), ("2.rar.new", b"half written"), ("notes.txt", b"x")):
            with open(os.path.join(patch, name), "wb") as f:
                f.write(data)
        with open(os.path.join(cls.server, "nginx-site.conf")) as f:
            cls.site = f.read()
        cls.nginx = None
        cls.port = free_port()
        cls.start_nginx()

    @classmethod
    def start_nginx(cls):
        cert, key = os.path.join(cls.work, "server.crt"), os.path.join(cls.work, "server.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-keyout", key, "-out", cert], check=True, capture_output=True)
        # The site as an operator installs it: only the address and the certificate are theirs.
        site = (cls.site.replace("listen 443 ssl;", "listen 127.0.0.1:%d ssl;" % cls.port)
                .replace("/etc/ssl/patch.example.org.crt", cert).replace("/etc/ssl/patch.example.org.key", key))
        run = os.path.join(cls.work, "nginx")
        os.makedirs(os.path.join(run, "tmp"))
        conf = os.path.join(run, "nginx.conf")
        user = "user root root;\n" if os.geteuid() == 0 else ""
        with open(conf, "w") as f:
            f.write("%sdaemon off;\nworker_processes 1;\npid %s/nginx.pid;\nerror_log %s/error.log;\n"
                    "events { worker_connections 16; }\nhttp {\n access_log off;\n client_body_temp_path %s/tmp;\n"
                    " proxy_temp_path %s/tmp;\n fastcgi_temp_path %s/tmp;\n uwsgi_temp_path %s/tmp;\n"
                    " scgi_temp_path %s/tmp;\n%s\n}\n" % ((user,) + (run,) * 7 + (site,)))
        cls.nginx = subprocess.Popen([NGINX, "-p", run + "/", "-e", run + "/error.log", "-c", conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if cls.nginx.poll() is not None:
                with open(os.path.join(run, "error.log")) as f:
                    raise AssertionError("nginx refused the site: " + f.read())
            try:
                socket.create_connection(("127.0.0.1", cls.port), timeout=0.5).close()
                return
            except OSError:
                time.sleep(0.05)
        raise AssertionError("nginx did not listen")

    @classmethod
    def tearDownClass(cls):
        if cls.nginx is not None:
            cls.nginx.send_signal(signal.SIGTERM)  # by its own pid
            cls.nginx.wait(10)
        shutil.rmtree(cls.work, ignore_errors=True)

    def get(self, name, headers=None):
        """(status, Cache-Control, body) of GET /patch/<name>."""
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        request = urllib.request.Request("https://127.0.0.1:%d/patch/%s" % (self.port, name), headers=headers or {})
        try:
            with urllib.request.urlopen(request, context=context, timeout=10) as r:
                return r.status, r.headers.get("Cache-Control"), r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("Cache-Control"), b""

    def test_what_is_current_is_never_cached(self):
        for name in ("patch.hpl", "manifest.sig"):
            status, cache, body = self.get(name)
            self.assertEqual((status, cache), (200, "no-store"), name)
        self.assertEqual(len(self.get("patch.hpl")[2]), 12)

    def test_numbered_archives_are_immutable(self):
        for n in (1, 2):
            self.assertEqual(self.get("%d.rar" % n), (200, "public, max-age=31536000, immutable", b"archive %d" % n))

    def test_programs_are_revalidated(self):
        status, cache, body = self.get("launcher.exe")
        self.assertEqual((status, cache, body), (200, "no-cache", b"MZ launcher"))
        # Revalidation answers 304 while the program is unchanged.
        etag = self.etag("launcher.exe")
        self.assertEqual(self.get("launcher.exe", {"If-None-Match": etag})[0], 304)

    def etag(self, name):
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        url = "https://127.0.0.1:%d/patch/%s" % (self.port, name)
        with urllib.request.urlopen(url, context=context, timeout=10) as r:
            return r.headers["ETag"]

    def test_nothing_else_is_served(self):
        for name in ("2.rar.new", "notes.txt", "", "../nginx-site.conf"):
            self.assertEqual(self.get(name)[0], 404, name)


if __name__ == "__main__":
    unittest.main()
