#!/usr/bin/env bash
# Installs Breakpad's processor tools (minidump_stackwalk, minidump_dump,
# dump_syms) from the npm package "minidump" into DIR/node_modules, once.
# The package carries prebuilt programs for x86_64 Linux only; elsewhere this
# says so and succeeds, and the tests that need the tools skip.
# Usage: install-breakpad-tools.sh DIR
set -euo pipefail
dir="${1:?usage: $0 DIR}"
bin="$dir/node_modules/minidump/bin/linux-x64"
if [ "$(uname -m)" != x86_64 ]; then
  echo "Breakpad's tools from npm exist for x86_64 only; not installed on $(uname -m)"
  exit 0
fi
if [ -x "$bin/minidump_stackwalk" ] && [ -x "$bin/dump_syms" ]; then exit 0; fi
command -v npm >/dev/null || { echo "npm is missing (scripts/setup.sh installs it)" >&2; exit 1; }
mkdir -p "$dir"
# --ignore-scripts: the package's own install step wants yarn and a compiler;
# the prebuilt programs are all that is used.
timeout 300 npm install --prefix "$dir" --no-save --ignore-scripts --no-audit --no-fund --loglevel=error \
  minidump@0.26.0
test -x "$bin/minidump_stackwalk" && test -x "$bin/dump_syms"
