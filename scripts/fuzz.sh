#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while, starting from its committed corpus.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
build=${1:?build dir}
seconds=${2:-300}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/findings"
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  name=${name#fuzz_}
  work="$build/findings/$name"
  mkdir -p "$work/corpus"
  echo "== $name ($seconds s)"
  if ! "$target" -max_total_time="$seconds" -artifact_prefix="$work/" -print_final_stats=1 \
      "$work/corpus" "$root/fuzz/corpus/$name" >"$work/log" 2>&1; then
    echo "   FOUND A FAULT: see $work/log"
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$work/log" | sed 's/^/   /' || true
done
exit $status
