#!/usr/bin/env bash
# Terminal pane under load: a 1 MB burst and a continuous 115200-baud stream
# through a pseudo-terminal, with a bare text widget as the peer run.
# Usage: bench/ide/terminal.sh [build-dir] [seconds]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
seconds="${2:-60}"
cmake --build "$build" --target oxbrin_bench_terminal >/dev/null
exe="$(find "$build" -name oxbrin_bench_terminal -type f -perm -u+x | head -1)"
QT_QPA_PLATFORM=offscreen "$exe" "$seconds" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
