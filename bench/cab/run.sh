#!/usr/bin/env bash
# Report-cabinet benchmark.
#
#   bench/cab/run.sh [DUMP...]
#
# Builds the benchmark (optimised, straight from the sources), then measures
# our LZX cabinets against deflate (zlib level 6, 32 KB blocks as a cabinet's
# MSZIP folder has them) on:
#   - real minidumps written by the report client's dump writer of running
#     programs (normal, data-segment and full-memory dumps; the small full one
#     is about 17 MB and is also timed), plus any DUMP given;
#   - a 20 MB synthetic dump (stacks, tables, UTF-16 paths, code, zero pages);
#   - 20 MB of ELF programs from /usr/bin.
# Then it writes a 50 MB file through WriteCabinet and extracts it with
# cabextract (libmspack), gcab, 7z and bsdtar, comparing bytes.
#
# Exit status 0 when every dump is at most 1.1 times the deflate size, the
# 20 MB inputs take less than 2 s of CPU and the 50 MB cabinet extracts
# identically everywhere.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/cab-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cxx="${CXX:-g++}"
fail=0

echo "== building"
"$cxx" -std=c++20 -O2 -DNDEBUG -I"$root/client/cab" -I"$root/tests/cab" \
  "$root/bench/cab/cab_bench.cpp" "$root"/client/cab/*.cpp -lz -o "$work/cab_bench"

dumps=("$@")
# Real minidumps of live programs, written by the report client's dump writer.
if "$cxx" -std=c++20 -O2 -I"$root/client/core" "$root/bench/cab/make_dump.cpp" "$root"/client/core/*.cpp \
     -o "$work/make_dump" 2>"$work/make_dump.log"; then
  py='import json, email, http.client, xml.dom.minidom, sqlite3, decimal
d = {str(i): [i, str(i) * 3] for i in range(150000)}
print("ready", flush=True)
import time; time.sleep(120)'
  for kind in "normal 0" "data 1" "full 2"; do
    set -- $kind
    if "$work/make_dump" "$work/python-$1.dmp" "$2" python3 -c "$py" 2>>"$work/make_dump.log"; then
      dumps+=("$work/python-$1.dmp")
    fi
  done
  # A small interpreter's full-memory dump: about 17 MB, mostly code pages.
  if "$work/make_dump" "$work/python-small-full.dmp" 2 python3 -c 'print("ready", flush=True)
import time; time.sleep(120)' 2>>"$work/make_dump.log"; then
    dumps+=("$work/python-small-full.dmp")
  fi
  if "$work/make_dump" "$work/shell-full.dmp" 2 sh -c 'echo ready; exec sleep 120' 2>>"$work/make_dump.log"; then
    dumps+=("$work/shell-full.dmp")
  fi
else
  echo "(no real minidumps: the dump writer did not build, see below)"
  cat "$work/make_dump.log"
fi

echo "== dumps: cabinet (lzx-cab) against deflate in 32 KB blocks; ratio = lzx-cab / deflate32k"
if [ "${#dumps[@]}" -gt 0 ]; then
  "$work/cab_bench" "${dumps[@]}" || { echo "FAIL: a dump compresses worse than 1.1 x deflate"; fail=1; }
else
  echo "FAIL: no minidumps to measure"; fail=1
fi

echo "== about 20 MB through WriteCabinet (the client's setting: LZX with E8 translation = lzx+e8 column): time"
"$work/cab_bench" --gen-dump "$work/synthetic-20MB.dmp" 20000000
: > "$work/programs-20MB.bin"
for f in /usr/bin/*; do
  [ -f "$f" ] && [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] && cat "$f" >> "$work/programs-20MB.bin"
  [ "$(stat -c %s "$work/programs-20MB.bin")" -ge 20000000 ] && break
done
truncate -s 20000000 "$work/programs-20MB.bin"
timed=("$work/synthetic-20MB.dmp" "$work/programs-20MB.bin")
[ -f "$work/python-small-full.dmp" ] && timed=("$work/python-small-full.dmp" "${timed[@]}")
for f in "${timed[@]}"; do
  out="$("$work/cab_bench" --cabinet "$work/t.cab" "$f")"
  echo "$(basename "$f"): $out (cabinet $(stat -c %s "$work/t.cab") bytes)"
  cpu="$(sed -n 's/.*, \([0-9.]*\) s cpu$/\1/p' <<<"$out")"
  if awk -v c="$cpu" 'BEGIN { exit !(c >= 2.0) }'; then echo "FAIL: 2 s or more"; fail=1; fi
done
"$work/cab_bench" "$work/programs-20MB.bin" | tail -1 || true

echo "== 50 MB file through WriteCabinet, extracted by five decoders"
big="$work/big.dmp"
cat "$work/synthetic-20MB.dmp" "$work/programs-20MB.bin" > "$big"
head -c 10000001 /dev/urandom >> "$big"
if command -v /usr/bin/time >/dev/null; then
  /usr/bin/time -f "peak memory %M KB" "$work/cab_bench" --cabinet "$work/big.cab" "$big"
else
  "$work/cab_bench" --cabinet "$work/big.cab" "$big"
fi
echo "input $(stat -c %s "$big") bytes, cabinet $(stat -c %s "$work/big.cab") bytes"
check() {
  local name="$1"; shift
  rm -rf "$work/x"; mkdir "$work/x"
  if "$@" >/dev/null 2>&1 && cmp -s "$work/x/big.dmp" "$big"; then echo "$name: identical"
  else echo "FAIL: $name"; fail=1; fi
}
check "cabextract (libmspack)" cabextract -q -d "$work/x" "$work/big.cab"
check "gcab" gcab -x -C "$work/x" "$work/big.cab"
check "7z" 7z x -y -o"$work/x" "$work/big.cab"
check "bsdtar" bsdtar -x -f "$work/big.cab" -C "$work/x"
cabextract -t -q "$work/big.cab" >/dev/null && echo "cabextract -t: checksums OK" || { echo "FAIL: cabextract -t"; fail=1; }

[ "$fail" = 0 ] && echo "== all figures within bounds" || echo "== some figures out of bounds"
exit "$fail"
