#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Voruna in a Wayland session, under a headless weston. With XWayland (WAYLAND_DISPLAY and
# DISPLAY both set, QT_QPA_PLATFORM unset) it must come up on X11 with its splash centred on the
# screen; with Wayland alone it must still start, as a Wayland client. Where the windows are is
# read from weston's own scene graph: what the user would see, whatever the X server is told.
# Usage: wayland_platform.sh <folder of voruna>
set -u
app=$1/voruna
scratch=$(mktemp -d)
export XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
mkdir -m 0700 "$XDG_RUNTIME_DIR"
mkdir -p "$scratch/work" "$XDG_CONFIG_HOME"
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$scratch"' EXIT
passed=0

fail() { echo "FAIL: $*"; for log in "$scratch"/*.log; do echo "--- $log"; tail -n 20 "$log"; done; exit 1; }
scene() { timeout 5 weston-debug scene-graph 2>/dev/null; }
# "x1 y1 x2 y2" of Voruna's top-level window on the screen, once weston shows one.
voruna_box() {
  for _ in $(seq 100); do
    box=$(scene | sed -n "/top-level window 'Voruna'/,/position:/s/.*position: (\([0-9-]*\), \([0-9-]*\)) -> (\([0-9-]*\), \([0-9-]*\)).*/\1 \2 \3 \4/p" | head -n 1)
    [ -n "$box" ] && { echo "$box"; return 0; }
    kill -0 "$apppid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Starts weston on a socket of its own and waits for its desktop shell (windows mapped before
# the shell is up are not placed where they ask); with "xwayland", also sets DISPLAY.
start_weston() {
  local log=$scratch/weston-$1.log
  export WAYLAND_DISPLAY=voruna-$1
  weston --debug --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --width=1024 \
    --height=768 --idle-time=0 ${2:+--xwayland} > "$log" 2>&1 & pids+=($!)
  for _ in $(seq 100); do scene | grep -q 'panel for output' && break; sleep 0.1; done
  scene | grep -q 'panel for output' || fail "weston did not start"
  if [ -n "${2:-}" ]; then
    DISPLAY=$(grep -o 'xserver listening on display :[0-9]*' "$log" | grep -o ':[0-9]*$')
    [ -n "$DISPLAY" ] || fail "weston offered no X server"
    export DISPLAY
  fi
}

# XWayland needs the folder of X sockets; a machine without an X server of its own lacks it.
[ -d /tmp/.X11-unix ] || { mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix; }
cd "$scratch/work"

start_weston x11 xwayland
"$app" > "$scratch/app-x11.log" 2>&1 & apppid=$! pids+=($!)
read -r x1 y1 x2 y2 < <(voruna_box) || fail "Voruna showed no window"
xdotool search --onlyvisible --class voruna > /dev/null 2>&1 || fail "Voruna did not choose X11"
# weston gives every X window a title bar and a border, so allow for them.
dx=$(( (x1 + x2 - 1024) / 2 )) dy=$(( (y1 + y2 - 768) / 2 ))
[ ${dx#-} -le 32 ] && [ ${dy#-} -le 32 ] || fail "splash at ($x1, $y1) -> ($x2, $y2) is not centred on 1024 x 768"
passed=$((passed + 1))
kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; pids=()
unset DISPLAY

start_weston wayland
"$app" > "$scratch/app-wayland.log" 2>&1 & apppid=$! pids+=($!)
voruna_box > /dev/null || fail "Voruna showed no window on Wayland alone"
kill -0 $apppid 2>/dev/null || fail "Voruna ended on Wayland alone"
passed=$((passed + 1))
echo "$passed passed, 0 failed"
