#!/usr/bin/env bash
# Runs every benchmark: the Google Benchmark programs of bench/ and the whole-program comparisons
# (scripts/bench-*.sh), each against its reference measured in the same run.
# Usage: scripts/bench.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
for b in "$build"/bench/*_bench; do
  [ -x "$b" ] || continue
  printf '\n== %s\n' "$(basename "$b")"
  "$b" --benchmark_min_time=0.5
done
for s in "$root"/scripts/bench-*.sh; do
  [ -f "$s" ] || continue
  printf '\n== %s\n' "$(basename "$s")"
  bash "$s" "$build"
done
