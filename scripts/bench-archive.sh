#!/usr/bin/env bash
# Archive benchmark: builds archives of 10 and 1,000 compressed images from the mtools fixture disks, then
# measures `kdl list` and `kdl test` (wall time and peak memory from /usr/bin/time -v).
#
# Usage: scripts/bench-archive.sh [KDL_BINARY|BUILD_DIR] [WORKDIR]
#   KDL_BINARY  default: $KDL, else build/src/kdl/kdl under the repository
#   WORKDIR     default: a temporary folder, removed at the end
# Goals: `kdl list` of 1,000 images well under a second; its peak memory the same for 10 and 1,000 images.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
kdl=${1:-${KDL:-$repo/build/src/kdl/kdl}}
# A build folder stands for the kdl program built in it.
[ -d "$kdl" ] && kdl="$kdl/src/kdl/kdl"
kdl=$(realpath "$kdl")
[ -x "$kdl" ] || { echo "bench-archive: $kdl is not an executable" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench-archive: /usr/bin/time missing (Debian package 'time')" >&2; exit 1; }
"$kdl" --help | grep -q '^  list ' || { echo "bench-archive: $kdl has no archive commands" >&2; exit 1; }

if [ $# -ge 2 ]; then
  work=$2
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"

echo "== fixtures"
[ -f floppies/type7.img ] || bash "$repo/tests/fixtures/make_floppies.sh" floppies >/dev/null

# Disks are read as drives: a private copy of the program with a settings file beside it maps A:..H: to the
# eight fixture disks, so every image is compressed with free clusters left out, as from a real drive.
mkdir -p reader
cp "$kdl" reader/kdl
letters=(A B C D E F G H)
{
  echo "[Drives]"
  for t in 0 1 2 3 4 5 6 7; do echo "${letters[t]}=$work/floppies/type$t.img"; done
} >reader/KDLW.INI
rm -f seed.KDZ
reader/kdl add seed.KDZ A: B: C: D: E: F: G: H: >/dev/null
rm -rf reader
rm -f disk*.KDL
for i in 1 2 3 4 5 6 7 8; do "$kdl" extract seed.KDZ "$i" "disk$i.KDL"; done
ls -l disk*.KDL | awk '{ s += $5 } END { printf "eight compressed images: %d bytes\n", s }'

sources() { # count
  local n=$1 i
  for ((i = 0; i < n; ++i)); do echo "disk$((i % 8 + 1)).KDL"; done
}

echo "== building archives"
rm -f a10.KDZ a1000.KDZ
mapfile -t ten < <(sources 10)
"$kdl" add a10.KDZ "${ten[@]}" >/dev/null
mapfile -t thousand < <(sources 1000)
start=$(date +%s.%N)
"$kdl" add a1000.KDZ "${thousand[@]}" >/dev/null
end=$(date +%s.%N)
printf 'kdl add of 1,000 images: %.2f s, archive %d bytes\n' "$(awk "BEGIN { print $end - $start }")" \
  "$(stat -c %s a1000.KDZ)"
[ "$("$kdl" list a1000.KDZ | wc -l)" = 1000 ] || { echo "bench-archive: the archive does not list 1,000 images" >&2; exit 1; }

# measure NAME COMMAND...: wall seconds and peak resident kilobytes of one run
measure() {
  local name=$1
  shift
  /usr/bin/time -v "$@" >/dev/null 2>time.txt || true
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + p[i]; print s }' time.txt)
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' time.txt)
  printf '%-28s %8.3f s %8d KB peak\n' "$name" "$wall" "$rss"
}

# timed NAME RUNS COMMAND...: fastest and mean wall time over RUNS runs, in milliseconds
timed() {
  local name=$1 runs=$2 i t0 t1 best="" sum=0 ms
  shift 2
  for ((i = 0; i < runs; ++i)); do
    t0=$(date +%s%N)
    "$@" >/dev/null
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000))
    sum=$((sum + ms))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  printf '%-28s fastest %8.1f ms, mean %8.1f ms over %d runs\n' "$name" "$(awk "BEGIN { print $best / 1000 }")" \
    "$(awk "BEGIN { print $sum / $runs / 1000 }")" "$runs"
}

echo "== wall time"
timed "kdl list, 10 images" 20 "$kdl" list a10.KDZ
timed "kdl list, 1,000 images" 20 "$kdl" list a1000.KDZ
timed "kdl test, 10 images" 5 "$kdl" test a10.KDZ
timed "kdl test, 1,000 images" 3 "$kdl" test a1000.KDZ
echo "== peak memory (/usr/bin/time -v)"
measure "kdl list, 10 images" "$kdl" list a10.KDZ
measure "kdl list, 1,000 images" "$kdl" list a1000.KDZ
measure "kdl test, 10 images" "$kdl" test a10.KDZ
measure "kdl test, 1,000 images" "$kdl" test a1000.KDZ
