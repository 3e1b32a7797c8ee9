#!/usr/bin/env python3
"""Writes release manifests for the tests, signed by the openssl program rather than by
talvora-mkpatch, so the launcher's checks are also tried against a second, independent signer, and
so manifests the tool refuses to make (expired, older serials, listing what a test chooses) can be.

As a module: manifest_bytes(key_file, serial=..., expires=..., patch=..., launcher=..., client=...,
files=[(name, bytes)]). As a program: sign_manifest.py <key> <out> <serial> <expires> <patch>
<launcher> <client> [name=path ...].
"""

import hashlib
import subprocess
import sys


def _der_integer(data, at):
    assert data[at] == 0x02, "not a DER integer"
    length = data[at + 1]
    value = data[at + 2:at + 2 + length]
    return int.from_bytes(value, "big"), at + 2 + length


def raw_signature(der):
    """r and s, 32 bytes each, from the DER ECDSA-Sig-Value openssl writes."""
    assert der[0] == 0x30, "not a DER sequence"
    at = 3 if der[1] & 0x80 else 2
    r, at = _der_integer(der, at)
    s, _ = _der_integer(der, at)
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def body(serial, expires, patch, launcher, client, files):
    lines = ["talvora-manifest 1", "serial %d" % serial, "expires %d" % expires, "patch %d" % patch,
             "launcher %d" % launcher, "client %d" % client]
    for name, data in files:
        lines.append("file %s %d %s" % (name, len(data), hashlib.sha256(data).hexdigest()))
    return ("\n".join(lines) + "\n").encode()


def sign(key_file, data):
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key_file], input=data, capture_output=True,
                         check=True).stdout
    return b"signature " + raw_signature(der).hex().encode() + b"\n"


def manifest_bytes(key_file, serial, expires, patch, launcher, client, files):
    signed = body(serial, expires, patch, launcher, client, files)
    return signed + sign(key_file, signed)


def main(argv):
    key, out, serial, expires, patch, launcher, client = argv[1:8]
    files = []
    for item in argv[8:]:
        name, path = item.split("=", 1)
        with open(path, "rb") as f:
            files.append((name, f.read()))
    data = manifest_bytes(key, int(serial), int(expires), int(patch), int(launcher), int(client), files)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv)
