#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program as a user meets it, on a virtual X display: --help and --version with no display,
# the simulator linked as COM 3 and saved as the chosen port, the splash, "USB Autoguide Adaptor
# detected", the window's class, a held slew button, and File > Exit ending the process with
# status 0; then, under a window manager, the close box and SIGTERM while a slew is held, each
# ending the program with the stop command last on the wire.
# Usage: program_e2e.sh <folder of voruna> <folder of the tools>
set -u
app=$1/voruna
sim=$2/voruna-adaptor-sim
scratch=$(mktemp -d)
wmpid=
trap 'kill $simpid $apppid $wmpid 2>/dev/null; rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config
export XDG_RUNTIME_DIR=$scratch/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"
mkdir -p "$scratch/work"

fail() { echo "FAIL: $*"; echo "--- simulator"; cat "$scratch/sim.log"; echo "--- program"; cat "$scratch/app.log"; exit 1; }
. "$(dirname "$0")/support/window.sh"

# What a terminal asks, answered with no display; an argument it does not know is an error.
env -u DISPLAY "$app" --version | grep -qx 'voruna [0-9.]*' || fail "--version needs a display"
env -u DISPLAY "$app" --help | grep -q '^Usage: voruna' || fail "--help needs a display"
"$app" --no-such-option 2> "$scratch/app.log"
[ $? -eq 2 ] || fail "an unknown argument did not end the program with status 2"

"$sim" --port 3 > "$scratch/sim.log" 2>&1 & simpid=$!
for _ in $(seq 50); do grep -q '^ready' "$scratch/sim.log" && break; sleep 0.1; done
grep -q '^ready' "$scratch/sim.log" || fail "the simulator did not start"

cd "$scratch/work"
printf ' 2 \r\n' > VRdata.nwx
"$app" > "$scratch/app.log" 2>&1 & apppid=$!

window "Voruna" > /dev/null || fail "no start-up message"
box=$(window "Voruna")
sleep 0.3
xdotool windowfocus --sync "$box" key Return
console=$(window "Voruna 1.1") || fail "the console did not show"
grep -q 'probe -> answered' "$scratch/sim.log" || fail "the console did not probe"
# Docks tie the window to its menu entry by the window's class.
class=$(sed -n 's/^StartupWMClass=//p' "$(dirname "$0")/../resources/voruna.desktop")
xprop -id "$console" WM_CLASS | grep -q "\"$class\"\$" || fail "the window's class is not $class"

eval "$(xdotool getwindowgeometry --shell "$console")"
menu=$(( HEIGHT - 292 ))   # the client area below the menu bar is 292 pixels high
xdotool mousemove $(( X + 82 )) $(( Y + menu + 78 )) mousedown 1
sleep 0.4
xdotool mouseup 1
sleep 0.3
grep -q ':Mn# DEC+ start' "$scratch/sim.log" || fail "no start command"
grep -q ':Qn# DEC+ stop after' "$scratch/sim.log" || fail "no stop command"

xdotool mousemove $(( X + 15 )) $(( Y + menu / 2 )) click 1
sleep 0.4
xdotool mousemove $(( X + 40 )) $(( Y + menu + 33 )) click 1
for _ in $(seq 50); do kill -0 $apppid 2>/dev/null || break; sleep 0.1; done
kill -0 $apppid 2>/dev/null && fail "File > Exit did not end the program"
wait $apppid
status=$?
[ $status -eq 0 ] || fail "exit status $status"
[ "$(od -An -tx1 VRdata.nwx | tr -d ' \n')" = "2032200d0a" ] || fail "the settings file changed"

until_true() { # runs "$@" every 0.1 s until it succeeds, for up to 10 s
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
starts() { grep -c ':Mn# DEC+ start' "$scratch/sim.log"; }
started_since() { [ "$(starts)" -gt "$1" ]; }
stop_is_last() { grep -E ':[MQ][nswe]# ' "$scratch/sim.log" | tail -n 1 | grep -q ':Qn# DEC+ stop'; }
app_ended() { ! kill -0 $apppid 2>/dev/null; }
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
modal_gone() { ! xdotool search --onlyvisible --name '^Voruna$' >/dev/null 2>&1; }

client_at() { # the absolute place of window $1's client area: "X Y"
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}'
}
centred() { # the console, caption and frame included, is centred on the 1024x768 screen
  local l r t b x y w h
  read -r l r t b <<< "$(xprop -id "$console" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')"
  [ -n "$b" ] || return 1
  read -r x y <<< "$(client_at "$console")"
  w=$(xwininfo -id "$console" | awk '/Width:/ {print $2}')
  h=$(xwininfo -id "$console" | awk '/Height:/ {print $2}')
  local dx=$(( 2 * (x - l) + w + l + r - 1024 )) dy=$(( 2 * (y - t) + h + t + b - 768 ))
  [ ${dx#-} -le 2 ] && [ ${dy#-} -le 2 ]
}
about_at() { [ "$(client_at "$about")" = "$1" ]; }
about_hidden() { ! xdotool search --onlyvisible --name '^About\.\.\.$' >/dev/null 2>&1; }

# Starts the program on COM 3, answers its detection message and holds the up button.
start_and_hold() {
  "$app" >> "$scratch/app.log" 2>&1 & apppid=$!
  box=$(window "Voruna") || fail "no start-up message"
  xdotool windowactivate --sync "$box" key Return 2>/dev/null || xdotool windowfocus --sync "$box" key Return
  until_true modal_gone || fail "the start-up message stayed"
  console=$(window "Voruna 1.1") || fail "the console did not show"
  xdotool windowactivate --sync "$console"
  # Under a window manager xdotool misplaces a framed window; the server's own figures hold.
  X=$(xwininfo -id "$console" | awk '/Absolute upper-left X/ {print $4}')
  Y=$(xwininfo -id "$console" | awk '/Absolute upper-left Y/ {print $4}')
  HEIGHT=$(xwininfo -id "$console" | awk '/Height:/ {print $2}')
  before=$(starts)
  xdotool mousemove $(( X + 82 )) $(( Y + HEIGHT - 292 + 78 )) mousedown 1
  until_true started_since "$before" || fail "no start command for the held button"
}

openbox --sm-disable > "$scratch/wm.log" 2>&1 & wmpid=$!
until_true wm_running || fail "openbox did not start"

start_and_hold
xdotool key alt+F4
until_true app_ended || fail "the close box did not end the program"
xdotool mouseup 1
wait $apppid
until_true stop_is_last || fail "closed by its close box with a slew held: no stop last"

start_and_hold
kill -TERM $apppid
until_true app_ended || fail "SIGTERM did not end the program"
wait $apppid
status=$?
xdotool mouseup 1
[ $status -eq 0 ] || fail "exit status $status after SIGTERM"
until_true stop_is_last || fail "SIGTERM with a slew held: no stop last"

# Under the window manager: the console is centred frame and all, and the About window, moved
# and closed with its button, comes back where the user left it.
"$app" >> "$scratch/app.log" 2>&1 & apppid=$!
box=$(window "Voruna") || fail "no start-up message"
xdotool windowactivate --sync "$box" key Return 2>/dev/null || xdotool windowfocus --sync "$box" key Return
console=$(window "Voruna 1.1") || fail "the console did not show"
until_true centred || fail "the console is not centred on the screen with its frame"
xdotool windowactivate --sync "$console" key alt+a
about=$(window "About...") || fail "About did not show"
placed=$(client_at "$about")
xdotool windowmove "$about" 600 420
until_true eval '! about_at "$placed"' || fail "the About window could not be moved"
moved=$(client_at "$about")
xdotool windowactivate --sync "$about" key space
until_true about_hidden || fail "Close did not hide the About window"
xdotool windowactivate --sync "$console" key alt+a
about=$(window "About...") || fail "About did not show again"
until_true about_at "$moved" || fail "the About window came back at $(client_at "$about"), not at $moved"
kill -TERM $apppid
until_true app_ended || fail "SIGTERM did not end the program"
wait $apppid
[ "$(od -An -tx1 VRdata.nwx | tr -d ' \n')" = "2032200d0a" ] || fail "the settings file changed"
echo "4 passed, 0 failed"
