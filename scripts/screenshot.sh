#!/usr/bin/env bash
# Takes a picture of a kdlw window under a virtual X server with a window manager (openbox, so that windows
# are placed, framed and titled as on a desktop), over a folder of sample images made from freshly formatted
# floppies, and saves it as a PNG.
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

cmake --build "$build" --target kdlw kdlw_make_samples kdl >/dev/null
stage=$(mktemp -d "${TMPDIR:-/tmp}/kdlw-screenshot.XXXXXX")
trap 'rm -rf "$stage"' EXIT
export MTOOLS_SKIP_CHECK=1

# The sample folder, and beside it the program's own files and a home for the session.
home="$stage/home"
floppies="$stage/floppies"
samples="$stage/ディスク保管庫"
mkdir -p "$floppies" "$samples/アーカイブ" "$home" "$stage/bin" "$stage/run"
chmod 700 "$stage/run"
# Three floppies of different formats, each with a volume label and a file or two.
bash "$root/scripts/make-sample.sh" "$floppies/GAMES.img"
mkfs.fat -C -F 12 -n "WORDPRO" -f 2 -r 112 -R 1 -s 2 -S 512 -g 2/9 -M 0xF9 "$floppies/WORDPRO.img" 720 >/dev/null
mcopy -i "$floppies/WORDPRO.img" "$root/README.md" ::/README.TXT
mkfs.fat -C -F 12 -n "SYSTEM" -f 2 -r 192 -R 1 -s 1 -S 1024 -g 2/8 -M 0xFE "$floppies/SYSTEM.img" 1232 >/dev/null
mcopy -i "$floppies/SYSTEM.img" "$root/scripts/setup.sh" ::/SETUP.BAT
"$build/tests/kdlw/kdlw_make_samples" "$samples" "$floppies/GAMES.img" "$floppies/WORDPRO.img" \
  "$floppies/SYSTEM.img"
mv "$samples/SYSTEM.KDL" "$samples/system backup.kdl"
printf 'not an image\n' > "$samples/BROKEN.KDL"
# Disk images of other tools' formats, listed beside the images with the type of the disk they hold.
"$build/src/kdl/kdl" raw "$floppies/SYSTEM.img" "$samples/PC98SYS.d88" >/dev/null 2>&1
"$build/src/kdl/kdl" raw "$floppies/WORDPRO.img" "$samples/wordpro.img.gz" >/dev/null 2>&1
find "$samples" -exec touch -d '1998-07-23 12:34:56' {} +

# A copy of the program in a folder of its own keeps its settings there: they name the folder to show.
cp "$build/src/kdlw/kdlw" "$stage/bin/kdlw"
cat > "$stage/bin/KDLW.INI" <<INI
[Directory]
Current=$samples
[MainForm]
FdWidth=210
PlaceShowCmd=1
PlaceNormalPos.Left=40
PlaceNormalPos.Top=40
PlaceNormalPos.Right=800
PlaceNormalPos.Bottom=480
[Drives]
A=/dev/fd0
B=$floppies/WORDPRO.img
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

# Inside the virtual display: the window manager first, then the program, which saves its picture and ends.
cat > "$stage/session.sh" <<'SESSION'
#!/usr/bin/env bash
openbox --sm-disable &
wm=$!
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit $status
SESSION
chmod +x "$stage/session.sh"

mkdir -p "$(dirname "$out")"
rm -f "$out"
# A busy machine now and then shows the window before the window manager has framed it (exit status 3):
# the picture is taken again, and the last one kept.
for attempt in 1 2 3; do
  status=0
  HOME="$home" XDG_RUNTIME_DIR="$stage/run" QT_QPA_PLATFORM=xcb KDLW_SCREENSHOT="$out" \
    KDLW_SCREENSHOT_OPEN="$open" xvfb-run -a -s "-screen 0 1024x768x24" \
    "$stage/session.sh" "$stage/bin/kdlw" "${args[@]}" || status=$?
  [ "$status" -eq 3 ] || break
  echo "screenshot.sh: no window frame on attempt $attempt" >&2
done
[ "$status" -eq 0 ] || [ "$status" -eq 3 ]
test -s "$out"
echo "saved $out"
