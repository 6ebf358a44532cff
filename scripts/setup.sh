#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Every subsystem
# lists its own packages in scripts/packages/*.txt (one name per line, '#'
# starts a comment). apt-get runs only when something is missing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mapfile -t pkgs < <(cat "$here"/packages/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# npm for the tests' Breakpad tools: a Node.js that is not Debian's brings its
# own npm and conflicts with Debian's package, so ask for it only when missing.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
