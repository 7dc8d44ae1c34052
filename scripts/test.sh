#!/usr/bin/env bash
# Installs what is missing, builds the test build (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test: the unit and end-to-end tests,
# the formatting check, the checks of the Windows executable, and the end-to-end scenarios
# played on that executable under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

echo "== formatting"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

echo "== unit and end-to-end tests"
cmake --preset test
cmake --build --preset test -j "$(nproc)"
ctest --preset test -j "$(nproc)"

echo "== Windows executable"
.ci/check-windows-exe.sh

echo "== Windows stage: the scenarios under Wine"
scripts/windows-stage.sh
