#!/usr/bin/env bash
# Adding many images to an archive, and listing a very large one.
#
#   bash scripts/bench-add.sh BUILD [COUNT]
#
# 1. `kdl add` of COUNT (default 200) raw 1.44 MB disks, full of real files (four different disks, each given
#    COUNT/4 times): added as raw images (copied as they are, behind a header made for them) and read as
#    disks through drive letters (compressed, free clusters left out), each with -j 1 and with every core.
#    Reported in images per second; the archives of -j 1 and of every core must be byte-identical.
# 2. `kdl list` of an archive of 9,999 images (the most an archive takes) against one of 10: wall time and
#    peak memory.
# Goals: list of 10,000 images under a second, with the same peak memory as for 10.
set -euo pipefail

build=$(cd "${1:?usage: bench-add.sh BUILD [COUNT]}" && pwd)
count=${2:-200}
kdl=${KDL:-$build/src/kdl/kdl}
[ -x "$kdl" ] || { echo "bench-add: $kdl not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench-add: /usr/bin/time missing (Debian package 'time')" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
cd "$work"

# Four 1.44 MB disks filled with real files, each from a different slice of the documentation and programs.
mapfile -t files < <( (find /usr/share/doc -type f -size -48k -size +1k; find /usr/bin -type f -size -64k -size +4k; \
  find /usr/include -type f -name '*.h' -size -48k -size +2k) 2>/dev/null | sort)
for d in 0 1 2 3; do
  mkfs.fat -C -a -F 12 -f 2 -R 1 -h 0 -S 512 -s 1 -r 224 -g 2/18 -M 0xF0 "disk$d.img" 1440 >/dev/null
  n=0
  misses=0
  for ((i = d; i < ${#files[@]} && misses < 8; i += 4)); do
    n=$((n + 1))
    mcopy -i "disk$d.img" "${files[i]}" "::F$(printf %05d "$n").DAT" 2>/dev/null || misses=$((misses + 1))
  done
done

# The same disks as drives A: to D: of a private copy of the program.
mkdir reader
cp "$kdl" reader/kdl
{
  echo "[Drives]"
  names=(A B C D)
  for d in 0 1 2 3; do echo "${names[d]}=$work/disk$d.img"; done
} >reader/KDLW.INI
letters=(A: B: C: D:)

raws=()
drives=()
for ((i = 0; i < count; i++)); do
  raws+=("disk$((i % 4)).img")
  drives+=("${letters[i % 4]}")
done

seconds() { # COMMAND...: wall seconds of one run
  local t0 t1
  t0=$EPOCHREALTIME
  "$@" >/dev/null
  t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}

echo "== kdl add of $count full 1.44 MB disks (cores: $(nproc))"
printf '%-36s %9s %12s %14s\n' "sources" "threads" "seconds" "images/s"
for kind in raw drive; do
  for jobs in 1 all; do
    rm -f "$kind-$jobs.KDZ"
    opt=()
    [ "$jobs" = 1 ] && opt=(-j 1)
    if [ $kind = raw ]; then
      s=$(seconds "$kdl" "${opt[@]}" add "$kind-$jobs.KDZ" "${raws[@]}")
      label="raw images (copied)"
    else
      s=$(seconds reader/kdl "${opt[@]}" add "$kind-$jobs.KDZ" "${drives[@]}")
      label="disks read through drives (packed)"
    fi
    printf '%-36s %9s %12s %14s\n' "$label" "$jobs" "$s" "$(awk -v n="$count" -v s="$s" 'BEGIN { printf "%.1f", n / s }')"
  done
  # Entries read from drives carry the time of reading; everything else must be the same.
  if [ $kind = raw ]; then
    cmp -s "$kind-1.KDZ" "$kind-all.KDZ" && echo "  archives of -j 1 and every core: identical" ||
      echo "  archives of -j 1 and every core: DIFFERENT"
  else
    same=yes
    for ((i = 1; i <= count; i++)); do
      "$kdl" --yes extract "$kind-1.KDZ" "$i" a.KDL >/dev/null 2>&1
      "$kdl" --yes extract "$kind-all.KDZ" "$i" b.KDL >/dev/null 2>&1
      cmp -s a.KDL b.KDL || same=no
    done
    [ $same = yes ] && echo "  images of -j 1 and every core: identical" || echo "  images of -j 1 and every core: DIFFERENT"
  fi
done

echo "== kdl list of a large archive"
mkfs.fat -C -a -F 12 -f 2 -R 1 -h 0 -S 512 -s 1 -r 224 -g 2/18 -M 0xF0 blank.img 1440 >/dev/null
"$kdl" --yes create blank.img small.KDL >/dev/null
small=()
for ((i = 0; i < 9999; i++)); do small+=(small.KDL); done
"$kdl" add a10.KDZ "${small[@]:0:10}" >/dev/null
t0=$EPOCHREALTIME
"$kdl" add a9999.KDZ "${small[@]}" >/dev/null
t1=$EPOCHREALTIME
printf 'archive of 9,999 images built in %.1f s (%d bytes)\n' "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
  "$(stat -c %s a9999.KDZ)"
[ "$("$kdl" list a9999.KDZ | wc -l)" = 9999 ] || { echo "bench-add: the archive does not list 9,999 images" >&2; exit 1; }
for n in 10 9999; do
  best=""
  for r in 1 2 3 4 5; do
    s=$(seconds "$kdl" list "a$n.KDZ")
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$s; fi
  done
  /usr/bin/time -v "$kdl" list "a$n.KDZ" >/dev/null 2>time.txt
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' time.txt)
  printf 'kdl list, %6d images: best %s s of 5, peak %d KB\n' "$n" "$best" "$rss"
done
