#!/usr/bin/env bash
# Time per typed key, press to painted, in a 100,000-line source in the IDE,
# with a bare text widget given the same text as the peer run.
# Usage: bench/ide/typing.sh [build-dir] [lines] [keys]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
lines="${2:-100000}"
keys="${3:-400}"
cmake --build "$build" --target oxbrin_bench_typing >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bench/ide/oxbrin_bench_typing" "$lines" "$keys" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
