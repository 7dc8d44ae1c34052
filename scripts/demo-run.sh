#!/usr/bin/env bash
# The demo, given a build directory: a scratch emulated Windows machine with three Kyro
# products installed, the service pack run on it with its boxes on the terminal, and
# what changed afterwards.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/release}" && pwd)
spsetup="$build/src/spsetup"
emu="$build/tools/installer-emu/installer-emu"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export EMU_INSTALLER_ROOT="$scratch/installer" TMP="$scratch/tmp" EMU_USER_LCID=1033
mkdir -p "$TMP" "$scratch/packages"

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

# The products the sample patch targets, in the order of its target list: one the patch
# applies to (German), one already patched (English), one at a version the patch is not
# for (Japanese).
products=(
  "{6F0C2A51-5B2E-4D7A-9C3E-0A1B2C3D4E51}|Kyro Studio|5.1.8.0|1031"
  "{A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091}|Kyro Viewer|5.2.0.0|1033"
  "{D2B7F6C3-19A8-4E5D-B0C1-7E8F9A0B1C2D}|Kyro Server|5.1.9.0|1041"
)

say "The service pack's package"
"$spsetup" /e "$scratch/package.msp"
msiinfo suminfo "$scratch/package.msp" | sed 's/^/  /'

say "A machine with three Kyro products (installer-emu install)"
for entry in "${products[@]}"; do
  IFS='|' read -r code name version language <<<"$entry"
  dir="$scratch/packages/$language"
  mkdir -p "$dir"
  printf 'Property\tValue\ns72\tl0\nProperty\tProperty\nProductCode\t%s\nProductVersion\t%s\nProductName\t%s\nProductLanguage\t%s\nManufacturer\tNorvane\n' \
    "$code" "$version" "$name" "$language" >"$dir/Property.idt"
  cp "$top/demo/InstallExecuteSequence.idt" "$top/demo/Registry.idt" "$top/demo/Media.idt" "$dir/"
  (cd "$dir" && msibuild product.msi -i Property.idt -i InstallExecuteSequence.idt -i Registry.idt -i Media.idt)
  "$emu" install "$dir/product.msi" >/dev/null
done
"$emu" list | sed 's/^/  /'

studio="${products[0]%%|*}"
# The rows the fix-up rewrites (conditions, registry components) and the rows the patch's
# transforms bring (version, registry value, medium, patch package), read back from the
# cached database with installer-emu rows.
show_rows() {
  echo "  fix-up -- InstallExecuteSequence: action, condition"
  "$emu" rows "$studio" InstallExecuteSequence |
    awk -F'\t' '$1 ~ /^(ResolveSourceDir|(Set)?MergeManufacturerMDBCD(EX)?|(Set)?UncabManufacturerCD|HarvestInstallSelection)$/ { printf "    %-28s %s\n", $1, $2 }'
  echo "  fix-up -- Registry: key, component"
  "$emu" rows "$studio" Registry |
    awk -F'\t' '$1 == "registry461" || $1 == "KYROMiniDump_SendAppArgs" { printf "    %-28s %s\n", $1, $6 }'
  echo "  patch -- Property: ProductVersion"
  "$emu" rows "$studio" Property | awk -F'\t' '$1 == "ProductVersion" { printf "    %-28s %s\n", $1, $2 }'
  echo "  patch -- Registry: key, name, value"
  "$emu" rows "$studio" Registry |
    awk -F'\t' '$1 == "registryServicePack" { printf "    %-28s %s = %s\n", $1, $4, $5 }'
  echo "  patch -- Media: disk, last sequence, prompt"
  "$emu" rows "$studio" Media | awk -F'\t' 'NR > 1 { printf "    %-28s %s  %s\n", $1, $2, $3 }'
  echo "  patch -- PatchPackage: patch, medium"
  "$emu" rows "$studio" PatchPackage 2>/dev/null | awk -F'\t' 'NR > 1 { printf "    %-28s %s\n", $1, $2 }' ||
    true
}
say "Kyro Studio's cached database before (the rows the fix-up and the patch change)"
show_rows

say "spsetup /log (the install; answer its boxes)"
"$spsetup" /log "$scratch/spsetup.log"

say "The products afterwards"
for entry in "${products[@]}"; do
  IFS='|' read -r code name _ language <<<"$entry"
  printf '  %-12s %s  language %s  version %s  patches %s\n' "$name" "$code" "$language" \
    "$("$emu" info "$code" VersionString)" "$("$emu" info "$code" Patches 2>/dev/null || true)"
done

say "Kyro Studio's cached database after: the rows the fix-up rewrote and the patch brought"
show_rows

say "The temporary directory after the run (the package copy is deleted at the end)"
if [[ -z "$(ls -A "$TMP")" ]]; then echo "  (empty)"; else ls -A "$TMP" | sed 's/^/  /'; fi

say "The log of the run (/log), and the installer's own log beside it"
sed 's/^/  /' "$scratch/spsetup.log"
echo "  -- spsetup.log.installer.log"
sed 's/^/  /' "$scratch/spsetup.log.installer.log" 2>/dev/null | head -n 8 || true
