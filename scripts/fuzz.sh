#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each: first over its committed seeds (every known
# faulty input must pass), then for SECONDS of fuzzing (default 60). New inputs found go to
# build/fuzz/corpus/NAME, never into the committed seeds.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

failed=0
for seeds in fuzz/corpus/*/; do
  name=$(basename "$seeds")
  harness=build/fuzz/fuzz/fuzz_$name
  work=build/fuzz/corpus/$name
  mkdir -p "$work"
  echo "== fuzz_$name: seeds, then ${seconds}s"
  if ! "$harness" -runs=0 "$seeds" >"$work.log" 2>&1 ||
     ! "$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$work/" "$work" "$seeds" >>"$work.log" 2>&1; then
    echo "fuzz_$name FAILED (log: $work.log)"
    tail -n 30 "$work.log"
    failed=1
  fi
done
exit $failed
