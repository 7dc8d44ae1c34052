#!/usr/bin/env bash
# Installs the Debian packages that the build, the demo and the tests need
# (scripts/packages.txt), skipping those already present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

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
