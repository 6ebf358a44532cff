#!/usr/bin/env bash
# Builds the VS Code extension package (.vsix) with the npm registry's
# vscode-languageclient and @vscode/vsce, pinned to versions that run on the
# Node.js of Debian 12 and later (vsce 2.x needs Node 16 or newer).
# Usage: editors/vscode/build-vsix.sh [output-dir]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="${1:-$here}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
vsce_version=2.32.0

command -v npm >/dev/null || { echo "build-vsix.sh: npm is needed (scripts/setup.sh installs it)" >&2; exit 1; }
node_major="$(node -p 'process.versions.node.split(".")[0]')"
if [ "$node_major" -lt 16 ]; then
  echo "build-vsix.sh: Node.js 16 or newer is needed, this is $(node --version)" >&2
  exit 1
fi

# The extension is staged outside the source tree: npm writes node_modules
# and a lock file there, and the sources stay as they are.
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp -r "$here/package.json" "$here/extension.js" "$here/language-configuration.json" \
      "$here/syntaxes" "$here/README.md" "$here/LICENSE.txt" "$here/.vscodeignore" "$stage/"
cd "$stage"
npm install --omit=dev --no-audit --no-fund --loglevel=error
npx --yes "@vscode/vsce@$vsce_version" package --out "$out/" 2>&1
ls "$out"/qorb-asm-*.vsix
