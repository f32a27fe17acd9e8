#!/usr/bin/env bash
# Builds the sample floppy: a 1.44 MB FAT12 disk with a volume label, a few text files, a subdirectory
# tree, a long file name and a larger file, from files of this project. Reproducible: fixed serial and times.
# Usage: scripts/make-sample.sh OUTPUT.img
set -euo pipefail
out=${1:?output image}
root=$(cd "$(dirname "$0")/.." && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# Fixed times for everything mkfs.fat and mtools stamp, so the sample is the same on every machine.
export MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=901197296 TZ=UTC
rm -f "$out"
mkfs.fat -C -F 12 -i 4B444C57 -n "KDLW SAMPLE" -f 2 -r 224 -R 1 -s 1 -S 512 -g 2/18 -M 0xF0 "$out" 1440 >/dev/null

cp "$root/README.md" "$stage/README.TXT"
cp "$root/src/codec/codec.h" "$stage/CODEC.H"
cp "$root/src/image/kdl_format.h" "$stage/Image format notes.txt"
cat "$root"/src/*/*.cpp > "$stage/SOURCES.TXT"
mkdir -p "$stage/DOCS/DEEP/DEEPER"
cp "$root/tests/data/lh5-vectors/README.md" "$stage/DOCS/VECTORS.TXT"
cp "$root/tests/data/lh5-vectors/sjis_text_18432.in" "$stage/DOCS/NIHONGO.TXT"
printf 'three levels down\r\n' > "$stage/DOCS/DEEP/DEEPER/NOTE.TXT"
: > "$stage/EMPTY.DAT"
find "$stage" -exec touch -d '1998-07-23 12:34:56' {} +

mcopy -s -m -i "$out" "$stage"/* ::/
mattrib -i "$out" +r ::/CODEC.H
