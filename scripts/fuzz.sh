#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each: first over its committed seeds and the known
# faulty inputs made below (every one must pass), then for SECONDS of fuzzing (default 60).
# Every run counts a crash, a leak, an uncaught exception, memory beyond 2 GiB and an input
# that takes more than 10 seconds as a fault. New inputs found go to build/fuzz/corpus/NAME,
# never into the committed seeds.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# Known faulty inputs too large to commit, written to build/fuzz/generated/NAME/ and replayed
# whole (never cut to the fuzzing length) after the seeds of harness NAME.
generated=build/fuzz/generated
rm -rf "$generated"
mkdir -p "$generated/product_entry"
# A product entry of 100,000 properties: a parse that looks each property up among the ones
# before it takes time growing with the square of their number, far beyond the limit here.
awk 'BEGIN {
  print "spsetup-emu product 1"; print "state\t5"
  for (i = 0; i < 100000; i++) printf "property\tProperty%06d\tvalue %d\n", i, i
}' >"$generated/product_entry/properties_100000.txt"

limits=(-timeout=10 -rss_limit_mb=2048)

# Harness NAME over its seeds, its generated inputs, then fuzzing from both corpora.
run_harness() {
  local name=$1 seeds=$2 harness=build/fuzz/fuzz/fuzz_$1 work=build/fuzz/corpus/$1
  "$harness" -runs=0 "${limits[@]}" -artifact_prefix="$work/" "$seeds" || return 1
  if [[ -d "$generated/$name" ]]; then
    "$harness" "${limits[@]}" "$generated/$name"/* || return 1
  fi
  "$harness" -max_total_time="$seconds" "${limits[@]}" -artifact_prefix="$work/" "$work" "$seeds"
}

failed=0
for seeds in fuzz/corpus/*/; do
  name=$(basename "$seeds")
  work=build/fuzz/corpus/$name
  mkdir -p "$work"
  echo "== fuzz_$name: seeds, then ${seconds}s"
  if ! run_harness "$name" "$seeds" >"$work.log" 2>&1; then
    echo "fuzz_$name FAILED (log: $work.log)"
    tail -n 30 "$work.log"
    failed=1
  fi
done
exit $failed
