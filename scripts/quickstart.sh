#!/usr/bin/env bash
# The README's two commands:
#   scripts/quickstart.sh run    install, build, then start the IDE on the bundled
#                                example (with a display) or assemble it and print
#                                the S-records and listing (without one)
#   scripts/quickstart.sh test   install, build, run every test
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cmd="${1:-run}"

# A display the IDE can open: X11 (checked with xdpyinfo where it is
# installed) or Wayland. QORB_CONSOLE=1 asks for the console run anyway.
has_display() {
  [ "${QORB_CONSOLE:-}" = 1 ] && return 1
  if [ -n "${WAYLAND_DISPLAY:-}" ]; then return 0; fi
  [ -n "${DISPLAY:-}" ] || return 1
  if command -v xdpyinfo >/dev/null 2>&1; then
    xdpyinfo >/dev/null 2>&1
  fi
}
"$root/scripts/setup.sh"
case "$cmd" in
  run)
    "$root/scripts/build.sh" build
    if has_display && [ -x "$root/build/ide/oxbrin" ]; then
      "$root/scripts/run-ide.sh" "$root/build"
    else
      "$root/scripts/run-example.sh" "$root/build"
    fi
    ;;
  test)
    extra=()
    if [ "${CI:-}" = true ]; then extra+=(-DQORB_WERROR=ON); fi
    "$root/scripts/build.sh" build "${extra[@]}"
    ctest --test-dir "$root/build" --output-on-failure -j"$(nproc)"
    # The Windows assemblers, cross-built with mingw-w64 and run under Wine.
    QORB_LINUX_BIN="$root/build/asm" bash "$root/tests/windows/run.sh" "$root/build-win"
    # The Debian package: built, installed, run and removed again (root only;
    # says so and skips elsewhere).
    bash "$root/tests/package/check-deb.sh" "$root/build"
    # The console programs again under AddressSanitizer and UBSan; tests that
    # crash on purpose carry the label nosan.
    "$root/scripts/build.sh" build-asan -DQORB_SANITIZE=ON -DQORB_BUILD_GUI=OFF "${extra[@]}"
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$root/build-asan" --output-on-failure -j"$(nproc)" -LE nosan
    ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac
