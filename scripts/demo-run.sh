#!/usr/bin/env bash
# The demo itself, given a build directory: extracts the embedded patch package and
# lists its summary information with msitools.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "spsetup /e $scratch/package.msp"
"$build/src/spsetup" /e "$scratch/package.msp"
echo
echo "msiinfo suminfo package.msp"
msiinfo suminfo "$scratch/package.msp"
