#!/usr/bin/env bash
# Cross-builds qorb12.exe and qorb11.exe with mingw-w64 (when needed) and tests
# them under Wine: every assembler case file, then the Windows-only checks and
# the crash hook (tests/windows/windows_test.py).
#
#   bash tests/windows/run.sh [build-win-dir]      (default: build-win)
#
# Without mingw-w64 or Wine it says what is missing and fails, unless
# QORB_WINDOWS_OPTIONAL=1, when it exits 0. A Linux build for the byte
# comparison is taken from QORB_LINUX_BIN, else build-winlinux/asm or build/asm.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-win}
mkdir -p "$build"
build=$(cd "$build" && pwd)
start=$(date +%s)

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || command -v x86_64-w64-mingw32-g++ >/dev/null ||
  missing+=("x86_64-w64-mingw32-g++ (g++-mingw-w64-x86-64-posix)")
command -v x86_64-w64-mingw32-gcc >/dev/null || missing+=("x86_64-w64-mingw32-gcc (gcc-mingw-w64-x86-64-posix)")
command -v wine >/dev/null || missing+=("wine (wine, wine64)")
command -v wineserver >/dev/null || [ -x /usr/lib/wine/wineserver ] || missing+=("wineserver (wine64)")
command -v cmake >/dev/null || missing+=(cmake)
command -v python3 >/dev/null || missing+=(python3)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Windows build not tested: missing ${missing[*]} (scripts/packages/windows.txt lists the packages)"
  if [ "${QORB_WINDOWS_OPTIONAL:-0}" = 1 ]; then exit 0; fi
  exit 1
fi

# The cross build: only the two console programs.
bash "$root/scripts/build-windows.sh" "$build" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }
bin=$build/asm
mkdir -p "$build/tests-windows"
fake=$build/tests-windows/fake_client.exe
if [ ! -f "$fake" ] || [ "$root/tests/windows/fake_client.c" -nt "$fake" ]; then
  x86_64-w64-mingw32-gcc -O2 -Wall -static -o "$fake" "$root/tests/windows/fake_client.c"
fi

# A private Wine prefix in the build directory: no dialogs, no Mono or Gecko
# installers, no debugger on a crash (the system's default handling then just
# ends the process), and one wineserver for the whole run.
export WINEPREFIX=$build/wineprefix
export HOME=${HOME:-$build}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver)
first_start=0
[ -f "$WINEPREFIX/system.reg" ] || first_start=1
mkdir -p "$WINEPREFIX"
"$wineserver_bin" -p 2>/dev/null || true  # may be running already
trap '"$wineserver_bin" -k 2>/dev/null || true' EXIT
# Wine's background services start with the first program and would inherit
# its output pipes (the case runner would then wait for them to close), so a
# first program with no pipes of ours starts them.
if [ $first_start = 1 ]; then
  echo "Creating the Wine prefix $WINEPREFIX"
  wine wineboot --init </dev/null >/dev/null 2>&1 || true
else
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
# The system's default crash handling must end the process at once: no
# dialog, and a debugger that cannot start (Wine falls back to its own
# debugger when none is named, which may outlive the test's wait).
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
  /d 'no-debugger-installed.exe %ld %ld' /f >/dev/null 2>&1

linux_bin=${QORB_LINUX_BIN:-}
if [ -z "$linux_bin" ]; then
  for d in "$root/build-winlinux/asm" "$root/build/asm"; do
    if [ -x "$d/qorb12" ] && [ -x "$d/qorb11" ]; then linux_bin=$d; break; fi
  done
fi

status=0
log=$build/tests-windows/last-run.log
: >"$log"
echo "== assembler cases under Wine"
python3 "$root/tests/asm/run_cases.py" --bin "$bin" --runner wine --exe-suffix .exe --platform windows \
  --system-texts "$root/tests/windows/wine_texts.tsv" \
  "$root"/tests/asm/cases/*.case "$root"/tests/asm_hc12/*.case "$root"/tests/asm_hc11/*.case |
  tee -a "$log" || status=1

echo "== Windows-only checks and the crash hook"
python3 "$root/tests/windows/windows_test.py" --bin "$bin" --fake-client "$fake" \
  ${linux_bin:+--linux-bin "$linux_bin"} | tee -a "$log" || status=1

echo "Windows tests took $(( $(date +%s) - start )) s; programs in $bin"
# One closing count for both runners.
passed=$(sed -n 's/^\([0-9]*\) passed, [0-9]* failed.*/\1/p' "$log" | awk '{s += $1} END {print s + 0}')
failed=$(sed -n 's/^[0-9]* passed, \([0-9]*\) failed.*/\1/p' "$log" | awk '{s += $1} END {print s + 0}')
[ "${failed:-1}" = 0 ] || status=1
echo "windows: ${passed:-0} passed, ${failed:-0} failed"
exit $status
