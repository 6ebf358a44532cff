#!/usr/bin/env bash
# Cross-builds the Windows assemblers qorb12.exe and qorb11.exe with mingw-w64
# (packages: scripts/packages/windows.txt). The programs are linked statically
# and need no DLLs beside them; they land in <build-dir>/asm/.
#
#   bash scripts/build-windows.sh [build-dir] [cmake args]    (default: build-win)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-win}
shift || true
if [ ! -f "$build/CMakeCache.txt" ] || [ $# -gt 0 ]; then
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DQORB_BUILD_GUI=OFF -DQORB_BUILD_TESTS=OFF "$@"
fi
cmake --build "$build" -j2 --target qorb12 qorb11
echo "Windows assemblers: $build/asm/qorb12.exe $build/asm/qorb11.exe"
