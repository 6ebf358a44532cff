#!/usr/bin/env bash
# Builds qorb12 and qorb11 as fully static Linux programs (the C++ runtime and
# the C library linked in): they run on any Linux of the same processor, in a
# container image with nothing else in it, or in an empty chroot. Only the two
# assemblers are built, from the same sources as the normal build.
# Usage: scripts/build-static.sh [build-dir]     (default: build-static)
# The programs end up in <build-dir>/bin.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="${1:-build-static}"
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# -s: the programs are for build machines, where a crash report has nothing to
# resolve symbols with; stripped they are a third of the size.
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQORB_BUILD_GUI=OFF -DQORB_BUILD_TESTS=OFF \
  -DCMAKE_EXE_LINKER_FLAGS="-static -s" "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target qorb12 qorb11

mkdir -p "$dir/bin"
for prog in qorb12 qorb11; do
  exe="$dir/asm/$prog"
  # A static program has no interpreter to load it and names no libraries; a
  # build that quietly linked one shared library would fail in the image.
  if readelf -lW "$exe" | grep -q 'INTERP' || readelf -dW "$exe" | grep -q 'NEEDED'; then
    echo "build-static: $exe is not fully static:" >&2
    readelf -dW "$exe" | grep NEEDED >&2 || true
    exit 1
  fi
  cp -p "$exe" "$dir/bin/$prog.tmp"
  mv -f "$dir/bin/$prog.tmp" "$dir/bin/$prog"
done
echo "build-static: $dir/bin/qorb12 and $dir/bin/qorb11"
