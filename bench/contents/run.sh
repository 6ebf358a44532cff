#!/usr/bin/env bash
# Contents-view benchmark.
#
#   bench/contents/run.sh [DUMP...]
#
# Builds the benchmark (optimised, straight from the sources), then opens in
# the "Error Report Contents" dialog (offscreen):
#   - small dumps that claim 10^6, 10^8 and 2^32 lines (memory-list entries
#     that all point at one megabyte);
#   - a real full-memory dump of a Python interpreter holding a large
#     dictionary (written by the report client's own dump writer), and any
#     DUMP given.
# Each is measured in a process of its own: the time to build, show and
# paint the dialog, to jump to the end and to the middle, and the memory the
# dump added.
#
# Exit status 0 when every dump opens in under a second and under 100 MB.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/contents-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cxx="${CXX:-g++}"
fail=0

echo "== building"
libexec="$(qtpaths6 --query QT_HOST_LIBEXECS 2>/dev/null || echo /usr/lib/qt6/libexec)"
"$libexec/moc" "$root/client/contents/contents_view.h" -o "$work/moc_contents_view.cpp"
"$libexec/moc" "$root/client/contents/contents_dialog.h" -o "$work/moc_contents_dialog.cpp"
# shellcheck disable=SC2046
"$cxx" -std=c++17 -O2 -DNDEBUG -fPIC -I"$root/client/contents" -I"$root/client" -I"$root/tests/contents" \
  "$root/bench/contents/contents_bench.cpp" \
  "$root"/client/contents/{contents_view,contents_dialog,minidump_view,dump_sections}.cpp \
  "$work"/moc_contents_{view,dialog}.cpp \
  $(pkg-config --cflags --libs Qt6Widgets Qt6Test) -o "$work/contents_bench"

dumps=()
for lines in 1000000 100000000 4294967296; do
  "$work/contents_bench" --make "$lines" "$work/claims-$lines.dmp"
  dumps+=("$work/claims-$lines.dmp")
done
if "$cxx" -std=c++20 -O2 -I"$root/client/core" "$root/bench/cab/make_dump.cpp" "$root"/client/core/*.cpp \
     -o "$work/make_dump" 2>"$work/make_dump.log"; then
  py='d = {str(i): [i, str(i) * 3] for i in range(1500000)}
print("ready", flush=True)
import time; time.sleep(120)'
  if "$work/make_dump" "$work/python-full.dmp" 2 python3 -c "$py" 2>>"$work/make_dump.log"; then
    dumps+=("$work/python-full.dmp")
  fi
else
  echo "(no real dump: the dump writer did not build)"; cat "$work/make_dump.log"
fi
dumps+=("$@")

echo "== opening each dump (goal: under 1 s and under 100 MB)"
for dump in "${dumps[@]}"; do
  out="$("$work/contents_bench" "$dump" 2>/dev/null)"
  echo "$(basename "$dump"): $out"
  open="$(sed -n 's/.* open *\([0-9.]*\) s.*/\1/p' <<<"$out")"
  memory="$(sed -n 's/.*memory +*\([0-9.]*\) MB.*/\1/p' <<<"$out")"
  if awk -v t="$open" -v m="$memory" 'BEGIN { exit !(t >= 1.0 || m >= 100) }'; then
    echo "FAIL: $(basename "$dump") over the goal"; fail=1
  fi
done

[ "$fail" = 0 ] && echo "== all figures within bounds" || echo "== some figures out of bounds"
exit "$fail"
