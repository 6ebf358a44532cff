#!/usr/bin/env bash
# The README's two commands:
#   scripts/quickstart.sh run    install, build, assemble the bundled example
#   scripts/quickstart.sh test   install, build, run every test
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cmd="${1:-run}"
"$root/scripts/setup.sh"
case "$cmd" in
  run)
    "$root/scripts/build.sh" build
    "$root/scripts/run-example.sh" "$root/build"
    ;;
  test)
    extra=()
    if [ "${CI:-}" = true ]; then extra+=(-DQORB_WERROR=ON); fi
    "$root/scripts/build.sh" build "${extra[@]}"
    ctest --test-dir "$root/build" --output-on-failure -j"$(nproc)"
    # The console programs again under AddressSanitizer and UBSan; tests that
    # crash on purpose carry the label nosan.
    "$root/scripts/build.sh" build-asan -DQORB_SANITIZE=ON -DQORB_BUILD_GUI=OFF "${extra[@]}"
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$root/build-asan" --output-on-failure -j"$(nproc)" -LE nosan
    ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac
