#!/usr/bin/env bash
# The program as a user meets it, on a virtual X display: the simulator linked as COM 3 and saved
# as the chosen port, the splash, "USB Autoguide Adaptor detected", a held slew button, and
# File > Exit ending the process with status 0.
# Usage: program_e2e.sh <folder of voruna> <folder of the tools>
set -u
app=$1/voruna
sim=$2/voruna-adaptor-sim
scratch=$(mktemp -d)
trap 'kill $simpid $apppid 2>/dev/null; rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config
export XDG_RUNTIME_DIR=$scratch/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"
mkdir -p "$scratch/work"

fail() { echo "FAIL: $*"; echo "--- simulator"; cat "$scratch/sim.log"; echo "--- program"; cat "$scratch/app.log"; exit 1; }
window() { # the id of the visible window named exactly $1, waiting up to 10 s
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

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
echo "1 passed, 0 failed"
