#!/usr/bin/env bash
# Assembles the bundled 68HC12 example and shows the S-records and listing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$root"/examples/hc12/* "$work"/
"$build/asm/qorb12" -l -lc -ls "$work/blink.asm"
echo; echo "==== blink.s19 ===="; cat "$work/blink.s19"
echo; echo "==== blink.lst ===="; cat "$work/blink.lst"
