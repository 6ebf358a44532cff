#!/bin/sh
# Fails when a C++ file of the folders below is not as clang-format (with the
# tree's .clang-format) writes it, and shows how it would change.
#
# usage: check_format.sh ROOT [CLANG_FORMAT]
#
# The folders that are formatted so far. The others are added here once they
# have been formatted in one change of their own.
FOLDERS="asm lsp debug tests/debug sim tests/sim bench/sim ide tests/ide bench/ide tests/board tests/contents tests/manual tests/windows tests/asm tests/asm_hc11 tests/asm_hc12 tests/asm_quality tests/format crashhook spawn platform tests/crashhook tests/spawn tests/platform client tests/client tests/upload tests/cab bench/cab"

root=${1:?usage: check_format.sh ROOT [CLANG_FORMAT]}
clang_format=${2:-clang-format}
cd "$root" || exit 2
if ! command -v "$clang_format" >/dev/null 2>&1; then
  echo "check_format: $clang_format not found (install the package clang-format)" >&2
  exit 2
fi
files=$(find $FOLDERS -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
[ -n "$files" ] || { echo "check_format: no files in $FOLDERS" >&2; exit 2; }
bad=0
for f in $files; do
  if ! "$clang_format" --style=file "$f" | cmp -s - "$f"; then
    echo "not formatted: $f"
    "$clang_format" --style=file "$f" | diff -u "$f" - | head -40
    bad=$((bad + 1))
  fi
done
count=$(echo "$files" | wc -l)
if [ "$bad" -ne 0 ]; then
  echo "$bad of $count files are not formatted: run clang-format -i on them"
  exit 1
fi
echo "$count files formatted"
