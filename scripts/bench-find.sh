#!/usr/bin/env bash
# Collection benchmark: a folder of 10 archives of 1,000 compressed images each (10,000 images of the eight
# fixture disk types) is searched by name with `kdl find`, and walked through `kdl mount` with find(1).
# References measured in the same run: `kdl list` of the same archives (their headers only) and `kdl test` of
# one archive (every unit of 1,000 images read, checked and expanded).
#
# Usage: scripts/bench-find.sh [KDL_BINARY|BUILD_DIR] [WORKDIR]
#   KDL_BINARY  default: $KDL, else build/src/kdl/kdl under the repository
#   WORKDIR     default: a temporary folder, removed at the end
# Goals: names alone over 10,000 archived images in seconds; memory that does not grow with the collection.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
kdl=${1:-${KDL:-$repo/build/src/kdl/kdl}}
[ -d "$kdl" ] && kdl="$kdl/src/kdl/kdl"
kdl=$(realpath "$kdl")
[ -x "$kdl" ] || { echo "bench-find: $kdl is not an executable" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench-find: /usr/bin/time missing (Debian package 'time')" >&2; exit 1; }
"$kdl" --help | grep -q '^  find ' || { echo "bench-find: $kdl has no find command" >&2; exit 1; }

mountpoint=
served=
if [ $# -ge 2 ]; then
  work=$2
  mkdir -p "$work"
  cleanup() { :; }
else
  work=$(mktemp -d)
  cleanup() { rm -rf "$work"; }
fi
finish() {
  if [ -n "$mountpoint" ] && grep -q " $mountpoint " /proc/self/mountinfo; then fusermount3 -u "$mountpoint" || true; fi
  if [ -n "$served" ]; then wait "$served" 2>/dev/null || true; fi
  cleanup
}
trap finish EXIT
cd "$work"

echo "== fixtures"
[ -f floppies/type7.img ] || bash "$repo/tests/fixtures/make_floppies.sh" floppies >/dev/null
# The eight disks without their two largest files: the directories stay as they are, the archives stay small.
export MTOOLS_SKIP_CHECK=1
for t in 0 1 2 3 4 5 6 7; do
  cp "floppies/type$t.img" "lean$t.img"
  root=::; [ "$t" = 7 ] && root=::/MISC
  mdel -i "lean$t.img" ::/BIG.BIN "$root/LOG.TXT" 2>/dev/null || true
  rm -f "disk$t.KDL"
  "$kdl" create "lean$t.img" "disk$t.KDL" >/dev/null
done
ls -l disk*.KDL | awk '{ s += $5 } END { printf "eight compressed images: %d bytes\n", s }'

echo "== building 10 archives of 1,000 images"
mkdir -p shelf
sources=()
for ((i = 0; i < 1000; ++i)); do sources+=("disk$((i % 8)).KDL"); done
for a in 0 1 2 3 4 5 6 7 8 9; do
  [ -f "shelf/box$a.KDZ" ] || "$kdl" add "shelf/box$a.KDZ" "${sources[@]}" >/dev/null
done
mkdir -p one
[ -f one/box0.KDZ ] || cp shelf/box0.KDZ one/
images=$(for f in shelf/*.KDZ; do "$kdl" list "$f"; done | wc -l)
echo "images in the collection: $images ($(du -sh shelf | cut -f1))"

# timed NAME RUNS COMMAND...: fastest wall time and the processor time (user + system) of that run, in
# seconds; other work on the machine inflates the wall time, hardly the processor time.
timed() {
  local name=$1 runs=$2 i wall cpu best="" bestcpu=""
  shift 2
  for ((i = 0; i < runs; ++i)); do
    /usr/bin/time -f '%e %U %S' -o time.txt "$@" >/dev/null || true
    # A command that ends with another status than 0 (kdl find that found nothing) gets a line before it.
    read -r wall user system < <(tail -n 1 time.txt)
    cpu=$(awk "BEGIN { print $user + $system }")
    if [ -z "$best" ] || awk "BEGIN { exit !($wall < $best) }"; then best=$wall bestcpu=$cpu; fi
  done
  printf '%-44s %7.2f s wall, %7.2f s processor (best of %d)\n' "$name" "$best" "$bestcpu" "$runs"
  last_best=$best last_cpu=$bestcpu
}

# peak NAME COMMAND...: peak resident kilobytes of one run
peak() {
  local name=$1
  shift
  /usr/bin/time -v "$@" >/dev/null 2>time.txt || true
  printf '%-44s %8d KB peak\n' "$name" "$(awk -F': ' '/Maximum resident set size/ { print $2 }' time.txt)"
}

echo "== kdl find by name"
echo "hits for '*.TXT' over the collection: $("$kdl" find shelf '*.TXT' | wc -l)"
timed "kdl list, 10,000 images (headers only)" 3 sh -c "for f in shelf/*.KDZ; do '$kdl' list \"\$f\"; done"
list=$last_cpu
timed "kdl find, 10,000 images, a name not there" 3 "$kdl" find shelf 'NOSUCH*'
find10k=$last_cpu
timed "kdl find, 10,000 images, '*.TXT'" 3 "$kdl" find shelf '*.TXT'
timed "kdl find, 1,000 images, a name not there" 3 "$kdl" find one 'NOSUCH*'
find1k=$last_cpu
timed "kdl test, 1,000 images (every unit)" 1 "$kdl" test one/box0.KDZ
test1k=$last_cpu
printf 'processor time per image: find by name %.3f ms, kdl test %.3f ms; test/find %.1fx; find/list %.1fx\n' \
  "$(awk "BEGIN { print $find10k / 10 }")" "$(awk "BEGIN { print $test1k }")" \
  "$(awk "BEGIN { print ($test1k / 1000) / ($find10k / 10000) }")" "$(awk "BEGIN { print $find10k / $list }")"
printf 'find processor time, 10,000 images / 1,000 images: %.2fx\n' "$(awk "BEGIN { print $find10k / $find1k }")"
peak "kdl find, 1,000 images" "$kdl" find one 'NOSUCH*'
peak "kdl find, 10,000 images" "$kdl" find shelf 'NOSUCH*'

if [ -r /dev/fuse ] && command -v fusermount3 >/dev/null; then
  echo "== through kdl mount (find(1) over the mounted folder)"
  mountpoint=$work/mnt
  mkdir -p "$mountpoint"
  "$kdl" mount -f shelf "$mountpoint" &
  served=$!
  for ((i = 0; i < 100; ++i)); do grep -q " $mountpoint " /proc/self/mountinfo && break; sleep 0.1; done
  timed "find(1) on the mount, 1,000 images" 1 find "$mountpoint/box0.KDZ" -name 'NOSUCH*'
  rss1k=$(awk '/VmHWM/ { print $2 }' "/proc/$served/status")
  timed "find(1) on the mount, 10,000 images" 1 find "$mountpoint" -name 'NOSUCH*'
  rss10k=$(awk '/VmHWM/ { print $2 }' "/proc/$served/status")
  timed "find(1) on the mount again (kernel caches)" 1 find "$mountpoint" -name 'NOSUCH*'
  echo "files and folders seen on the mount: $(find "$mountpoint" | wc -l)"
  # The daemon's memory grows with the entries the kernel keeps cached (the FUSE library holds one node per
  # inode the kernel knows); expanded units and open images stay within their bounds.
  printf 'mount peak memory after 1,000 images: %d KB; after 10,000: %d KB\n' "$rss1k" "$rss10k"
  fusermount3 -u "$mountpoint"
  wait "$served"
  served=
else
  echo "== kdl mount skipped: /dev/fuse is not available"
fi
