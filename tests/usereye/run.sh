#!/usr/bin/env bash
# A new user's session with the IDE, driven through the real window with
# keyboard events on a private X server: open the bundled example through
# File/Open, break a line, build, jump from the error message back to the
# line, mend it, build again, point the terminal at the simulated board and
# download the result. Every step leaves a screenshot. What the window shows
# (the Output pane's messages, the caret position in the status bar) is read
# through the IDE's accessibility tree, as a screen reader reads it, when the
# AT-SPI tools are installed; files, S-records and the board's memory are
# checked on disk.
#
# Usage: tests/usereye/run.sh [build-dir] [screenshot-dir]
#   build-dir       a build with the GUI (default: build)
#   screenshot-dir  where the step pictures go (default: <build-dir>/usereye)
# Environment: QORB_USEREYE_OPTIONAL=1 turns missing X tools into a skip.
#              QORB_USEREYE_KEEP=1 keeps the scratch folder for inspection.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$root/build}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
shots="${2:-$build/usereye}"
case "$shots" in /*) ;; *) shots="$PWD/$shots" ;; esac

step="setup"
ourdisplay=""  # set once the private X server runs; never the user's display
fail() {
  echo "usereye: FAILED at step '$step': $*" >&2
  # What the screen showed then, for the one who reads the log.
  if [ -n "$ourdisplay" ] && [ -d "$shots" ]; then
    import -display "$DISPLAY" -window root "$shots/failed-$step.png" 2>/dev/null \
      && echo "usereye: screen at the failure: $shots/failed-$step.png" >&2
  fi
  exit 1
}
note() { echo "usereye: [$step] $*"; }

# --- tools -----------------------------------------------------------------
missing=()
for tool in Xvfb xdotool openbox xprop import; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
  if [ "${QORB_USEREYE_OPTIONAL:-0}" = 1 ]; then
    echo "usereye: skipped, missing ${missing[*]} (packages in scripts/packages/usereye.txt)"
    exit 0
  fi
  fail "missing ${missing[*]}; install the packages of scripts/packages/usereye.txt"
fi
command -v srec_cat >/dev/null 2>&1 || fail "srec_cat (package srecord) is needed to read the .s19"
# The accessibility tree needs a session bus of our own: the script runs
# again inside one. Without the tools the screen is read from disk instead.
if [ -z "${QORB_USEREYE_SESSION:-}" ] && command -v dbus-run-session >/dev/null 2>&1 \
  && [ -x /usr/libexec/at-spi-bus-launcher ] && /usr/bin/python3 -c 'import pyatspi' >/dev/null 2>&1; then
  export QORB_USEREYE_SESSION=1
  exec dbus-run-session -- bash "${BASH_SOURCE[0]}" "$@"
fi
atspi=0
[ -n "${QORB_USEREYE_SESSION:-}" ] && atspi=1
for prog in ide/oxbrin asm/qorb12 spawn/zkspawn tests/board/board_monitor; do
  [ -x "$build/$prog" ] || fail "$build/$prog is missing: build first (scripts/build.sh $build)"
done

# --- a private world: display, home, settings, scratch copy ------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/usereye.XXXXXX")"
pids=()
cleanup() {
  local p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    p="${pids[$i]}"
    kill "$p" 2>/dev/null
  done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null
  done
  if [ "${QORB_USEREYE_KEEP:-0}" = 1 ]; then
    echo "usereye: scratch folder kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mkdir -p "$shots" "$work/home/.config" "$work/run" "$work/project" "$work/reference"
chmod 700 "$work/run"
rm -f "$shots"/[0-9][0-9]-*.png
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
export XDG_DATA_HOME="$work/home/.local/share" XDG_CACHE_HOME="$work/home/.cache"
# The programs a user gets installed next to each other are on the path here.
export PATH="$build/asm:$build/spawn:$PATH"
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS SESSION_MANAGER WAYLAND_DISPLAY
if ((atspi)); then
  export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  unset QT_ACCESSIBILITY NO_AT_BRIDGE
else
  export QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=0 NO_AT_BRIDGE=1
  unset DBUS_SESSION_BUS_ADDRESS
fi
cp "$root"/examples/hc12/blink.asm "$root"/examples/hc12/regs.inc "$work/project/"
cp "$root"/examples/hc12/blink.asm "$root"/examples/hc12/regs.inc "$work/reference/"
src="$work/project/blink.asm"
orig="$work/reference/blink.asm"
chmod u+w "$work/project"/*

# wait_for DESCRIPTION SECONDS COMMAND...: polls COMMAND until it succeeds.
wait_for() {
  local what="$1" limit="$2"
  shift 2
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    ide_alive
    ((SECONDS < end)) || fail "timed out after ${limit}s waiting for $what"
    sleep 0.1
  done
}

# Once started, the IDE must stay: a crash ends the run at once, with its
# last words, instead of after a time-out.
oxbrin=""
ide_alive() {
  if [ -n "$oxbrin" ] && ! kill -0 "$oxbrin" 2>/dev/null; then
    fail "oxbrin ended unexpectedly; its output: $(tail -n 5 "$work/oxbrin.log" 2>/dev/null)"
  fi
}

# window NAME-REGEX: waits for the visible window with that title and puts
# its id in $win (not printed: a failure must end this shell, not a subshell).
window() {
  win="$(timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n1)"
  ide_alive
  [ -n "$win" ] || fail "no window titled '$1' appeared within 30s"
}

gone() { ! xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

activate() {
  timeout 20 xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1" >/dev/null 2>&1 \
    || fail "could not give window $1 the focus"
}

keys() { xdotool key --clearmodifiers --delay 60 "$@"; }
typed() { xdotool type --clearmodifiers --delay 25 -- "$1"; }

shot() {
  sleep 0.3  # let the last repaint reach the server
  import -display "$DISPLAY" -window root "$shots/$1.png" 2>/dev/null || fail "screenshot $1 failed"
  note "screenshot $1.png"
}

# The IDE has finished a build when its helper is gone and a listing newer
# than the stamp is there; then the pane has the whole output a moment later.
# seen WHAT: what the IDE shows, read through its accessibility tree
# ("position": the status bar's caret field; "output": the Output pane).
seen() { timeout 20 /usr/bin/python3 "$root/tests/usereye/atspi_read.py" "$oxbrin" "$1" 2>/dev/null; }
output_has() { seen output | grep -qF -- "$1"; }
position_is() { [[ "$(seen position)" == "$1"* ]]; }

build_done() {
  [ "$work/project/blink.lst" -nt "$work/stamp" ] && ! pgrep -P "$oxbrin" zkspawn >/dev/null
}

start_time=$SECONDS

# --- X server and window manager -----------------------------------------------
step="display"
# A window manager gives dialogs their title bars in the pictures and lets
# xdotool hand the focus over the way a user's click would.
exec {dfd}> "$work/display"
Xvfb -displayfd "$dfd" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec {dfd}>&-
wait_for "the X server to start" 30 test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
ourdisplay="$DISPLAY"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for "the window manager" 30 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
if ((atspi)); then
  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
  pids+=($!)
  note "reading the window through AT-SPI"
else
  note "AT-SPI tools missing (scripts/packages/usereye.txt): the screen is checked on disk only"
fi

# --- 0: the IDE comes up ------------------------------------------------------------
step="00-start"
cd "$work/project"
"$build/ide/oxbrin" >"$work/oxbrin.log" 2>&1 &
oxbrin=$!
pids+=($oxbrin)
window '^Oxbrin$'
main="$win"
activate "$main"
shot 00-start

# --- 1: File/Open, path typed into the dialog -----------------------------------
step="01-open"
keys ctrl+o
window '^Open$'
dlg="$win"
activate "$dlg"
shot 01-open-dialog
typed "$src"
keys Return
wait_for "the Open dialog to close" 30 gone '^Open$'
window '^Oxbrin - .*blink\.asm'
main="$win"
activate "$main"
shot 01-opened
caption="$(xdotool getwindowname "$main")"
[ "$(grep -o 'blink\.asm' <<<"$caption" | wc -l)" = 1 ] || fail "the caption names the file more than once: '$caption'" 

# --- 2: an error typed into the editor ----------------------------------------------
step="02-edit"
# The line that starts the program: a bad mnemonic goes right after it.
anchor="$(grep -n '^start' "$orig" | head -n1 | cut -d: -f1)"
[ -n "$anchor" ] || fail "the example has no 'start' line"
bad=$((anchor + 1))
keys ctrl+g
window '^Go To'
gdlg="$win"
activate "$gdlg"
shot 02-goto-dialog
typed "$anchor"
keys Return
wait_for "the Go To dialog to close" 30 gone '^Go To'
keys End Return
typed "        ldxx    #\$1234"
keys ctrl+s
wait_for "the typed line on disk" 30 grep -q 'ldxx' "$src"
got="$(grep -n 'ldxx' "$src" | cut -d: -f1)"
[ "$got" = "$bad" ] || fail "the typed line is line $got of the file, expected line $bad"
shot 02-error-typed

# --- 3: build ---------------------------------------------------------------------------
step="03-build"
# What the assembler says for the broken file, run by hand on a copy: the
# Output pane shows the same lines.
cp "$src" "$work/reference/broken.asm"
(cd "$work/reference" && qorb12 -l -su broken.asm >"$work/broken.out" 2>&1) && fail "the broken source assembled without error"
errline="$(grep -n "broken\.asm($bad)" "$work/broken.out" | head -n1 | cut -d: -f1)"
[ -n "$errline" ] || fail "the assembler reported no message for line $bad: $(cat "$work/broken.out")"
touch "$work/stamp"
sleep 0.05
keys ctrl+F7
wait_for "the build to finish" 60 build_done
sleep 1  # the exit line and the caret on the first message follow the end
shot 03-build-failed
if ((atspi)); then
  # The Output pane says what the assembler said about the broken line.
  message="$(sed -n "${errline}p" "$work/broken.out" | sed 's/^.*broken\.asm([0-9]*): //')"
  wait_for "the Output pane (read through AT-SPI) to show '$message'" 30 output_has "($bad): $message"
  note "Output pane reads: $(seen output | grep -F -- "($bad): " | head -n1)"
fi

# --- 4: from the message back to the line -----------------------------------------------
step="04-go-to-error"
# After a failed build the Output pane has the focus and its caret on the
# first message (line $errline of the tool's output): Enter goes to the
# source line, as a double click would.
keys Return
sleep 0.5
shot 04-at-error
if ((atspi)); then
  # The status bar's caret field, as a screen reader reads it.
  wait_for "the status bar (read through AT-SPI) to show the caret on line $bad (did Enter go to the error?)" \
    30 position_is "Ln $bad, Col "
  note "status bar reads: $(seen position)"
else
  typed "@@MARK@@"
  keys ctrl+s
  wait_for "the marker typed after Enter in the Output pane to reach the source on disk (did Enter go to the error?)" \
    30 grep -q '@@MARK@@' "$src"
  got="$(grep -n '@@MARK@@' "$src" | cut -d: -f1)"
  [ "$got" = "$bad" ] || fail "the caret was on line $got after following the message, expected line $bad"
  shot 04-marked
fi

# --- 5: mend, save, build again -------------------------------------------------------------
step="05-fix"
# The caret is on the bad line: remove it whole.
keys Home shift+End Delete BackSpace
keys ctrl+s
wait_for "the mended file on disk" 30 sh -c "! grep -q ldxx '$src'"
cmp -s "$src" "$orig" || fail "after removing the bad line the file differs from the example: $(diff "$orig" "$src" | head -n5)"
shot 05-fixed
touch "$work/stamp"
sleep 0.05
keys ctrl+F7
wait_for "the second build to finish" 60 build_done
sleep 0.5
shot 05-build-ok
[ -f "$work/project/blink.s19" ] || fail "the build wrote no blink.s19"
(cd "$work/reference" && qorb12 -l -su blink.asm >"$work/fixed.out" 2>&1) || fail "qorb12 refused the example: $(cat "$work/fixed.out")"
cmp -s "$work/project/blink.s19" "$work/reference/blink.s19" \
  || fail "the IDE's blink.s19 differs from what qorb12 writes for the same source"

# --- 6: terminal and download ----------------------------------------------------------------
step="06-board"
"$build/tests/board/board_monitor" --pty-file "$work/board.pty" --image "$work/board.bin" >"$work/board.log" 2>&1 &
pids+=($!)
wait_for "the simulated board's pseudo-terminal" 30 test -s "$work/board.pty"
pty="$(head -n1 "$work/board.pty")"
note "board on $pty"

step="06-options"
activate "$main"
keys alt+t
sleep 0.3
shot 06-terminal-menu
keys o
window '^Options$'
odlg="$win"
activate "$odlg"
shot 06-options-dialog
keys alt+p ctrl+a
typed "$pty"
shot 06-options-port-typed
keys Return
wait_for "the Options dialog to close" 30 gone '^Options$'

step="06-terminal"
activate "$main"
keys ctrl+3
sleep 1
shot 06-terminal-shown
typed "LOAD"
keys Return
sleep 0.3

step="06-download"
keys F8
window '^Download S-Record$'
ddlg="$win"
activate "$ddlg"
shot 06-download-dialog
# Nothing was sent before: the dialog offers the file just built, and Enter
# takes it.
keys Return
wait_for "the download dialog to close (did it offer blink.s19?)" 30 gone '^Download S-Record$'
srec_cat "$work/project/blink.s19" -fill 0xFF 0 0x10000 -o "$work/expected.bin" -binary \
  || fail "srec_cat could not read blink.s19"
wait_for "the board to hold the program" 60 cmp -s "$work/board.bin" "$work/expected.bin"
sleep 0.5
shot 06-downloaded

elapsed=$((SECONDS - start_time))
echo "usereye: PASSED in ${elapsed}s; pictures in $shots"
