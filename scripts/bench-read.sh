#!/usr/bin/env bash
# Reading a full 1.44 MB disk back, measured in the same run (best of RUNS runs of the whole program):
# `kdl copy` of every file of its .KDL image (compressed units) against `mcopy -s` of the raw disk, and
# `kdl raw` of the image against `gzip -dc` of the same disk's .gz; with every core and with -j 1.
#
#   bash scripts/bench-read.sh BUILD [RUNS]
#
# Goals: kdl copy at most 0.8 times mcopy's time; kdl raw at most gzip -dc's.
set -euo pipefail
build=$(cd "${1:?usage: bench-read.sh BUILD [RUNS]}" && pwd)
runs=${2:-5}
kdl=${KDL:-$build/src/kdl/kdl}
[ -x "$kdl" ] || { echo "bench-read: $kdl not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

# A 1.44 MB disk filled with real files (text and programs) until the next one no longer fits.
disk="$work/full.img"
mkfs.fat -C -a -F 12 -f 2 -R 1 -h 0 -S 512 -s 1 -r 224 -g 2/18 -M 0xF0 "$disk" 1440 >/dev/null
mmd -i "$disk" ::DOC ::BIN
mapfile -t files < <( (find /usr/share/doc -type f -size -48k -size +1k; find /usr/bin -type f -size -64k -size +4k) \
  2>/dev/null | sort)
n=0
misses=0
for src in "${files[@]}"; do
  [ $misses -lt 8 ] || break
  n=$((n + 1))
  folder=DOC
  case $src in /usr/bin/*) folder=BIN ;; esac
  mcopy -i "$disk" "$src" "::$folder/F$(printf %05d "$n").DAT" 2>/dev/null || misses=$((misses + 1))
done
"$kdl" --yes create "$disk" "$work/full.KDL" >/dev/null 2>&1

best_ms() {
  local best="" t0 t1 ms
  for ((r = 0; r < runs; r++)); do
    rm -rf "$work/out" && mkdir "$work/out"
    t0=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    t1=$EPOCHREALTIME
    ms=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) * 1000 }')
    if [ -z "$best" ] || awk -v a="$ms" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$ms; fi
  done
  echo "$best"
}

gzip -9 -c "$disk" >"$work/full.img.gz"
mcopy_ms=$(best_ms mcopy -s -m -n -i "$disk" :: "$work/out")
kdl_ms=$(best_ms "$kdl" --yes copy "$work/full.KDL" --to "$work/out" --policy all)
kdl1_ms=$(best_ms "$kdl" -j 1 --yes copy "$work/full.KDL" --to "$work/out" --policy all)
files_copied=$(find "$work/out" -type f | wc -l)
gunzip_ms=$(best_ms bash -c "gzip -dc '$work/full.img.gz' >'$work/out/disk.img'")
raw_ms=$(best_ms "$kdl" --yes raw "$work/full.KDL" "$work/out/disk.img")
raw1_ms=$(best_ms "$kdl" -j 1 --yes raw "$work/full.KDL" "$work/out/disk.img")
printf 'files on the disk: %d, .KDL image: %d bytes, .gz: %d bytes, cores: %d\n' "$files_copied" \
  "$(stat -c %s "$work/full.KDL")" "$(stat -c %s "$work/full.img.gz")" "$(nproc)"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-32s %9s ms\n' "mcopy -s (raw disk)" "$mcopy_ms" "kdl copy (.KDL)" "$kdl_ms" "kdl -j 1 copy (.KDL)" "$kdl1_ms" \
  "gzip -dc (.gz)" "$gunzip_ms" "kdl raw (.KDL)" "$raw_ms" "kdl -j 1 raw (.KDL)" "$raw1_ms"
echo "time kdl copy / mcopy: $(ratio "$kdl_ms" "$mcopy_ms") (-j 1: $(ratio "$kdl1_ms" "$mcopy_ms"))"
echo "time kdl raw / gzip -dc: $(ratio "$raw_ms" "$gunzip_ms") (-j 1: $(ratio "$raw1_ms" "$gunzip_ms"))"
