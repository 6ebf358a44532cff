#!/usr/bin/env bash
# Starts the IDE on the bundled example. The example is copied once into
# <build>/example and opened from there, so the sources in the repository stay
# as shipped and the user's own edits survive the next start.
# Usage: scripts/run-ide.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
example="$build/example"
mkdir -p "$example"
for f in "$root"/examples/hc12/*; do
  [ -e "$example/$(basename "$f")" ] || cp "$f" "$example/"
done
echo "Starting oxbrin on $example/blink.asm"
echo "  Build > Build Current (Ctrl+F7) assembles it; Terminal > Options sets the board's serial port."
cd "$example"
exec "$build/ide/oxbrin" "$example/blink.asm"
