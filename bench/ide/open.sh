#!/usr/bin/env bash
# Open-to-painted time of a 100,000-line source in the IDE, with a bare text
# widget given the same text as the peer run.
# Usage: bench/ide/open.sh [build-dir] [lines] [rounds]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
lines="${2:-100000}"
rounds="${3:-5}"
cmake --build "$build" --target oxbrin_bench_open >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bench/ide/oxbrin_bench_open" "$lines" "$rounds" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
