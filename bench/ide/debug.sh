#!/usr/bin/env bash
# The window while a busy loop runs under the debugger: worst event-loop
# delay over the run, then the time Pause takes to show the stop.
# Usage: bench/ide/debug.sh [build-dir] [seconds]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
seconds="${2:-10}"
cmake --build "$build" --target oxbrin_bench_debug oxbrin qorb12 >/dev/null
exe="$(find "$build" -name oxbrin_bench_debug -type f -perm -u+x | head -1)"
QT_QPA_PLATFORM=offscreen "$exe" "$seconds" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints -e PulseAudio >&2)
