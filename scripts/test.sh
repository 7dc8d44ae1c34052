#!/usr/bin/env bash
# Installs what is missing, builds the test build (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test: the unit and end-to-end tests,
# the formatting check, a short run of every fuzzing harness, the checks of the Windows
# executable, and the end-to-end scenarios played on that executable under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

echo "== formatting"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

echo "== unit and end-to-end tests"
cmake --preset test
cmake --build --preset test -j "$(nproc)"
ctest --preset test -j "$(nproc)"

# ---- fuzzing: every harness of fuzz/ built, its seeds replayed, a few seconds of fuzzing
echo "== fuzzing (a few seconds per harness)"
scripts/fuzz.sh 3
# ---- end of fuzzing

echo "== Windows executable"
.ci/check-windows-exe.sh

echo "== Windows stage: the scenarios under Wine"
scripts/windows-stage.sh
