#!/usr/bin/env bash
# The pictures of the manual's "Working without a board" page, taken from
# the real IDE talking to the virtual board on a private X server: qorbsim
# runs the mini11 monitor on a pseudo-terminal, Oxbrin's Terminal pane is
# pointed at it through the Options dialog, memory is written and shown,
# a program is downloaded with the monitor's L command and run with J.
# The download is checked in the board's memory (qorbsim's --dump when it
# ends), not read off the screen.
#
# Usage: tests/sim/virtual_board_pictures.sh [build-dir] [picture-dir]
#   build-dir    a build with the GUI (default: build)
#   picture-dir  default: docs/manual/images
# Needs the packages of scripts/packages/usereye.txt.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$root/build}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
shots="${2:-$root/docs/manual/images}"
case "$shots" in /*) ;; *) shots="$PWD/$shots" ;; esac

step="setup"
fail() {
  echo "virtual-board pictures: FAILED at step '$step': $*" >&2
  exit 1
}
for tool in Xvfb xdotool openbox xprop import; do
  command -v "$tool" >/dev/null 2>&1 || fail "missing $tool (packages in scripts/packages/usereye.txt)"
done
monitor="$build/sim/mini11/minibug11m8e.s19"
for f in ide/oxbrin sim/qorbsim asm/qorb11 sim/mini11/minibug11m8e.s19; do
  [ -e "$build/$f" ] || fail "$build/$f is missing: build oxbrin, qorbsim and qorbsim_mini11_monitor first"
done

work="$(mktemp -d "${TMPDIR:-/tmp}/vbpics.XXXXXX")"
pids=()
cleanup() {
  local p i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mkdir -p "$shots" "$work/home/.config" "$work/run" "$work/project"
chmod 700 "$work/run"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
export XDG_DATA_HOME="$work/home/.local/share" XDG_CACHE_HOME="$work/home/.cache"
export QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=0 NO_AT_BRIDGE=1
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS SESSION_MANAGER WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

wait_for() {
  local what="$1" limit="$2"
  shift 2
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < end)) || fail "timed out after ${limit}s waiting for $what"
    sleep 0.1
  done
}
window() {
  win="$(timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n1)"
  [ -n "$win" ] || fail "no window titled '$1' appeared within 30s"
}
gone() { ! xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
activate() {
  timeout 20 xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1" >/dev/null 2>&1 \
    || fail "could not give window $1 the focus"
}
keys() { xdotool key --clearmodifiers --delay 60 "$@"; }
typed() { xdotool type --clearmodifiers --delay 40 -- "$1"; }
shot() {
  sleep 0.5
  import -display "$DISPLAY" -window root "$shots/$1.png" 2>/dev/null || fail "screenshot $1 failed"
  echo "virtual-board pictures: $shots/$1.png"
}

# --- the program to download ----------------------------------------------------
step="assemble"
cat >"$work/project/hello.asm" <<'EOF'
        org     $2000
start   ldy     #msg
next    ldaa    0,y
        beq     done
wait    brclr   $2E,x $80 wait      ; SCSR: wait for TDRE
        staa    $2F,x               ; SCDR
        iny
        bra     next
done    rts
msg     fcc     "Hello from the virtual board"
        fcb     $0D,$0A,0
EOF
(cd "$work/project" && "$build/asm/qorb11" hello.asm >"$work/asm.log" 2>&1) || fail "qorb11: $(cat "$work/asm.log")"

# --- display -----------------------------------------------------------------------
step="display"
exec {dfd}>"$work/display"
Xvfb -displayfd "$dfd" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec {dfd}>&-
wait_for "the X server" 30 test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for "the window manager" 30 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'

# --- the virtual board --------------------------------------------------------------
step="board"
size=$(grep -c '^S1' "$work/project/hello.s19")
# The manual's command: the board boots its monitor by itself.
"$build/sim/qorbsim" -m68hc11 --board mini11 --sci pty --dump 0x2000:64 \
  >"$work/board.out" 2>"$work/board.err" &
board=$!
pids+=($board)
wait_for "the board's serial line" 30 grep -q 'serial line on' "$work/board.err"
pty="$(sed -n 's/^qorbsim: serial line on //p' "$work/board.err")"
echo "virtual-board pictures: board on $pty"

# --- the IDE ---------------------------------------------------------------------------
step="ide"
cd "$work/project"
"$build/ide/oxbrin" hello.asm >"$work/oxbrin.log" 2>&1 &
pids+=($!)
window '^Oxbrin'
main="$win"
activate "$main"

step="options"
keys alt+t
sleep 0.3
keys o
window '^Options$'
activate "$win"
keys alt+p ctrl+a
typed "$pty"
keys alt+b End
sleep 0.3
keys Return
wait_for "the Options dialog to close" 30 gone '^Options$'

step="terminal"
activate "$main"
keys ctrl+3
sleep 1.5
keys Return
sleep 0.5
typed "W0300A5"
sleep 0.3
typed "M0300"
sleep 0.3
typed "A5"
sleep 0.5
shot noboard-prompt

step="download"
typed "L"
sleep 0.3
keys F8
window '^Download S-Record$'
activate "$win"
keys ctrl+a
typed "$work/project/hello.s19"
keys Return
wait_for "the download dialog to close" 30 gone '^Download S-Record$'
sleep 3
shot noboard-download

step="run"
activate "$main"
typed "J2000"
sleep 1.5
shot noboard-run

# --- the board's memory holds the program -------------------------------------------------
step="check"
kill -TERM "$board"
wait_for "the board to end" 30 sh -c "! kill -0 $board"
python3 - "$work/project/hello.s19" "$work/board.out" <<'EOF' || fail "the board's memory does not hold hello.s19"
import sys
want = {}
for line in open(sys.argv[1]):
    if line.startswith("S1"):
        b = bytes.fromhex(line.strip()[2:])
        addr = b[1] << 8 | b[2]
        for i, v in enumerate(b[3:-1]):
            want[addr + i] = v
have = {}
for line in open(sys.argv[2]):
    a, _, rest = line.partition(":")
    for i, v in enumerate(rest.split()):
        have[int(a, 16) + i] = int(v, 16)
bad = [a for a in want if have.get(a) != want[a]]
print("virtual-board pictures: %d program bytes in the board's memory, %d differ" % (len(want), len(bad)))
sys.exit(1 if bad or not want else 0)
EOF
echo "virtual-board pictures: done ($size data records downloaded)"
