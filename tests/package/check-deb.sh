#!/usr/bin/env bash
# Builds the Debian package from a build directory, inspects it, installs it
# with dpkg, runs the installed programs, removes it and checks that nothing
# is left behind. Needs root and a machine where the package is not installed
# (CI's throwaway machine); anywhere else it says why and does nothing.
# Whatever happens, the system is put back as it was (trap).
# Usage: tests/package/check-deb.sh <build-dir>
set -uo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$src/build}" && pwd)" || { echo "usage: $0 <build-dir>" >&2; exit 2; }

if [ "$(id -u)" != 0 ]; then
  echo "check-deb: skipped, installing a package needs root"
  exit 0
fi
for tool in cpack dpkg dpkg-deb dpkg-query; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "check-deb: skipped, $tool is missing"
    exit 0
  fi
done
[ -f "$build/CPackConfig.cmake" ] || { echo "check-deb: $build is no configured build directory" >&2; exit 2; }
[ -x "$build/ide/oxbrin" ] || { echo "check-deb: $build has no IDE (built without the GUI?)" >&2; exit 2; }

work="$(mktemp -d)"
conf=/etc/xdg/KORVELL/Ulmarro.conf
pkg=""
we_installed=0
conf_existed=0
[ -e "$conf" ] && { conf_existed=1; cp -p "$conf" "$work/conf.before"; }
korvell_existed=0
[ -d /etc/xdg/KORVELL ] && korvell_existed=1

restore() {
  if [ "$we_installed" = 1 ] && [ -n "$pkg" ]; then
    dpkg -P "$pkg" >/dev/null 2>&1 || dpkg -r "$pkg" >/dev/null 2>&1
  fi
  if [ "$conf_existed" = 1 ]; then
    mkdir -p /etc/xdg/KORVELL
    cp -p "$work/conf.before" "$conf"
  else
    rm -f "$conf"
    [ "$korvell_existed" = 1 ] || rmdir /etc/xdg/KORVELL 2>/dev/null
  fi
  rm -rf "$work"
}
trap restore EXIT
trap 'exit 130' INT TERM

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "== $*"; }

# --- build and inspect ---------------------------------------------------------
step "building the package"
cmake --build "$build" -j2 >"$work/build.log" 2>&1 || { tail -30 "$work/build.log"; echo "FAIL: build"; exit 1; }
(cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb="$(ls "$work"/out/*.deb 2>/dev/null | head -1)"
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "FAIL: cpack made no .deb"; exit 1; }
pkg="$(dpkg-deb -f "$deb" Package)"
version="$(dpkg-deb -f "$deb" Version)"
echo "$(basename "$deb"): $pkg $version"

if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -qv 'not-installed'; then
  echo "check-deb: skipped, $pkg is already installed on this machine ($(dpkg-query -W -f='${Status} ${Version}' "$pkg"))"
  exit 0
fi
dpkg-deb -c "$deb" >"$work/contents"
# Paths of the package's files, as they will land.
awk '$1 !~ /^d/ { sub(/^\.\//, "/", $6); print $6 }' "$work/contents" >"$work/files"
clash=""
while read -r f; do [ -e "$f" ] && clash+="$f"$'\n'; done <"$work/files"
if [ -n "$clash" ]; then
  echo "check-deb: skipped, files of the package are already installed from elsewhere:"
  printf '%s' "$clash"
  exit 0
fi

step "control data"
dpkg-deb -I "$deb" | sed 's/^/  /'
want_version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
[ "$version" = "$want_version" ] || fail "version $version, project says $want_version"
[ "$(dpkg-deb -f "$deb" Section)" = devel ] || fail "section is not devel"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
[ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no description"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libqt6widgets6 libqt6core6 qt6-qpa-plugins; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postinst' || fail "no postinst"
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postrm' || fail "no postrm"

step "contents"
for f in /usr/bin/qorb12 /usr/bin/qorb11 /usr/bin/qorbsim /usr/bin/qorbls /usr/bin/oxbrin /usr/bin/ulmarro \
         /usr/bin/zkspawn /usr/share/man/man1/qorb12.1.gz /usr/share/man/man1/qorb11.1.gz \
         /usr/share/man/man1/qorbsim.1.gz /usr/share/man/man1/qorbls.1.gz \
         /usr/share/oxbrin/help/index.html /usr/share/applications/oxbrin.desktop \
         /usr/share/mime/packages/oxbrin-asm.xml /usr/share/icons/hicolor/48x48/apps/oxbrin.png \
         /usr/share/icons/hicolor/scalable/apps/oxbrin.svg \
         /usr/share/qorbsim/mini11/minibug11m8e.s19 /usr/share/qorbsim/mini11/LICENSE \
         "/usr/share/doc/$pkg/copyright" "/usr/share/doc/$pkg/changelog.gz"; do
  grep -qxF "$f" "$work/files" || fail "package lacks $f"
done
outside="$(grep -v '^/usr/' "$work/files")"
[ -z "$outside" ] || fail "files outside /usr (the registration belongs to postinst):"$'\n'"$outside"
owner="$(awk '{print $2}' "$work/contents" | sort -u | tr '\n' ' ')"
[ "$owner" = "root/root " ] || fail "files not owned by root: $owner"
echo "  $(wc -l <"$work/files") files"

if command -v lintian >/dev/null 2>&1; then
  step "lintian (for information)"
  lintian --tag-display-limit 0 "$deb" 2>&1 | sed 's/^/  /'
fi
if command -v desktop-file-validate >/dev/null 2>&1; then
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/oxbrin.desktop >"$work/oxbrin.desktop"
  desktop-file-validate "$work/oxbrin.desktop" || fail "desktop entry does not validate"
fi

# --- what the system looks like before ----------------------------------------
watched=(/usr/bin /usr/share/applications /usr/share/mime /usr/share/icons/hicolor /usr/share/man/man1
         /usr/share/doc /etc/xdg)
snapshot() { find "${watched[@]}" 2>/dev/null | LC_ALL=C sort; }
snapshot >"$work/before"

# --- install and run -----------------------------------------------------------
cycle_install() {
  we_installed=1
  dpkg -i "$deb" >"$work/dpkg-i.log" 2>&1 || { cat "$work/dpkg-i.log"; fail "dpkg -i"; return 1; }
  [ "$(dpkg-query -W -f='${Status}' "$pkg")" = "install ok installed" ] || { fail "not installed after dpkg -i"; return 1; }
}
cycle_remove() {
  dpkg -r "$pkg" >"$work/dpkg-r.log" 2>&1 || { cat "$work/dpkg-r.log"; fail "dpkg -r"; }
  # dpkg keeps the maintainer scripts until a purge; there must be no
  # configuration files for it to keep.
  if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'config-files'; then
    conffiles="$(dpkg-query -W -f='${Conffiles}' "$pkg" 2>/dev/null)"
    [ -z "$conffiles" ] || fail "dpkg -r left configuration files: $conffiles"
    dpkg -P "$pkg" >"$work/dpkg-p.log" 2>&1 || { cat "$work/dpkg-p.log"; fail "dpkg -P"; }
  fi
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'not-installed' ||
    [ -z "$(dpkg-query -W "$pkg" 2>/dev/null)" ] || fail "dpkg still knows $pkg after removal"
  we_installed=0
}

step "dpkg -i"
if cycle_install; then
  grep -qx 'Default=/usr/bin/ulmarro' "$conf" 2>/dev/null || fail "postinst did not register the client: $(cat "$conf" 2>&1)"
  grep -q 'text/x-asm' /usr/share/mime/globs2 2>/dev/null || fail "the mime database does not know *.asm"

  step "running the installed programs"
  mkdir -p "$work/inst" "$work/tree" "$work/home"
  cp "$src"/examples/hc12/blink.asm "$src"/examples/hc12/*.inc "$work/inst/"
  cp "$src"/examples/hc12/blink.asm "$src"/examples/hc12/*.inc "$work/tree/"
  (cd "$work/inst" && env -i PATH=/usr/bin:/bin qorb12 blink.asm >"$work/q.out" 2>&1) || fail "installed qorb12: $(cat "$work/q.out")"
  (cd "$work/tree" && "$build/asm/qorb12" blink.asm >/dev/null 2>&1)
  if [ -f "$work/inst/blink.s19" ] && [ -f "$work/tree/blink.s19" ]; then
    cmp -s "$work/inst/blink.s19" "$work/tree/blink.s19" && echo "  qorb12: same S-records as the build tree's" ||
      fail "installed qorb12 writes other S-records than the build tree's"
  else
    fail "no blink.s19 from the installed or the build tree's qorb12"
  fi

  # Help Topics looks beside the program, then in ../share/oxbrin/help;
  # the build commands look for zkspawn and the assembler beside it.
  [ -f /usr/bin/../share/oxbrin/help/index.html ] || fail "Help Topics' page is not where oxbrin looks"
  [ -x /usr/bin/zkspawn ] && [ -x /usr/bin/qorb12 ] || fail "the build tools are not beside oxbrin"

  env -i PATH=/usr/bin:/bin HOME="$work/home" QT_QPA_PLATFORM=offscreen \
    timeout -s TERM 5 oxbrin >"$work/oxbrin.out" 2>&1
  status=$?
  [ "$status" = 124 ] && echo "  oxbrin: started and ran until ended" ||
    fail "oxbrin ended by itself with status $status: $(cat "$work/oxbrin.out")"

  (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work/home" ULMARRO_UNATTENDED=decline \
    qorb12 -CrashMe >"$work/crash.out" 2>&1)
  status=$?
  [ "$status" = 2 ] && echo "  qorb12 -CrashMe: the hook ran the registered client, status 2" ||
    fail "qorb12 -CrashMe ended with $status, not 2: $(cat "$work/crash.out")"

  step "dpkg -r"
  cycle_remove
  snapshot >"$work/after"
  if ! cmp -s "$work/before" "$work/after"; then
    fail "the system differs after removal:"$'\n'"$(diff "$work/before" "$work/after")"
  fi
  if [ "$conf_existed" = 1 ]; then
    cmp -s "$conf" "$work/conf.before" || fail "removal changed $conf"
  else
    [ ! -e "$conf" ] || fail "removal left $conf: $(cat "$conf")"
  fi
  grep -q 'text/x-asm' /usr/share/mime/globs2 2>/dev/null && fail "the mime database still knows the package's type"
fi

# Removal takes back only the package's own registration: other settings in
# the file stay, and so does a client registered from somewhere else.
if [ "$failures" -eq 0 ] && [ "$conf_existed" = 0 ]; then
  step "dpkg -i / -r with an administrator's settings file"
  mkdir -p /etc/xdg/KORVELL
  printf '[Applications]\n%%7BX%%7D\\ProductName=Kept\n' >"$conf"
  if cycle_install; then
    grep -qx 'Default=/usr/bin/ulmarro' "$conf" || fail "postinst did not register beside other settings: $(cat "$conf")"
    grep -q 'ProductName=Kept$' "$conf" || fail "postinst lost other settings: $(cat "$conf")"
    cycle_remove
    grep -q '^Default=' "$conf" && fail "postrm left the registration: $(cat "$conf")"
    grep -q 'ProductName=Kept$' "$conf" || fail "postrm lost other settings: $(cat "$conf" 2>&1)"
  fi
  rm -f "$conf"
  if cycle_install; then
    printf '[General]\nDefault=/opt/elsewhere/ulmarro\n' >"$conf"  # ulmarro -RegServer of another copy
    cycle_remove
    grep -qx 'Default=/opt/elsewhere/ulmarro' "$conf" 2>/dev/null || fail "postrm removed a client registered from elsewhere"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "check-deb: $failures check(s) failed"
  exit 1
fi
echo "check-deb: all checks passed"
