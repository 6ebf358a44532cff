#!/usr/bin/env bash
# Time per key in a file that is one long line: the IDE (read-only and
# wrapped above 64 K characters) and, for comparison, an editable unwrapped
# text widget with a shorter line.
# Usage: bench/ide/longline.sh [build-dir] [kilobytes] [peer-kilobytes]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
kb="${2:-2048}"
peer="${3:-256}"
cmake --build "$build" --target oxbrin_bench_longline >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bench/ide/oxbrin_bench_longline" "$kb" "$peer" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
