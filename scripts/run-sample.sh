#!/usr/bin/env bash
# The main job on the bundled sample floppy: archive the disk as a .KDL image, check it, list it, copy its
# files out, and write it back onto a blank formatted disk, comparing the result with the original.
# Usage: scripts/run-sample.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
kdl="$build/src/kdl/kdl"
work="$build/sample"
rm -rf "$work"
mkdir -p "$work"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Building the sample floppy disk ($work/SAMPLE.IMG)"
bash "$root/scripts/make-sample.sh" "$work/SAMPLE.IMG"

step "kdl create SAMPLE.IMG SAMPLE.KDL  (the disk file acts as the drive)"
"$kdl" create "$work/SAMPLE.IMG" "$work/SAMPLE.KDL" -l "KDLW sample disk" -l "サンプル" --verify
ls -l "$work/SAMPLE.IMG" "$work/SAMPLE.KDL"

step "kdl test SAMPLE.KDL"
"$kdl" test "$work/SAMPLE.KDL"

step "kdl labels SAMPLE.KDL"
"$kdl" labels "$work/SAMPLE.KDL"

step "kdl ls -R SAMPLE.KDL"
"$kdl" ls -R "$work/SAMPLE.KDL"

step "kdl view SAMPLE.KDL /DOCS/DEEP/DEEPER/NOTE.TXT --dump"
"$kdl" view "$work/SAMPLE.KDL" /DOCS/DEEP/DEEPER/NOTE.TXT --dump

step "kdl copy SAMPLE.KDL --to files/"
mkdir -p "$work/files"
"$kdl" copy "$work/SAMPLE.KDL" --to "$work/files"
find "$work/files" -type f | sort

step "kdl restore SAMPLE.KDL onto a blank formatted disk, then compare the files with mtools"
mkfs.fat -C -F 12 -f 2 -r 224 -R 1 -s 1 -S 512 -g 2/18 -M 0xF0 "$work/BLANK.IMG" 1440 >/dev/null
"$kdl" --yes restore "$work/SAMPLE.KDL" "$work/BLANK.IMG" --verify
mkdir -p "$work/from-original" "$work/from-restored"
MTOOLS_SKIP_CHECK=1 mcopy -s -m -i "$work/SAMPLE.IMG" :: "$work/from-original"
MTOOLS_SKIP_CHECK=1 mcopy -s -m -i "$work/BLANK.IMG" :: "$work/from-restored"
diff -r "$work/from-original" "$work/from-restored"
echo "The restored disk holds the same files as the original."

kdlw="$build/src/kdlw/kdlw"
if [ -n "${DISPLAY:-}" ] && [ -x "$kdlw" ]; then
  step "Opening kdlw on $work (close its window to finish)"
  # The window opens on the folder its settings file names; a fresh build gets one naming the sample folder.
  ini="$(dirname "$kdlw")/KDLW.INI"
  [ -f "$ini" ] || printf '[Directory]\nCurrent=%s/\n' "$work" > "$ini"
  "$kdlw" || true
fi
