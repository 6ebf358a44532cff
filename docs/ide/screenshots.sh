#!/usr/bin/env bash
# Renders the pictures of the IDE used by the manual and the README into
# docs/manual/images, from the bundled example.
# Usage: docs/ide/screenshots.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
# oxbrin also puts the manual beside the programs, for the help picture.
cmake --build "$build" --target oxbrin oxbrin_screenshots >/dev/null
assembler=()
if cmake --build "$build" --target qorb12 >/dev/null 2>&1 && [ -x "$build/asm/qorb12" ]; then
  assembler=("$build/asm/qorb12")
fi
# The example is copied so the listing the assembler writes stays out of the tree.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$root"/examples/hc12/* "$work"/
QT_QPA_PLATFORM=offscreen "$build/ide/oxbrin_screenshots" "$root/docs/manual/images" \
  "$work/blink.asm" "${assembler[@]}" 2> >(grep -v -e XDG_RUNTIME_DIR -e 'does not support' >&2)
