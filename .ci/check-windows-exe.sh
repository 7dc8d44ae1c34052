#!/usr/bin/env bash
# Builds spsetup.exe for Windows with the mingw-w64 cross toolchain (presets windows-i686,
# the product, and windows-x86_64) and checks the built files with tools that are not the
# project's own: the toolchain's objdump, and icoutils' wrestool and icotool.
#
# The host tools that make the icon and the sample package come from the native release
# build, which this script builds first (only those tools). The i686 executable is then
# built a second time in another directory, and must come out the same, byte for byte.
#
# Prints one line per check; exits non-zero when any check fails, naming it.
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C.UTF-8

failures=0
ok() { echo "check-windows-exe: ok: $*"; }
fail() {
  echo "check-windows-exe: FAILED: $*" >&2
  failures=$((failures + 1))
}
die() {
  echo "check-windows-exe: FAILED: $*" >&2
  exit 1
}

# 1. The tools.
for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix i686-w64-mingw32-windres \
  x86_64-w64-mingw32-windres i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump wrestool \
  icotool iconv cmp; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup-debian.sh installs it)"
done

# 2. The host tools, from the native release build.
mkdir -p build
tools_log=build/windows-host-tools.log
if ! { cmake --preset release && cmake --build --preset release --target make-icon make-sample-patch; } \
  >"$tools_log" 2>&1; then
  cat "$tools_log" >&2
  die "the host tools (make-icon, make-sample-patch) of the release build do not build"
fi

# 3. Each Windows build from scratch, warnings made errors; the log must hold no warning
#    either (the linker's included).
build_windows() {
  local preset=$1
  local log=build/$preset.log
  if ! cmake --preset "$preset" --fresh -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >"$log" 2>&1; then
    cat "$log" >&2
    die "$preset: configuring failed"
  fi
  if ! cmake --build --preset "$preset" --clean-first >"$log" 2>&1; then
    cat "$log" >&2
    die "$preset: the build failed (log: $log)"
  fi
  if grep -qi "warning" "$log"; then
    grep -i "warning" "$log" >&2
    fail "$preset: the build printed warnings (log: $log)"
  else
    ok "$preset: built without a warning"
  fi
  # Every C and C++ compile command carries the warnings of the Linux build (the resource
  # compiler's command is the one without them).
  local compiles commands flagged
  compiles=$(grep '"command":' "build/$preset/compile_commands.json" | grep -v -- '-windres ' || true)
  commands=$(grep -c . <<<"$compiles" || true)
  flagged=$(grep -- ' -Wall' <<<"$compiles" | grep -- ' -Wextra' | grep -c -- ' -Wpedantic' || true)
  if ((commands > 0 && commands == flagged)); then
    ok "$preset: all $commands C++ compile commands have -Wall -Wextra -Wpedantic"
  else
    fail "$preset: only $flagged of $commands compile commands have -Wall -Wextra -Wpedantic"
  fi
}

# The resource tree as objdump reads it: one line "type name language" per resource
# (integer ids in decimal, names as text).
resource_tree() {
  local objdump=$1 exe=$2
  "$objdump" -p "$exe" | sed -n '/^The .rsrc Resource Directory section/,$p' |
    while IFS= read -r line; do
      [[ $line =~ ^[0-9a-f]+( +)Entry:\ (.*),\ Value: ]] || continue
      local depth=${#BASH_REMATCH[1]} key=${BASH_REMATCH[2]}
      if [[ $key =~ ^name:\ \[[^]]*\]:\ (.*)$ ]]; then
        key=${BASH_REMATCH[1]}
      elif [[ $key =~ ^ID:\ (0x[0-9a-f]+)$ ]]; then
        key=$((BASH_REMATCH[1]))
      fi
      case $depth in
        3) type=$key ;;
        5) name=$key ;;
        7) echo "$type $name $key" ;;
      esac
    done
}

# The languages (sorted, space-separated) in which the tree holds type and name.
languages_of() {
  local tree=$1 type=$2 name=$3
  awk -v t="$type" -v n="$name" '$1 == t && $2 == n { print $3 }' <<<"$tree" | sort -n | xargs
}

expect_languages() {
  local label=$1 tree=$2 type=$3 name=$4 expected=$5
  local found
  found=$(languages_of "$tree" "$type" "$name")
  if [[ $found == "$expected" ]]; then
    ok "$label: resource $type/$name in language(s) $expected"
  else
    fail "$label: resource $type/$name in language(s) '${found}', expected '$expected'"
  fi
}

check_exe() {
  local label=$1 objdump=$2 format=$3 exe=$4
  [[ -f $exe ]] || die "$label: $exe was not built"
  local headers
  headers=$("$objdump" -p "$exe") || die "$label: objdump cannot read $exe"

  # 4. The file: a PE image of the expected machine, GUI subsystem.
  if grep -q "file format $format" <<<"$headers"; then ok "$label: $format image"; else
    fail "$label: not a $format image"
  fi
  if grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers"; then
    ok "$label: GUI subsystem (2)"
  else
    fail "$label: subsystem is not 2 (Windows GUI): $(grep '^Subsystem' <<<"$headers")"
  fi

  # 5. Load-time imports: Windows' own libraries only, and never msi.dll, which is loaded
  #    at run time from the system directory.
  local dlls unexpected
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '[:upper:]' '[:lower:]' | sort -u)
  unexpected=$(grep -vxE 'kernel32\.dll|user32\.dll|shell32\.dll|advapi32\.dll|msvcrt\.dll' \
    <<<"$dlls" || true)
  if [[ -z $dlls ]]; then
    fail "$label: objdump lists no imported DLL"
  elif [[ -n $unexpected ]]; then
    fail "$label: imports DLLs that are not Windows' own: $(xargs <<<"$unexpected")"
  else
    ok "$label: imports only $(xargs <<<"$dlls")"
  fi
  if grep -qx 'msi\.dll' <<<"$dlls" || grep -qi 'msi\.dll' <<<"$(sed -n \
    '/Delay Import/,/^$/p' <<<"$headers")"; then
    fail "$label: msi.dll is a load-time import"
  else
    ok "$label: msi.dll is not a load-time import"
  fi
  local function
  for function in LoadLibraryExW GetProcAddress; do
    if grep -Eq "[[:space:]]$function\$" <<<"$headers"; then ok "$label: imports $function"; else
      fail "$label: does not import $function, which loads msi.dll"
    fi
  done
  if grep -qa 'SetDefaultDllDirectories' "$exe"; then
    ok "$label: looks up SetDefaultDllDirectories"
  else
    fail "$label: never names SetDefaultDllDirectories"
  fi

  # 6. The resources.
  local tree
  tree=$(resource_tree "$objdump" "$exe")
  [[ -n $tree ]] || fail "$label: objdump finds no resource"
  expect_languages "$label" "$tree" MSP IDR_MSP 1046
  expect_languages "$label" "$tree" TXT 206 1046
  local all="1028 1029 1031 1033 1034 1036 1038 1040 1041 1042 1045 1046 1049 2052"
  expect_languages "$label" "$tree" 6 19 "$all"
  expect_languages "$label" "$tree" 6 20 "$all"
  expect_languages "$label" "$tree" 6 44 1033
  expect_languages "$label" "$tree" 6 57 1033
  local blocks
  blocks=$(awk '$1 == 6 { print $2 }' <<<"$tree" | sort -nu | xargs)
  if [[ $blocks == "19 20 44 57" ]]; then ok "$label: string blocks 19 20 44 57 and no other"; else
    fail "$label: string blocks are '$blocks', expected '19 20 44 57'"
  fi
  expect_languages "$label" "$tree" 24 1 1033
  expect_languages "$label" "$tree" 14 IDR_MAINFRAME 1033
  if awk '$1 == 16' <<<"$tree" | grep -q .; then
    fail "$label: carries a version-information resource"
  else
    ok "$label: no version-information resource"
  fi

  # 7. Their contents, extracted with wrestool (a failed extraction fails its check).
  local scratch
  scratch=$(mktemp -d)
  wrestool -x --raw --type=MSP --name=IDR_MSP --language=1046 "$exe" >"$scratch/package" || true
  if [[ $(head -c 8 "$scratch/package" | od -An -tx1 | tr -d ' \n') == d0cf11e0a1b11ae1 ]]; then
    ok "$label: IDR_MSP is a compound file ($(stat -c %s "$scratch/package") bytes)"
  else
    fail "$label: IDR_MSP is not a Windows Installer (compound) file"
  fi
  wrestool -x --raw --type=TXT --name=206 --language=1046 "$exe" >"$scratch/notes" || true
  if cmp -s "$scratch/notes" resources/notes206.txt; then
    ok "$label: TXT 206 equals resources/notes206.txt byte for byte"
  else
    fail "$label: TXT 206 differs from resources/notes206.txt"
  fi
  wrestool -x --raw --type=24 --name=1 "$exe" >"$scratch/manifest" || true
  if grep -q 'requestedExecutionLevel level="highestAvailable"' "$scratch/manifest"; then
    ok "$label: manifest requests level highestAvailable"
  else
    fail "$label: RT_MANIFEST 1 does not request level \"highestAvailable\""
  fi
  wrestool -x --type=14 --name=IDR_MAINFRAME "$exe" >"$scratch/icon.ico" || true
  local images expected_images
  images=$(icotool -l "$scratch/icon.ico" 2>/dev/null |
    sed -E 's/.*--width=([0-9]+) --height=([0-9]+) --bit-depth=([0-9]+).*/\1x\2@\3/' |
    sort | xargs || true)
  expected_images=$(for size in 16 32 48; do for depth in 24 4 8; do
    echo "${size}x${size}@$depth"
  done; done | sort | xargs)
  if [[ $images == "$expected_images" ]]; then
    ok "$label: icon group IDR_MAINFRAME has nine images (48, 32, 16 at 4, 8, 24 bits)"
  else
    fail "$label: icon group IDR_MAINFRAME holds '$images', expected '$expected_images'"
  fi
  # Strings 700 and 900, and UTF-8 texts compiled as UTF-8 (not read as a code page).
  local block text id expected
  for id in 700 900; do
    block=$((id / 16 + 1))
    text=$(wrestool -x --raw --type=6 --name=$block --language=1033 "$exe" |
      iconv -f UTF-16LE -t UTF-8 | tr -d '\0-\037' || true)
    [[ $id == 700 ]] && expected=5.2.0.0 || expected=5.0.60.2,5.1.8.0,
    if [[ $text == *"$expected"* ]]; then ok "$label: string $id reads $expected"; else
      fail "$label: string $id (block $block, 1033) does not read \"$expected\""
    fi
  done
  # Tested on the UTF-8 bytes, whatever the locale: Cyrillic letters lead with D0 or D1,
  # kana with E3 81 to E3 83; the script's UTF-8 read as a single-byte code page would give
  # Latin-1 letters (leads C2 and C3) and neither sequence.
  wrestool -x --raw --type=6 --name=20 --language=1049 "$exe" | iconv -f UTF-16LE -t UTF-8 |
    tr -d '\000' >"$scratch/russian" || true
  wrestool -x --raw --type=6 --name=20 --language=1041 "$exe" | iconv -f UTF-16LE -t UTF-8 |
    tr -d '\000' >"$scratch/japanese" || true
  if LC_ALL=C grep -q $'\xd0[\x90-\xbf]' "$scratch/russian" &&
    LC_ALL=C grep -q $'\xe3[\x81-\x83]' "$scratch/japanese"; then
    ok "$label: the Russian and Japanese tables decode as Cyrillic and kana"
  else
    fail "$label: the UTF-8 texts were not compiled as UTF-8 (#pragma code_page(65001))"
  fi
  rm -rf "$scratch"
}

build_windows windows-i686
check_exe windows-i686 i686-w64-mingw32-objdump pei-i386 build/windows-i686/src/spsetup.exe
build_windows windows-x86_64
check_exe windows-x86_64 x86_64-w64-mingw32-objdump pei-x86-64 build/windows-x86_64/src/spsetup.exe

# 8. The build is reproducible: the i686 executable built again from scratch in another
#    directory (with the same host tools) is the same file, byte for byte.
rebuild_root=$(mktemp -d)
rebuild=$rebuild_root/windows-i686-again
rebuild_log=build/windows-i686-again.log
if ! { cmake --preset windows-i686 -B "$rebuild" --fresh -DCMAKE_COMPILE_WARNING_AS_ERROR=ON &&
  cmake --build "$rebuild"; } >"$rebuild_log" 2>&1; then
  cat "$rebuild_log" >&2
  rm -rf "$rebuild_root"
  die "windows-i686: the second build in $rebuild failed"
fi
first=build/windows-i686/src/spsetup.exe
second=$rebuild/src/spsetup.exe
if cmp -s "$first" "$second"; then
  ok "windows-i686: a second build in another directory is the same file ($(sha256sum <"$first" | cut -d' ' -f1))"
else
  # cmp -l: one line per differing byte, its offset (from 1) and the two values in octal.
  differing=$(cmp -l "$first" "$second" 2>&1 || true)
  fail "windows-i686: a second build in another directory differs from the first in $(grep -c . <<<"$differing") place(s); offset (from 1), octal values:
$(head -n 40 <<<"$differing")"
fi
rm -rf "$rebuild_root"

if ((failures > 0)); then
  echo "check-windows-exe: $failures check(s) FAILED" >&2
  exit 1
fi
echo "check-windows-exe: all checks passed"
