#!/usr/bin/env bash
# Installs what is missing, builds the release build and runs the demo on a scratch
# emulated Windows machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec scripts/demo-run.sh build/release
