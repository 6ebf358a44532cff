#!/usr/bin/env bash
# cmake --install into a temporary prefix (with a blank in its name), then:
# the file list, the installed programs run from there (assembler output as
# the build tree's, the IDE starts, the crash hook finds the client that the
# install registered inside the tree), and removal by install_manifest.txt.
# No root needed; nothing outside the temporary folder is touched, except
# that the build's install_manifest.txt is kept and put back.
# Usage: check-install.sh <build-dir> <source-dir>
set -uo pipefail
build="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"

work="$(mktemp -d)"
manifest="$build/install_manifest.txt"
saved_manifest=""
if [ -f "$manifest" ]; then
  saved_manifest="$work/manifest.saved"
  cp "$manifest" "$saved_manifest"
fi
component_manifest="$build/install_manifest_registration.txt"
[ -e "$component_manifest" ] && cp "$component_manifest" "$work/component.saved"
cleanup() {
  if [ -n "$saved_manifest" ]; then cp "$saved_manifest" "$manifest"; else rm -f "$manifest"; fi
  if [ -f "$work/component.saved" ]; then cp "$work/component.saved" "$component_manifest"; else rm -f "$component_manifest"; fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

prefix="$work/tools root/usr"
# Nothing of this machine's own settings may answer for the installation.
export XDG_CONFIG_DIRS="$work/no-system-settings"
export XDG_CONFIG_HOME="$work/home/.config"
export HOME="$work/home"
mkdir -p "$XDG_CONFIG_HOME"

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

# --- the file list -----------------------------------------------------------
expected=(
  bin/qorb12 bin/qorb11 bin/qorbsim bin/qorbls bin/oxbrin bin/ulmarro bin/zkspawn
  share/man/man1/qorb12.1 share/man/man1/qorb11.1 share/man/man1/qorbsim.1 share/man/man1/qorbls.1
  share/oxbrin/help/index.html
  share/applications/oxbrin.desktop
  share/mime/packages/oxbrin-asm.xml
  share/icons/hicolor/scalable/apps/oxbrin.svg
  etc/xdg/KORVELL/Ulmarro.conf
  share/qorbsim/mini11/minibug11m8e.s19 share/qorbsim/mini11/minibug11m8e.asm share/qorbsim/mini11/LICENSE
)
for px in 16 24 32 48 64; do expected+=("share/icons/hicolor/${px}x${px}/apps/oxbrin.png"); done
for f in "${expected[@]}"; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
for f in bin/qorb12 bin/qorb11 bin/qorbsim bin/qorbls bin/oxbrin bin/ulmarro bin/zkspawn; do
  [ -x "$prefix/$f" ] || fail "not executable: $f"
done
# Only the programs go to bin, and nothing lands beside the known folders
# (test programs, static libraries, headers).
extra="$(cd "$prefix" && find . -type f | sed 's|^\./||' |
  grep -v -E '^(bin/(qorb12|qorb11|qorbsim|qorbls|oxbrin|ulmarro|zkspawn)|share/man/man1/[^/]+\.1|share/oxbrin/help/.+|share/applications/oxbrin\.desktop|share/mime/packages/oxbrin-asm\.xml|share/icons/hicolor/[^/]+/apps/oxbrin\.(png|svg)|etc/xdg/KORVELL/Ulmarro\.conf|share/qorbsim/mini11/(minibug11m8e\.(s19|asm)|LICENSE))$')"
[ -z "$extra" ] || fail "unexpected files installed:"$'\n'"$extra"
# Every icon is a PNG of its size.
for px in 16 24 32 48 64; do
  png="$prefix/share/icons/hicolor/${px}x${px}/apps/oxbrin.png"
  [ -f "$png" ] || continue
  size="$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')"
  [ "$size" = "${px}x${px}" ] || fail "icon ${px}x${px} is $size"
done
# The installed programs need nothing from the build tree.
for f in bin/qorb12 bin/qorb11 bin/qorbsim bin/qorbls bin/oxbrin bin/ulmarro bin/zkspawn; do
  if readelf -d "$prefix/$f" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -q "$build"; then
    fail "$f still looks for libraries in the build tree"
  fi
done
grep -q '^MimeType=text/x-asm;' "$prefix/share/applications/oxbrin.desktop" || fail "desktop entry names no source type"
grep -q '<glob pattern="\*\.asm"/>' "$prefix/share/mime/packages/oxbrin-asm.xml" || fail "file type without *.asm"
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$prefix/share/applications/oxbrin.desktop" >"$work/validate.out" 2>&1 ||
    fail "desktop entry does not validate: $(cat "$work/validate.out")"
fi

# --- the registration --------------------------------------------------------
conf="$prefix/etc/xdg/KORVELL/Ulmarro.conf"
grep -qxF "Default=\"$prefix/bin/ulmarro\"" "$conf" || fail "registration does not name $prefix/bin/ulmarro: $(cat "$conf")"
grep -qxF "$conf" "$manifest" || fail "the registration is not in install_manifest.txt"
# A second install keeps values an administrator added to the file.
printf '[Applications/%%7BX%%7D]\nProductName=Kept\n' >>"$conf"
cmake --install "$build" --prefix "$prefix" --component registration >"$work/reinstall.log" 2>&1 ||
  fail "reinstalling the registration: $(cat "$work/reinstall.log")"
[ "$(grep -c '^Default=' "$conf")" = 1 ] || fail "registration written twice: $(cat "$conf")"
grep -qx 'ProductName=Kept' "$conf" || fail "reinstalling lost other settings: $(cat "$conf")"
cmake --install "$build" --prefix "$prefix" >/dev/null 2>&1  # the full manifest again

# --- the installed programs --------------------------------------------------
mkdir -p "$work/inst" "$work/tree"
cp "$src"/examples/hc12/blink.asm "$src"/examples/hc12/*.inc "$work/inst/"
cp "$src"/examples/hc12/blink.asm "$src"/examples/hc12/*.inc "$work/tree/"
(cd "$work/inst" && "$prefix/bin/qorb12" blink.asm >"$work/inst.out" 2>&1) || fail "installed qorb12: $(cat "$work/inst.out")"
(cd "$work/tree" && "$build/asm/qorb12" blink.asm >/dev/null 2>&1)
if [ -f "$work/tree/blink.s19" ]; then
  cmp -s "$work/inst/blink.s19" "$work/tree/blink.s19" || fail "installed qorb12 writes other S-records than the build tree's"
else
  fail "the build tree's qorb12 wrote no blink.s19"
fi
"$prefix/bin/qorb11" >"$work/q11.out" 2>&1
grep -q . "$work/q11.out" || fail "installed qorb11 prints nothing"
# The installed monitor runs on the virtual board: its first instructions
# move the registers to $F000 (INIT) and set the SCI's baud rate and modes.
"$prefix/bin/qorbsim" -m68hc11 --board mini11 --max-cycles 20000 --dump 0xF02B:3 \
  "$prefix/share/qorbsim/mini11/minibug11m8e.s19" >"$work/mini11.out" 2>&1
[ "$(cat "$work/mini11.out")" = "F02B: 00 00 0C" ] || fail "the installed monitor on qorbsim: $(cat "$work/mini11.out")"

# The IDE looks for zkspawn and the assemblers beside itself and for the
# manual at <bin>/../share/oxbrin/help.
[ -f "$prefix/bin/../share/oxbrin/help/index.html" ] || fail "Help Topics' page is not where oxbrin looks"
# It starts and stays up until it is ended (a start-up failure ends it at once).
QT_QPA_PLATFORM=offscreen timeout -s TERM 4 "$prefix/bin/oxbrin" >"$work/oxbrin.out" 2>&1
status=$?
[ "$status" = 124 ] || fail "installed oxbrin ended by itself with status $status: $(cat "$work/oxbrin.out")"

# The crash hook of the installed assembler starts the installed client,
# registered only inside the tree: the assembler then ends with 2. Without the
# registration the crash takes its default course.
(cd "$work" && ULMARRO_UNATTENDED=decline "$prefix/bin/qorb12" -CrashMe >"$work/crash.out" 2>&1)
status=$?
[ "$status" = 2 ] || fail "qorb12 -CrashMe ended with $status, not 2: $(cat "$work/crash.out")"
mv "$conf" "$work/conf.away"
(cd "$work" && ULMARRO_UNATTENDED=decline "$prefix/bin/qorb12" -CrashMe >/dev/null 2>&1)
status=$?
[ "$status" != 2 ] || fail "qorb12 -CrashMe ended with 2 although no client is registered"
# A registration in a later directory of the system search path counts too
# (desktop sessions put directories of their own before /etc/xdg).
mkdir -p "$work/session" "$work/system/KORVELL"
printf '[General]\nDefault=%s\n' "$prefix/bin/ulmarro" >"$work/system/KORVELL/Ulmarro.conf"
(cd "$work" && XDG_CONFIG_DIRS="$work/session:$work/system" ULMARRO_UNATTENDED=decline \
  "$prefix/bin/qorb12" -CrashMe >"$work/crash2.out" 2>&1)
status=$?
[ "$status" = 2 ] || fail "a registration in the second system directory is not found ($status): $(cat "$work/crash2.out")"
mv "$work/conf.away" "$conf"

# --- removal by the manifest -------------------------------------------------
xargs -d '\n' rm -f <"$manifest"
left="$(find "$prefix" -type f)"
[ -z "$left" ] || fail "left after removal by install_manifest.txt:"$'\n'"$left"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install checks passed"
