#!/usr/bin/env bash
# Runs the three fuzz targets, each for SECONDS (default 60), one after the other.
# Usage: fuzz/run.sh [SECONDS] [BUILD_DIR]
# Working corpora grow in fuzz/corpus-work/ (not committed), seeded from fuzz/corpus/.
# CI runs each target for a fixed number of runs with a fixed seed instead: see .ci/run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="${2:-$root/build-fuzz}"
if [ ! -x "$build/fuzz/fuzz_session" ]; then
  CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVAX_FUZZ=ON -DMORVAX_TESTS=OFF >/dev/null
fi
cmake --build "$build" >/dev/null
for target in session load settings; do
  work="$root/fuzz/corpus-work/$target"
  mkdir -p "$work"
  echo "== fuzz_$target for ${seconds}s"
  # A session needs room for its settings, its document and many keys.
  max_len=1024
  [ "$target" = session ] && max_len=4096
  # The session target works in its own temporary folder: every path given must be absolute.
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=$max_len \
    -print_final_stats=1 "$work" "$root/fuzz/corpus/$target" 2>&1 |
    grep -E '^(#[0-9]+ +(INITED|DONE)|Done|stat::number_of_executed_units|==[0-9]+==|SUMMARY|property broken)' || true
  test "${PIPESTATUS[0]}" -eq 0
done
