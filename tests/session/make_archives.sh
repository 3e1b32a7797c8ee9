#!/usr/bin/env bash
# Makes the RAR archives that the extraction tests open, with the real `rar`, into <out-dir>.
set -euo pipefail
out="$1"
stage="$out/stage"
rm -rf "$out"
mkdir -p "$stage"
cd "$stage"

# 5.dat, the folder ext, ext/client.dll and ext/sub/a.txt.
mkdir -p full/ext/sub
printf 'payload five' >full/5.dat
printf 'new client' >full/ext/client.dll
printf 'sub a' >full/ext/sub/a.txt
(cd full && rar a -idq -r ../../full.rar 5.dat ext)

# A payload stored under another name.
mkdir other && printf 'other payload' >other/patch.bin
(cd other && rar a -idq ../../othername.rar patch.bin)

# Names that contain "ext" but would leave the folder or have nothing left, and a capital EXT.
mkdir -p tricky/text tricky/EXT tricky/next
printf 'text b' >tricky/text/b.txt
printf 'caps payload' >tricky/EXT/b.txt
printf 'three' >tricky/ext
printf 'next x' >tricky/next/x.txt
printf 'C drive' >tricky/drive.txt
(cd tricky && rar a -idq ../../tricky.rar text/b.txt EXT/b.txt ext next/x.txt)
(cd tricky && rar a -idq -apext/C: ../../tricky.rar drive.txt)

# Parent components after the "ext" prefix.
mkdir parent && printf 'evil' >parent/evil.txt && printf 'fine' >parent/fine.txt
(cd parent && rar a -idq -apext/.. ../../parent.rar evil.txt)
(cd parent && rar a -idq -apext/sub/../.. ../../parent.rar evil.txt)
(cd parent && rar a -idq -apext/a..b ../../parent.rar fine.txt)

# Two payload entries: the last one wins.
mkdir two && printf 'first' >two/a.dat && printf 'second' >two/b.dat
(cd two && rar a -idq ../../two.rar a.dat b.dat)

# Not an archive.
printf 'This is not a RAR archive.\n' >../notarchive.rar

cd "$out"
rm -rf "$stage"
touch "$out/.made"
