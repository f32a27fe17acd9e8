#!/usr/bin/env bash
# Takes a picture of a kdlw window under a virtual X server, over a folder of sample images made from
# freshly formatted floppies, and saves it as a PNG.
# Usage: scripts/screenshot.sh [BUILD_DIR] [OUTPUT.png] [WINDOW]
#   WINDOW: main (the main window, the default), browse (the browse window on the sample disk),
#           viewer (the dump of a Shift-JIS text file of the sample disk), image-dialog (creating an image),
#           archive (the archive window on the sample archive, its second image selected).
#   An empty OUTPUT.png picks docs/screenshots/<name>.png for the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
window=${3:-main}
case $window in
  main) default=main-window.png ;;
  browse) default=browse-window.png ;;
  viewer) default=viewer-dump.png ;;
  image-dialog) default=image-dialog-create.png ;;
  archive) default=archive-window.png ;;
  *) echo "screenshot.sh: unknown window '$window'" >&2; exit 2 ;;
esac
out=${2:-}
out=$(realpath -m "${out:-$root/docs/screenshots/$default}")

cmake --build "$build" --target kdlw kdlw_make_samples >/dev/null
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
export MTOOLS_SKIP_CHECK=1

# Three floppies of different formats, each with a volume label and a file or two.
mkdir -p "$stage/raw" "$stage/ディスク保管庫/アーカイブ" "$stage/bin" "$stage/run"
chmod 700 "$stage/run"
bash "$root/scripts/make-sample.sh" "$stage/raw/GAMES.img"
mkfs.fat -C -F 12 -n "WORDPRO" -f 2 -r 112 -R 1 -s 2 -S 512 -g 2/9 -M 0xF9 "$stage/raw/WORDPRO.img" 720 >/dev/null
mcopy -i "$stage/raw/WORDPRO.img" "$root/README.md" ::/README.TXT
mkfs.fat -C -F 12 -n "SYSTEM" -f 2 -r 192 -R 1 -s 1 -S 1024 -g 2/8 -M 0xFE "$stage/raw/SYSTEM.img" 1232 >/dev/null
mcopy -i "$stage/raw/SYSTEM.img" "$root/scripts/setup.sh" ::/SETUP.BAT
samples="$stage/ディスク保管庫"
"$build/tests/kdlw/kdlw_make_samples" "$samples" "$stage/raw/GAMES.img" "$stage/raw/WORDPRO.img" \
  "$stage/raw/SYSTEM.img"
mv "$samples/SYSTEM.KDL" "$samples/system backup.kdl"
printf 'not an image\n' > "$samples/BROKEN.KDL"
find "$samples" -exec touch -d '1998-07-23 12:34:56' {} +

# A copy of the program in a folder of its own keeps its settings there: they name the folder to show.
cp "$build/src/kdlw/kdlw" "$stage/bin/kdlw"
cat > "$stage/bin/KDLW.INI" <<INI
[Directory]
Current=$samples
[MainForm]
FdWidth=190
PlaceShowCmd=1
PlaceNormalPos.Left=40
PlaceNormalPos.Top=40
PlaceNormalPos.Right=800
PlaceNormalPos.Bottom=480
[Drives]
A=/dev/fd0
B=$stage/raw/WORDPRO.img
INI

# The program is started as its window needs: with an image for the browse window and the viewer.
args=()
open=
case $window in
  browse) args=("$samples/GAMES.KDL") ;;
  viewer) args=("$samples/GAMES.KDL"); open=dump:DOCS/NIHONGO.TXT ;;
  image-dialog) open=create ;;
  archive) args=("$samples/SAMPLES.KDZ"); open=archive:2 ;;
esac

mkdir -p "$(dirname "$out")"
rm -f "$out"
XDG_RUNTIME_DIR="$stage/run" QT_QPA_PLATFORM=xcb KDLW_SCREENSHOT="$out" KDLW_SCREENSHOT_OPEN="$open" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$stage/bin/kdlw" "${args[@]}"
test -s "$out"
echo "saved $out"
