"""End-to-end harness: the real Windows programs under Wine against a real nginx over HTTPS. The
win64 build's run under wine64; the i686 build's under Wine's 32-bit half, which this 64-bit-only
kernel runs through qemu user emulation (skip_unless_programs_run says when it cannot).

Pieces, each started and stopped by the test that uses it; everything a piece starts it ends again
by the process id it got, never by name:

  TestPki(folder).make()            a test CA and server certificates made with openssl
  trust_ca(prefix, ca_cert)         makes a Wine prefix trust that CA (registry import)
  PatchServer(docroot, ...)         nginx on 127.0.0.1 over HTTPS serving `docroot` under the base
                                    URL's path; its own config, pid file and logs; requests()
  RawHttpsServer(cert, key, ...)    a tiny TLS server answering canned raw responses (for the
                                    broken answers nginx will not give, such as a short body)
  Display()                         Xvfb on a free display number
  WineSession(prefix)               a fresh copy of the cached prefix with a persistent wineserver;
                                    run() / start() programs, close() ends everything
  BoxWatch(session, record)         boxwatch.exe in the background; boxes() reads what it answered

What scenarios build on these pieces (installations, patches, the test case base) is kit.py's.

Operations that can fail return an `Outcome` (true when it worked, `.error` says why not) or a
result object; they do not raise (skip_unless_programs_run raises unittest.SkipTest). Python
standard library only.
"""

import hashlib
import os
import select
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = shutil.which("wineserver") or "/usr/bin/wineserver"
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
OPENSSL = shutil.which("openssl") or "/usr/bin/openssl"
XVFB = shutil.which("Xvfb") or "/usr/bin/Xvfb"

HERE = os.path.dirname(os.path.abspath(__file__))


class Outcome:
    """The result of a harness operation: true when it worked; `error` says why not."""

    def __init__(self, ok, error=""):
        self.ok = ok
        self.error = error

    def __bool__(self):
        return self.ok

    def __repr__(self):
        return "Outcome(ok)" if self.ok else "Outcome(failed: %s)" % self.error


def failed(error):
    return Outcome(False, error)


OK = Outcome(True)

# --- Where things are ---------------------------------------------------------------------------


def source_dir():
    return os.environ.get("TALVORA_SOURCE_DIR") or os.path.dirname(os.path.dirname(HERE))


def build_dir():
    """The win64 build folder the tests use: TALVORA_BUILD_DIR, else build/win64 of the tree."""
    return os.environ.get("TALVORA_BUILD_DIR") or os.path.join(source_dir(), "build", "win64")


def builds_32bit(build=None):
    """True for the i686 build, whose programs run under Wine's emulated 32-bit half."""
    return os.path.basename(cache_value("CMAKE_TOOLCHAIN_FILE", build) or "") == "toolchain-mingw-i686.cmake"


def cached_prefix(build=None):
    """The cached Wine prefix that setup made for the build's programs: one with a 32-bit half
    (scripts/setup-i386) for the i686 build, the plain 64-bit one otherwise."""
    name = "wineprefix32" if builds_32bit(build) else "wineprefix"
    return os.path.join(source_dir(), "build", "deps", name)


def why_programs_cannot_run(build=None):
    """None when the build's Windows programs can run on this machine; otherwise the reason. The
    64-bit ones always can; the i686 ones need what scripts/setup-i386 sets up where it may (qemu
    user emulation of Wine's 32-bit half), and it writes why not to build/deps/i386-status."""
    if not builds_32bit(build):
        return None
    deps = os.path.join(source_dir(), "build", "deps")
    status_file = os.path.join(deps, "i386-status")
    try:
        with open(status_file, encoding="utf-8") as f:
            status = f.read().strip()
    except OSError:
        return "scripts/setup-i386 has not run (no %s)" % status_file
    if status != "ready":
        return status
    prefix = cached_prefix(build)
    if not os.path.isfile(os.path.join(prefix, "drive_c", "windows", "syswow64", "kernel32.dll")):
        return "the 32-bit-capable Wine prefix %s is missing: run scripts/setup" % prefix
    try:
        p = subprocess.run([WINE32, "--version"], capture_output=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as e:
        return "%s does not run: %s (run scripts/setup)" % (WINE32, e)
    if p.returncode != 0:
        return "%s does not run (is the qemu-i386 binfmt entry gone? run scripts/setup)" % WINE32
    return None


def build_machine(build=None):
    """The PE machine the build's programs must have."""
    return 0x14C if builds_32bit(build) else 0x8664


def skip_unless_programs_run(build=None):
    """Skips the calling test class or module, saying why, when the build's programs cannot run."""
    reason = why_programs_cannot_run(build)
    if reason:
        raise unittest.SkipTest("32-bit programs cannot run on this machine: %s" % reason)


def bin_path(name, build=None):
    return os.path.join(build or build_dir(), "bin", name)


def work_dir(name=""):
    """A scratch folder for one test run: TALVORA_E2E_WORK, else <build>/e2e-work/<name>."""
    root = os.environ.get("TALVORA_E2E_WORK") or os.path.join(build_dir(), "e2e-work", name or "default")
    os.makedirs(root, exist_ok=True)
    return root


def fresh_dir(path):
    """Empties (or creates) `path`; returns it."""
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def windows_path(path):
    """The name Wine gives a host path (drive Z: is the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def cache_value(name, build=None):
    """A value of the build's CMakeCache.txt, or None."""
    try:
        with open(os.path.join(build or build_dir(), "CMakeCache.txt"), encoding="utf-8") as f:
            for line in f:
                key, sep, value = line.rstrip("\n").partition("=")
                if sep and key.split(":")[0] == name:
                    return value
    except OSError:
        return None
    return None


def patch_url(build=None):
    """The launcher's built-in patch server base URL, as the build was configured."""
    return cache_value("TALVORA_PATCH_URL", build) or "https://127.0.0.1:8443/patch"


def port_is_free(port, host="127.0.0.1"):
    """Whether a server could listen on the port now. Like nginx, with SO_REUSEADDR: connections of
    an earlier run still in TIME_WAIT do not hold the port, a listener does."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind((host, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def _tail(path, lines=15):
    try:
        with open(path, "rb") as f:
            return b"\n".join(f.read().splitlines()[-lines:]).decode("utf-8", "replace")
    except OSError:
        return ""


def _end_process(proc, grace=5.0, sig=signal.SIGTERM):
    """Ends one child process by its pid: `sig`, then SIGKILL after `grace` seconds. Also ends the
    children it leaves (listed before it goes)."""
    if proc is None or proc.poll() is not None:
        if proc is not None:
            proc.wait()
        return
    children = _children_of(proc.pid)
    try:
        os.kill(proc.pid, sig)
        proc.wait(timeout=grace)
    except (OSError, subprocess.TimeoutExpired):
        try:
            os.kill(proc.pid, signal.SIGKILL)
        except OSError:
            pass
        proc.wait()
    for pid in children:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def _children_of(pid):
    found = []
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/children" % (pid, task)) as f:
                found += [int(p) for p in f.read().split()]
    except OSError:
        pass
    return found


# --- Certificates -------------------------------------------------------------------------------


class TestPki:
    """A test CA and certificates for the patch server, made with openssl in `folder`.

    After make(): `ca_cert`, and `server_cert`/`server_key` for 127.0.0.1 and localhost (Wine reads
    only the DNS entries of subjectAltName, so the address is listed as a name too). issue() makes
    more, for example from a second CA that no prefix trusts, or for a wrong name."""

    SERVER_NAMES = "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost"

    def __init__(self, folder):
        self.folder = folder
        self.ca_cert = os.path.join(folder, "ca.pem")
        self.ca_key = os.path.join(folder, "ca.key")
        self.server_cert = os.path.join(folder, "server.pem")
        self.server_key = os.path.join(folder, "server.key")

    def _openssl(self, *args):
        p = subprocess.run([OPENSSL, *args], cwd=self.folder, capture_output=True, timeout=60)
        if p.returncode != 0:
            return failed("openssl %s: %s" % (args[0], p.stderr.decode("utf-8", "replace").strip()))
        return OK

    def make_ca(self, name, common_name):
        """Makes <name>.pem and <name>.key, a self-signed CA."""
        return self._openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
                             "-keyout", name + ".key", "-out", name + ".pem", "-subj", "/CN=" + common_name,
                             "-addext", "basicConstraints=critical,CA:TRUE",
                             "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(self, name, subject_alt_names=SERVER_NAMES, ca="ca"):
        """Makes <name>.pem and <name>.key, a server certificate signed by CA `ca`. Returns
        (cert, key) paths, or None when openssl failed."""
        ext = os.path.join(self.folder, name + ".ext")
        with open(ext, "w") as f:
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n"
                    "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n"
                    % subject_alt_names)
        steps = [
            ("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", name + ".key", "-out", name + ".csr",
             "-subj", "/CN=" + subject_alt_names.split(",")[0].split(":", 1)[1]),
            ("x509", "-req", "-sha256", "-days", "30", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey",
             ca + ".key", "-CAcreateserial", "-out", name + ".pem", "-extfile", name + ".ext"),
        ]
        for step in steps:
            if not self._openssl(*step):
                return None
        return os.path.join(self.folder, name + ".pem"), os.path.join(self.folder, name + ".key")

    def make(self):
        """The CA and the server certificate; reuses those already in the folder."""
        os.makedirs(self.folder, exist_ok=True)
        if all(os.path.exists(p) for p in (self.ca_cert, self.ca_key, self.server_cert, self.server_key)):
            return OK
        made = self.make_ca("ca", "Talvora Test CA")
        if not made:
            return made
        if self.issue("server") is None:
            return failed("openssl could not issue the server certificate")
        return OK


def certificate_blob(ca_cert):
    """(SHA-1 of the DER in upper-case hex, the registry "Blob" value) for a PEM certificate: one
    serialized property, id 0x20 (the encoded certificate), flags 1, length, then the DER."""
    with open(ca_cert, encoding="ascii") as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    return hashlib.sha1(der).hexdigest().upper(), struct.pack("<III", 0x20, 1, len(der)) + der


ROOT_STORE = r"HKEY_LOCAL_MACHINE\Software\Microsoft\SystemCertificates\Root\Certificates"
ROOT_STORE_32 = r"HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\SystemCertificates\Root\Certificates"


def trust_ca(prefix, ca_cert, env=None):
    """Makes the Wine prefix trust `ca_cert` (its Root store, nothing of the host's) by importing a
    .reg file with `wine64 reg import`, then checks that the key is there. Run it while the
    prefix's wineserver is up (WineSession.open), so no second server starts."""
    try:
        thumb, blob = certificate_blob(ca_cert)
    except (OSError, ValueError) as e:
        return failed("cannot read %s: %s" % (ca_cert, e))
    hexed = ",".join("%02x" % b for b in blob)
    # Wrapped like regedit writes long values.
    lines, line = [], '"Blob"=hex:'
    for item in hexed.split(","):
        if len(line) > 76:
            lines.append(line + ",\\")
            line = "  " + item
        else:
            line += ("" if line.endswith(":") else ",") + item
    lines.append(line)
    reg = os.path.join(os.path.dirname(os.path.abspath(ca_cert)), "trust-%s.reg" % thumb)
    with open(reg, "w", newline="\r\n") as f:
        f.write("REGEDIT4\n\n")
        # The 64-bit view and the view 32-bit programs get in a prefix with a 32-bit half.
        for store in (ROOT_STORE, ROOT_STORE_32):
            f.write("[%s\\%s]\n%s\n\n" % (store, thumb, "\n".join(lines)))
    run_env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    run_env.update(env or {})
    try:
        p = subprocess.run([WINE64, "reg", "import", windows_path(reg)], env=run_env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=120)
        if p.returncode != 0:
            return failed("reg import failed (%d): %s" % (p.returncode, p.stderr.decode("utf-8", "replace")))
        q = subprocess.run([WINE64, "reg", "query", "%s\\%s" % (ROOT_STORE, thumb), "/v", "Blob"], env=run_env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    except subprocess.TimeoutExpired:
        return failed("wine64 reg did not finish")
    if q.returncode != 0:
        return failed("the CA's key is not in the prefix after the import")
    return OK


# --- Patch server -------------------------------------------------------------------------------


class PatchServer:
    """nginx on 127.0.0.1 over HTTPS: `docroot` served under the path of the base URL.

    port and url_path default to those of the build's TALVORA_PATCH_URL, so the launcher finds the
    server where it was built to look. limit_rate maps resource names under the base path (or
    absolute URL paths) to an nginx rate such as "200k". extra_locations is nginx text added to the
    server block (for example a location that returns 500). Work files (config, pid file, error and
    access logs, temp folders) go to `work`."""

    def __init__(self, docroot, work, cert, key, port=None, url_path=None, limit_rate=None, extra_locations="",
                 build=None):
        parsed = urllib.parse.urlparse(patch_url(build))
        self.docroot = os.path.abspath(docroot)
        self.work = os.path.abspath(work)
        self.cert, self.key = os.path.abspath(cert), os.path.abspath(key)
        self.port = port if port is not None else (parsed.port or 443)
        self.url_path = (url_path if url_path is not None else parsed.path).rstrip("/")
        self.limit_rate = dict(limit_rate or {})
        self.extra_locations = extra_locations
        self.access_log = os.path.join(self.work, "access.log")
        self.error_log = os.path.join(self.work, "error.log")
        self.pid_file = os.path.join(self.work, "nginx.pid")
        self.config = os.path.join(self.work, "nginx.conf")
        self.proc = None

    @property
    def base_url(self):
        return "https://127.0.0.1:%d%s" % (self.port, self.url_path)

    def url(self, name):
        return "%s/%s" % (self.base_url, name)

    def _config_text(self):
        tmp = os.path.join(self.work, "tmp")
        rate_blocks = []
        for name, rate in sorted(self.limit_rate.items()):
            path = name if name.startswith("/") else "%s/%s" % (self.url_path, name)
            file = os.path.join(self.docroot, path[len(self.url_path) + 1:]) if path.startswith(
                self.url_path + "/") else os.path.join(self.docroot, path.lstrip("/"))
            # Small sendfile steps: the client then sees data (and reports progress) every few
            # milliseconds instead of in bursts of a fifth of a second.
            rate_blocks.append("        location = %s { alias %s; limit_rate %s; sendfile_max_chunk 16k; }"
                               % (path, file, rate))
        user = "user root root;\n" if os.geteuid() == 0 else ""
        return """# Made by tests/e2e/harness.py for one test run.
%sdaemon off;
master_process on;
worker_processes 1;
pid %s;
error_log %s info;
events { worker_connections 64; }
http {
    log_format talvora '$request_method $request_uri $status $body_bytes_sent';
    access_log %s talvora;
    client_body_temp_path %s/body;
    proxy_temp_path %s/proxy;
    fastcgi_temp_path %s/fastcgi;
    uwsgi_temp_path %s/uwsgi;
    scgi_temp_path %s/scgi;
    types { application/octet-stream rar hpl exe bin dat; }
    default_type application/octet-stream;
    sendfile on;
    server {
        listen 127.0.0.1:%d ssl;
        server_name 127.0.0.1 localhost;
        ssl_certificate %s;
        ssl_certificate_key %s;
        location %s/ { alias %s/; autoindex off; }
%s
%s
    }
}
""" % (user, self.pid_file, self.error_log, self.access_log, tmp, tmp, tmp, tmp, tmp, self.port, self.cert,
       self.key, self.url_path, self.docroot, "\n".join(rate_blocks), self.extra_locations)

    def start(self, timeout=10.0):
        if self.proc is not None:
            return failed("the patch server is already running")
        if not port_is_free(self.port):
            return failed("port %d on 127.0.0.1 is taken: another patch server (or test) is using it; stop it, "
                          "or build with another TALVORA_PATCH_URL" % self.port)
        fresh_dir(self.work)
        os.makedirs(os.path.join(self.work, "tmp"))
        with open(self.config, "w") as f:
            f.write(self._config_text())
        out = open(os.path.join(self.work, "nginx.out"), "wb")
        try:
            self.proc = subprocess.Popen([NGINX, "-p", self.work + "/", "-e", self.error_log, "-c", self.config],
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        except OSError as e:
            return failed("cannot start nginx: %s" % e)
        finally:
            out.close()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                self.proc = None
                return failed("nginx ended at start: %s %s" % (_tail(os.path.join(self.work, "nginx.out")),
                                                              _tail(self.error_log)))
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.5):
                    return OK
            except OSError:
                time.sleep(0.05)
        self.stop()
        return failed("nginx did not listen on port %d within %.0f s" % (self.port, timeout))

    def stop(self):
        """Ends nginx by its own pid (the master; its worker goes with it)."""
        _end_process(self.proc, sig=signal.SIGTERM)
        self.proc = None

    def request_log(self):
        """[(method, path, status, body bytes)] from the access log, oldest first."""
        entries = []
        try:
            with open(self.access_log, encoding="utf-8", errors="replace") as f:
                for line in f:
                    parts = line.split()
                    if len(parts) == 4:
                        entries.append((parts[0], parts[1], int(parts[2]), int(parts[3])))
        except OSError:
            pass
        return entries

    def requests(self):
        """The URL paths requested so far, oldest first (for example "/patch/patch.hpl")."""
        return [e[1] for e in self.request_log()]


class RawHttpsServer:
    """A tiny HTTPS server on 127.0.0.1 for answers nginx will not give: `responses` maps a request
    path to the raw bytes sent back (status line, headers, body), after which the connection is
    closed. Unknown paths get a 404. Runs on a thread of the test process; stop() ends it."""

    def __init__(self, cert, key, responses, port=0):
        self.responses = dict(responses)
        self.requested = []
        self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self._context.load_cert_chain(cert, key)
        self._want_port = port
        self._socket = None
        self._thread = None
        self._stopping = threading.Event()
        self.port = None

    def url(self, path):
        return "https://127.0.0.1:%d%s" % (self.port, path)

    def start(self):
        try:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind(("127.0.0.1", self._want_port))
            s.listen(8)
            s.settimeout(0.2)
        except OSError as e:
            return failed("raw server cannot listen: %s" % e)
        self._socket = s
        self.port = s.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()
        return OK

    def _serve(self):
        while not self._stopping.is_set():
            try:
                conn, _ = self._socket.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            try:
                conn.settimeout(10)
                with self._context.wrap_socket(conn, server_side=True) as tls:
                    request = b""
                    while b"\r\n\r\n" not in request and len(request) < 65536:
                        chunk = tls.recv(4096)
                        if not chunk:
                            break
                        request += chunk
                    line = request.split(b"\r\n", 1)[0].decode("latin-1").split()
                    path = line[1] if len(line) > 1 else ""
                    self.requested.append(path)
                    tls.sendall(self.responses.get(path, b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                                                         b"Connection: close\r\n\r\n"))
            except (OSError, ssl.SSLError):
                pass
            finally:
                conn.close()

    def stop(self):
        self._stopping.set()
        if self._thread is not None:
            self._thread.join(timeout=5)
        if self._socket is not None:
            self._socket.close()
        self._thread = self._socket = None


# --- Display ------------------------------------------------------------------------------------


class Display:
    """Xvfb on a display number it picks itself (-displayfd); `name` is ":N" once started."""

    def __init__(self, geometry="1024x768x24"):
        self.geometry = geometry
        self.name = None
        self.proc = None
        self._errors = None

    def start(self, timeout=15.0):
        read_end, write_end = os.pipe()
        # Xvfb's own words go to a temporary file, read only when it does not come up.
        self._errors = tempfile.NamedTemporaryFile(prefix="xvfb-", suffix=".err")
        try:
            self.proc = subprocess.Popen([XVFB, "-displayfd", str(write_end), "-screen", "0", self.geometry,
                                          "-nolisten", "tcp"], pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=self._errors)
        except OSError as e:
            os.close(read_end)
            os.close(write_end)
            return failed("cannot start Xvfb: %s" % e)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + timeout
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.2)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            try:
                # Its end of the pipe closes just before it exits.
                rc = self.proc.wait(timeout=2)
            except subprocess.TimeoutExpired:
                rc = None
            said = _tail(self._errors.name).strip()
            self.stop()
            how = "still running after %.0f s" % timeout if rc is None else "exit code %d" % rc
            return failed("Xvfb did not report a display number (%s): %s" % (how, said or "it wrote nothing"))
        self.name = ":" + number.strip().decode()
        return OK

    def stop(self):
        _end_process(self.proc)
        self.proc = None
        if self._errors is not None:
            self._errors.close()
            self._errors = None

    def screenshot(self, path):
        """Writes a PNG of the whole screen (ImageMagick's import)."""
        p = subprocess.run(["import", "-display", self.name, "-window", "root", path], capture_output=True,
                           timeout=30)
        return OK if p.returncode == 0 else failed(p.stderr.decode("utf-8", "replace"))


# --- Wine ---------------------------------------------------------------------------------------


class RunResult:
    """What one program run gave: `returncode` (None when it had to be killed), `stdout` and
    `stderr` bytes, `timed_out`."""

    def __init__(self, returncode, stdout, stderr, timed_out):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.timed_out = timed_out

    def text(self, encoding="cp1252"):
        return self.stdout.decode(encoding, "replace")

    def __repr__(self):
        return "RunResult(rc=%r, timed_out=%r, stdout=%r, stderr=%r)" % (
            self.returncode, self.timed_out, self.stdout[-2000:], self.stderr[-2000:])


class Program:
    """A program started in the background by WineSession.start."""

    def __init__(self, proc, out_path, err_path):
        self.proc = proc
        self.pid = proc.pid
        self._out, self._err = out_path, err_path

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout):
        """Waits for the end; the exit code, or None when it still runs after `timeout` seconds."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        """Kills the program by its pid if it still runs."""
        _end_process(self.proc, grace=1.0, sig=signal.SIGKILL)

    def stdout(self):
        return _read(self._out)

    def stderr(self):
        return _read(self._err)

    def result(self):
        rc = self.proc.poll()
        return RunResult(rc, self.stdout(), self.stderr(), rc is None)


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


class WineSession:
    """One Wine prefix for a test: a fresh copy of the cached prefix (build/deps/wineprefix), its own
    persistent wineserver, and Wine's services started detached before any program (a service
    started by the first program would inherit that program's output pipes). Programs' output
    goes to files (`logs`, kept), read when they end. close() kills what run()/start() left
    running, ends the prefix's processes with `wineserver -k`, waits for the server and removes
    the prefix: each copy holds over a gigabyte, and a test run opens dozens of sessions on a
    disk other work shares."""

    def __init__(self, prefix, display=None, cached=None):
        self.prefix = os.path.abspath(prefix)
        self.display = display  # a Display, a ":N" text, or None
        self.cached = cached or cached_prefix()
        self.logs = self.prefix + ".logs"
        self.server = None
        self.programs = []
        self._count = 0

    def env(self, extra=None):
        env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG=os.environ.get("TALVORA_WINEDEBUG", "-all"))
        display = self.display.name if isinstance(self.display, Display) else self.display
        if display:
            env["DISPLAY"] = display
        else:
            env.pop("DISPLAY", None)
        env.update(extra or {})
        return env

    def _server_ready(self):
        # The server works in its own folder (server-<dev>-<inode> under Wine's temporary folder)
        # and listens on "socket" there once it is up.
        try:
            return os.path.exists(os.path.join(os.readlink("/proc/%d/cwd" % self.server.pid), "socket"))
        except OSError:
            return False

    def open(self, timeout=180.0):
        if not os.path.isfile(os.path.join(self.cached, "system.reg")):
            return failed("no cached Wine prefix at %s: run scripts/setup" % self.cached)
        # A server left by an earlier, interrupted run of this prefix would swallow our -p.
        if os.path.isdir(self.prefix):
            subprocess.run([WINESERVER, "-k"], env=self.env(), capture_output=True, timeout=60)
            subprocess.run([WINESERVER, "-w"], env=self.env(), capture_output=True, timeout=60)
        shutil.rmtree(self.prefix, ignore_errors=True)
        fresh_dir(self.logs)
        p = subprocess.run(["cp", "-a", self.cached, self.prefix], capture_output=True, timeout=600)
        if p.returncode != 0:
            return failed("cannot copy the prefix: %s" % p.stderr.decode("utf-8", "replace"))
        fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
        for name in ("tahoma.ttf", "tahomabd.ttf"):
            src = os.path.join("/usr/share/wine/fonts", name)
            if os.path.exists(src) and os.path.isdir(fonts):
                shutil.copy(src, fonts)
        self.server = subprocess.Popen([WINESERVER, "-f", "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not self._server_ready():
            if self.server.poll() is not None or time.monotonic() > deadline:
                self.close()
                return failed("wineserver -p did not come up for %s" % self.prefix)
            time.sleep(0.05)
        try:
            subprocess.run([WINE64, "cmd.exe", "/c", "exit"], env=self.env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
        except subprocess.TimeoutExpired:
            self.close()
            return failed("Wine's services did not start within %.0f s" % timeout)
        return OK

    def trust_ca(self, ca_cert):
        return trust_ca(self.prefix, ca_cert, self.env())

    def _spawn(self, exe, args, cwd, env):
        self._count += 1
        base = os.path.join(self.logs, "%03d-%s" % (self._count, os.path.basename(exe)))
        out_path, err_path = base + ".out", base + ".err"
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen([WINE64, exe, *[str(a) for a in args]], cwd=cwd or os.path.dirname(exe) or None,
                                    env=self.env(env), stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        program = Program(proc, out_path, err_path)
        self.programs.append(program)
        return program

    def run(self, exe, args=(), cwd=None, timeout=60.0, env=None):
        """Runs `exe` (a host path) with `args` in `cwd` (default: the exe's folder) and waits at most
        `timeout` seconds; a program still running then is killed. Returns a RunResult."""
        try:
            program = self._spawn(exe, args, cwd, env)
        except OSError as e:
            return RunResult(None, b"", str(e).encode(), False)
        rc = program.wait(timeout)
        if rc is None:
            program.stop()
            return RunResult(None, program.stdout(), program.stderr(), True)
        return RunResult(rc, program.stdout(), program.stderr(), False)

    def start(self, exe, args=(), cwd=None, env=None):
        """Starts `exe` in the background; returns a Program, or None when it could not start."""
        try:
            return self._spawn(exe, args, cwd, env)
        except OSError:
            return None

    def close(self):
        for program in self.programs:
            program.stop()
        self.programs = []
        if self.server is not None:
            try:
                subprocess.run([WINESERVER, "-k"], env=self.env(), capture_output=True, timeout=60)
            except subprocess.TimeoutExpired:
                pass
            _end_process(self.server, grace=10.0)
            self.server = None
        shutil.rmtree(self.prefix, ignore_errors=True)


# --- Message boxes ------------------------------------------------------------------------------


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append({"\\": "\\", "t": "\t", "r": "\r", "n": "\n"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


class BoxWatch:
    """boxwatch.exe running in `session`: every message box that appears is recorded and its OK
    button pressed. boxes() gives [(caption, text)] in the order they appeared, decoded from
    Windows-1252."""

    def __init__(self, session, record, exe=None, timeout_ms=None):
        self.session = session
        self.record = os.path.abspath(record)
        self.exe = exe or bin_path("boxwatch.exe")
        self.timeout_ms = timeout_ms
        self.program = None

    def start(self, timeout=30.0, attempts=3):
        """Starts the watcher and waits until it is up (its record file exists). A watcher that ends
        before that is started again, at most `attempts` times in all: under the emulated 32-bit
        Wine a new watcher has been seen, rarely, to end at once with exit code 1 and no output,
        before it wrote its record. Each such end is written to standard error."""
        args = [windows_path(self.record)] + ([str(self.timeout_ms)] if self.timeout_ms else [])
        ended = []
        deadline = time.monotonic() + timeout
        while len(ended) < attempts:
            if os.path.exists(self.record):
                os.remove(self.record)
            self.program = self.session.start(self.exe, args)
            if self.program is None:
                return failed("cannot start boxwatch")
            while not os.path.exists(self.record) and self.program.running():
                if time.monotonic() > deadline:
                    return failed("boxwatch did not come up within %.0f s" % timeout)
                time.sleep(0.05)
            if os.path.exists(self.record):
                return OK
            ended.append(self.program.result())
            sys.stderr.write("boxwatch ended before it came up: %r\n" % ended[-1])
        return failed("boxwatch did not come up: it ended %d times: %r" % (len(ended), ended))

    def boxes(self):
        try:
            with open(self.record, "rb") as f:
                data = f.read()
        except OSError:
            return []
        found = []
        for line in data.decode("cp1252", "replace").split("\n"):
            if line:
                caption, _, text = line.partition("\t")
                found.append((_unescape(caption), _unescape(text)))
        return found

    def wait_for(self, count, timeout=30.0):
        """Waits until at least `count` boxes were answered; the boxes seen."""
        deadline = time.monotonic() + timeout
        while len(self.boxes()) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.boxes()

    def stop(self):
        if self.program is not None:
            self.program.stop()
            self.program = None
