#!/usr/bin/env bash
# The Windows stage of the test command: plays every end-to-end scenario on spsetup.exe
# under Wine and compares it with the Linux build (tests/scenarios), headless.
#
# Needs the test build (build/test) and the Windows builds (build/windows-*, made by
# .ci/check-windows-exe.sh). Makes a scratch Wine prefix under build/wine, starts Xvfb on a
# display it picks itself, and stops the prefix's wineserver and Xvfb at the end whatever
# happened. Exits non-zero when a scenario fails on either host. Arguments go to the
# scenarios' test program, e.g. --gtest_filter='*Quiet*'.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
stage=$root/build/wine
scenarios=$root/build/test/tests/test_scenarios
# Arguments are handed to the scenarios' test program (--gtest_filter=... to play a few).
gtest_arguments=("$@")

say() { echo "windows-stage: $*"; }
die() {
  echo "windows-stage: FAILED: $*" >&2
  exit 1
}

[[ -x $scenarios ]] || die "$scenarios is missing: build the test preset first"
command -v Xvfb >/dev/null || die "Xvfb is missing (scripts/setup-debian.sh installs it)"
[[ -x /usr/lib/wine/wine64 ]] || die "wine64 is missing (scripts/setup-debian.sh installs it)"

# 1. A scratch prefix, the locales that give Wine each user language of the scenarios, and a
#    display of its own.
rm -rf "$stage"
mkdir -p "$stage/locales"
export WINEPREFIX=$stage/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LOCPATH=$stage/locales
for locale in en_US de_DE fr_FR ja_JP ru_RU zh_CN; do
  localedef -i "$locale" -f UTF-8 "$LOCPATH/$locale.UTF-8" 2>/dev/null ||
    [[ -d $LOCPATH/$locale.UTF-8 ]] || die "localedef cannot make $locale.UTF-8"
done

xvfb_pid=""
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$stage/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 100); do
  read -r -t 0.1 display <&3 && break || true
done
[[ -n $display ]] || die "Xvfb did not start (log: $stage/xvfb.log)"
export DISPLAY=:$display

started=$(date +%s)
# One server for the whole stage, started before any Wine process: a server that a process
# starts exits soon after its last client, and the next process then waits for the prefix's
# services to start again.
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p
LC_ALL=C.UTF-8 /usr/lib/wine/wine64 wineboot -i >"$stage/wineboot.log" 2>&1 ||
  die "wineboot failed (log: $stage/wineboot.log)"
say "prefix ready in $(($(date +%s) - started)) s"

# 2. The scenarios, for each executable this machine can run.
play() {
  local arch=$1 loader=$2
  local build=$root/build/windows-$arch
  [[ -f $build/src/spsetup.exe && -f $build/tests/wine/probe.exe ]] ||
    die "$build holds no spsetup.exe and probe.exe: run .ci/check-windows-exe.sh first"
  say "scenarios on spsetup.exe ($arch) under Wine"
  SPSETUP_WINE=$loader SPSETUP_WINE_EXE=$build/src/spsetup.exe \
    SPSETUP_WINE_PROBE=$build/tests/wine/probe.exe \
    SPSETUP_WINE_PLANTED_MSI=$build/tests/wine/msi.dll \
    LSAN_OPTIONS=suppressions=$root/tests/scenarios/lsan.supp EMU_USER_LCID=1033 \
    "$scenarios" --gtest_brief=1 "${gtest_arguments[@]}" 2>&1 | tee "$stage/scenarios-$arch.log"
  return "${PIPESTATUS[0]}"
}

status=0
play x86_64 /usr/lib/wine/wine64 || status=1
# The product is the 32-bit executable. Wine runs it only where the kernel runs 32-bit
# programs; some kernels are built without that.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  play i686 /usr/lib/wine/wine || status=1
else
  say "i686 not played: this kernel cannot run 32-bit programs (/usr/lib/wine/wine, Wine's" \
    "32-bit loader, does not start), so the x86_64 executable of the same sources was played"
fi
say "stage took $(($(date +%s) - started)) s"
exit "$status"
