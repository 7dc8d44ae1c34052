#!/usr/bin/env bash
# Installs the Debian packages that the build, the demo and the tests need
# (scripts/packages.txt), skipping those already present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Wine runs the 32-bit executable with its i386 packages.
if grep -q ':i386$' "$here/packages.txt" && ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  $sudo dpkg --add-architecture i386
fi

missing=()
while read -r package; do
  [[ -z "$package" || "$package" == \#* ]] && continue
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done <"$here/packages.txt"

if ((${#missing[@]} > 0)); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
