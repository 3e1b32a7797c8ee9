#!/usr/bin/env python3
"""Fixtures of the release-manifest tests, signed with openssl: the resources of a small
publication and manifests of it that the launcher must accept or refuse.

make_manifests.py <out-dir> <release.key> <release.pub>
"""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import sign_manifest  # noqa: E402

FAR_FUTURE = 4102444800  # 2100-01-01
LONG_AGO = 1000000000    # 2001-09-09


def main(out, key, pub):
    os.makedirs(out, exist_ok=True)
    patch_list = (11).to_bytes(4, "little") + (4).to_bytes(4, "little") + (5).to_bytes(4, "little")
    archive = bytes((i * 31 + 7) & 0xFF for i in range(300000))
    resources = [("patch.hpl", patch_list), ("11.rar", archive)]
    for name, data in resources:
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    other_key = os.path.join(out, "other.key")
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other_key], check=True)
    # Its public key in the launcher build's form: the uncompressed point ends the DER public key.
    der = subprocess.run(["openssl", "ec", "-in", other_key, "-pubout", "-outform", "DER"], capture_output=True,
                         check=True).stdout
    with open(os.path.join(out, "other.pub"), "w") as f:
        f.write("talvora-release-key p256 %s\n" % der[-64:].hex())
    made = {
        "good.sig": (key, 5, FAR_FUTURE),
        "older.sig": (key, 4, FAR_FUTURE),
        "expired.sig": (key, 6, LONG_AGO),
        "other-key.sig": (other_key, 7, FAR_FUTURE),
    }
    for name, (signing_key, serial, expires) in made.items():
        data = sign_manifest.manifest_bytes(signing_key, serial, expires, 11, 4, 5, resources)
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    shutil.copy(pub, os.path.join(out, "release.pub"))
    open(os.path.join(out, ".made"), "w").close()


if __name__ == "__main__":
    main(*sys.argv[1:4])
