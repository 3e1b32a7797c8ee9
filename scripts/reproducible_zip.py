#!/usr/bin/env python3
"""Writes a zip archive whose bytes depend only on the files' names and contents: entries sorted by
name, every time stamp set to one given time, fixed permissions, no owner or extra fields.

Usage: reproducible_zip.py <archive.zip> <folder> <unix-time>
The archive holds <folder> under its own name (its parent is the archive's root)."""

import os
import sys
import time
import zipfile

DOS_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC: the earliest time a zip entry can carry


def entry(name, when, is_folder):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(when, DOS_EPOCH))[:6])
    info.create_system = 3  # Unix, so the permissions below are read as such
    info.external_attr = ((0o40755 if is_folder else 0o100644) << 16) | (0x10 if is_folder else 0)
    info.compress_type = zipfile.ZIP_STORED if is_folder else zipfile.ZIP_DEFLATED
    return info


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    archive, folder, when = sys.argv[1], os.path.normpath(sys.argv[2]), int(sys.argv[3])
    parent = os.path.dirname(folder)
    names = []
    for root, dirs, files in os.walk(folder):
        names.append(os.path.relpath(root, parent) + "/")
        names.extend(os.path.relpath(os.path.join(root, f), parent) for f in files)
    names = sorted(n.replace(os.sep, "/") for n in names)
    with zipfile.ZipFile(archive + ".new", "w", compresslevel=9) as z:
        for name in names:
            if name.endswith("/"):
                z.writestr(entry(name, when, True), b"")
            else:
                with open(os.path.join(parent, name), "rb") as f:
                    z.writestr(entry(name, when, False), f.read())
    os.replace(archive + ".new", archive)


if __name__ == "__main__":
    main()
