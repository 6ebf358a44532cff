#!/usr/bin/env bash
# Builds the independent reference simulator for the differential tests:
# GDB's 68HC11/68HC12 simulator from Debian's gdb source package. The result
# is cached outside the clone, so every later run on this machine (and every
# build folder) reuses it:
#
#   $QORB_GDBSIM_CACHE (default /var/cache/qorb-gdbsim)/bin/m68hc11-run
#
# Prints the path of the program on its last line. Exit status 0 when the
# program is there, 77 when it cannot be built here (no root to add the
# source line, no network, no compiler): the tests then skip and say why.
# About 10 minutes of CPU on 2 cores, once.
set -uo pipefail

cache="${QORB_GDBSIM_CACHE:-/var/cache/qorb-gdbsim}"
run="$cache/bin/m68hc11-run"
skip() { echo "build-gdbsim: $*" >&2; exit 77; }

works() { [ -x "$run" ] && "$run" --help >/dev/null 2>&1; }
if works; then echo "$run"; exit 0; fi

mkdir -p "$cache" 2>/dev/null || skip "cannot create $cache"
[ -w "$cache" ] || skip "cannot write to $cache"

# Two builds at once (two test runs, or ctest -j) would share the folder:
# the second waits for the first and then finds the program.
exec 9>"$cache/.lock" || skip "cannot lock $cache"
flock 9
if works; then echo "$run"; exit 0; fi

if [ "$(id -u)" -ne 0 ]; then
  if sudo -n true 2>/dev/null; then SUDO="sudo -n"; else
    skip "the gdb source package needs a deb-src line and apt-get update (root)"
  fi
else
  SUDO=
fi

for tool in gcc g++ make xz flock; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done

# A deb-src line for the Debian repository the machine already uses.
# (grep reads everything: with -q it would stop apt-cache with a broken pipe.)
have_src() { apt-cache showsrc gdb 2>/dev/null | grep -c '^Package: gdb' >/dev/null; }
if ! have_src; then
  srcfile=/etc/apt/sources.list.d/qorb-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -n '/^Types:.*\bdeb\b/,/^$/p' /etc/apt/sources.list.d/debian.sources \
      | sed 's/^Types:.*/Types: deb-src/' | $SUDO tee "$srcfile" >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
      | $SUDO tee /etc/apt/sources.list.d/qorb-deb-src.list >/dev/null
  fi
  $SUDO apt-get update -q >/dev/null 2>&1 || skip "apt-get update failed"
  have_src || skip "no source package for gdb in the configured repositories"
fi

work="$cache/work"
rm -rf "$work" && mkdir -p "$work/src" "$work/build" || skip "cannot create $work"
cd "$work/src" || exit 77
echo "build-gdbsim: fetching the gdb source package" >&2
apt-get source --download-only gdb >/dev/null 2>&1 || skip "apt-get source gdb failed"
orig=$(ls gdb_*.orig.tar.* 2>/dev/null | head -1)
[ -n "$orig" ] || skip "no original tarball in the gdb source package"
tar xf "$orig" || skip "cannot unpack $orig"
srcdir=$(find . -maxdepth 1 -type d -name 'gdb-*' | head -1)
[ -n "$srcdir" ] || skip "unpacked gdb source not found"
srcdir="$work/src/${srcdir#./}"

cd "$work/build" || exit 77
echo "build-gdbsim: configuring (log in $work/build/build.log)" >&2
"$srcdir/configure" --target=m68hc11-elf --enable-sim --disable-gdb --disable-gdbserver \
  --disable-readline --disable-libdecnumber --disable-gprofng --disable-werror \
  --disable-nls --without-python --without-guile >build.log 2>&1 \
  || skip "configure failed (see $work/build/build.log)"
echo "build-gdbsim: building the simulator (about 10 minutes on 2 cores)" >&2
make -j"$(nproc)" all-sim MAKEINFO=true >>build.log 2>&1 \
  || skip "make all-sim failed (see $work/build/build.log)"
[ -x sim/m68hc11/run ] || skip "sim/m68hc11/run was not built"
mkdir -p "$cache/bin" && cp sim/m68hc11/run "$run.tmp" && mv "$run.tmp" "$run" \
  || skip "cannot install $run"
# The sources and objects are large; only the program is kept.
cd "$cache" && rm -rf "$work"
works || skip "the built simulator does not run"
echo "$run"
