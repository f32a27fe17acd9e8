#!/usr/bin/env bash
# Image creation against gzip -9 on the same 1.44 MB disks, measured in the same run.
#
#   bash scripts/bench-create.sh BUILD [RUNS]
#
# Disks: the 1.44 MB fixture disk of tests/fixtures/make_floppies.sh (mostly empty), a disk filled to the brim
# with real files (text from /usr/share/doc, programs from /usr/bin) and one filled with text only (C headers,
# licences). Each disk, read through a raw disk image acting as the drive, is made into a .KDL image with every
# core (the default), with one thread (-j 1) and with free clusters kept, and compressed with `gzip -9 -c`.
# Times are the best of RUNS runs (default 5) of the whole program.
# Goals: on the full disks, time at most half that of gzip -9; size at most that of gzip -9.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD [RUNS]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
runs=${2:-5}
kdl=${KDL:-$build/src/kdl/kdl}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ -x "$kdl" ] || { echo "bench-create: $kdl not built" >&2; exit 1; }
for tool in gzip mkfs.fat mcopy mmd; do
  command -v "$tool" >/dev/null || { echo "bench-create: $tool not found" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

bash "$here/tests/fixtures/make_floppies.sh" "$work/fixtures" >/dev/null
cp "$work/fixtures/type2.img" "$work/mtools.img"

# fill DISK FOLDER FILES...: copies files into a fresh 1.44 MB disk until eight in a row no longer fit.
fill() {
  local disk=$1 folder=$2 n=0 misses=0 src
  shift 2
  mkfs.fat -C -a -F 12 -f 2 -R 1 -h 0 -S 512 -s 1 -r 224 -g 2/18 -M 0xF0 "$disk" 1440 >/dev/null
  mmd -i "$disk" "::$folder"
  for src in "$@"; do
    [ $misses -lt 8 ] || break
    n=$((n + 1))
    mcopy -i "$disk" "$src" "::$folder/F$(printf %05d "$n").DAT" 2>/dev/null || misses=$((misses + 1))
  done
}

# Real files: documentation and programs, interleaved.
mapfile -t docs < <(find /usr/share/doc -type f -size -48k -size +1k 2>/dev/null | sort)
mapfile -t bins < <(find /usr/bin -type f -size -64k -size +4k 2>/dev/null | sort)
mixed=()
for ((i = 0; i < ${#docs[@]} || i < ${#bins[@]}; i++)); do
  [ -n "${docs[i]:-}" ] && mixed+=("${docs[i]}")
  [ -n "${bins[i]:-}" ] && mixed+=("${bins[i]}")
done
fill "$work/real.img" MIX "${mixed[@]}"
# Text only: C headers and licence texts.
mapfile -t texts < <( (find /usr/include -type f -name '*.h' -size -48k -size +2k; \
  find /usr/share/common-licenses -type f) 2>/dev/null | sort)
fill "$work/text.img" TXT "${texts[@]}"

# Best wall-clock time of RUNS runs of a command, in milliseconds.
best_ms() {
  local best="" t0 t1 ms
  for ((r = 0; r < runs; r++)); do
    t0=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    t1=$EPOCHREALTIME
    ms=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) * 1000 }')
    if [ -z "$best" ] || awk -v a="$ms" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$ms; fi
  done
  echo "$best"
}

printf '%-8s %-18s %10s %9s %11s %11s\n' disk method bytes ms size/gzip time/gzip
for disk in real text mtools; do
  img="$work/$disk.img"
  gzip -9 -c "$img" >"$work/$disk.gz"
  gz_size=$(stat -c %s "$work/$disk.gz")
  gz_ms=$(best_ms bash -c "gzip -9 -c '$img' >'$work/$disk.gz'")
  printf '%-8s %-18s %10d %9s %11s %11s\n' "$disk" "gzip -9" "$gz_size" "$gz_ms" 1.000 1.000
  for variant in default j1 keep-unused; do
    opt=()
    case $variant in
      j1) opt=(-j 1) ;;
      keep-unused) opt=(--keep-unused) ;;
    esac
    out="$work/$disk-$variant.kdl"
    rm -f "$out"
    "$kdl" --yes create "$img" "$out" "${opt[@]}" >/dev/null
    size=$(stat -c %s "$out")
    ms=$(best_ms "$kdl" --yes create "$img" "$out" "${opt[@]}")
    printf '%-8s %-18s %10d %9s %11s %11s\n' "$disk" "kdl $variant" "$size" "$ms" \
      "$(awk -v a="$size" -v b="$gz_size" 'BEGIN { printf "%.3f", a / b }')" \
      "$(awk -v a="$ms" -v b="$gz_ms" 'BEGIN { printf "%.3f", a / b }')"
  done
done
for disk in real text; do
  free=$(mdir -i "$work/$disk.img" :: 2>/dev/null | grep 'bytes free' | sed 's/^ *//' || true)
  echo "$disk disk: $free"
done
echo "cores: $(nproc)"
