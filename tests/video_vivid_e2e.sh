#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program as a user meets it with the vivid camera, on a virtual X display of the test guest:
# "Video" opens the video window, and a screenshot shows vivid's colour bars in their colours.
# Usage (in the guest, under xvfb-run): video_vivid_e2e.sh <folder of voruna>
set -u
app=$1/voruna
scratch=$(mktemp -d)
trap 'kill $apppid 2>/dev/null; rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/run QT_QPA_PLATFORM=xcb
mkdir -m 0700 "$XDG_RUNTIME_DIR"
mkdir -p "$scratch/work"

fail() { echo "FAIL: $*"; cat "$scratch/app.log"; exit 1; }
. "$(dirname "$0")/support/window.sh"
# Pixels of the screenshot $1 within 24 of 75 % white, yellow and cyan (its lines read
# "x,y: (red,green,blue) ...").
bars() {
  convert "$1" -depth 8 txt:- | awk -F'[(),]' '
    function near(v, t) { return (v - t) ^ 2 < 576 }
    NR > 1 && near($3, 191) && near($4, 191) && near($5, 191) { w++ }
    NR > 1 && near($3, 191) && near($4, 191) && near($5, 0) { y++ }
    NR > 1 && near($3, 0) && near($4, 191) && near($5, 191) { c++ }
    END { print w + 0, y + 0, c + 0 }'
}

cd "$scratch/work"
"$app" >"$scratch/app.log" 2>&1 &
apppid=$!
# No port is saved: the console says so first.
box=$(window "Voruna" 60) || fail "no start-up message"
xdotool windowfocus --sync "$box" key Return
console=$(window "Voruna 1.1" 60) || fail "the console did not show"
xdotool windowfocus --sync "$console" key alt+v
video=$(window "Voruna Video Feedback" 60) || fail "the video window did not open"

# The capture window holds 640 x 360 colour bars of 80 pixels each; the video window, at its
# first size, shows the first ones around vivid's text: white, yellow and cyan at 75 %.
for _ in $(seq 20); do
  import -window "$video" "$scratch/shot.png" 2>/dev/null
  counts=$(bars "$scratch/shot.png")
  read -r white yellow cyan <<<"$counts"
  [ "$white" -gt 500 ] && [ "$yellow" -gt 500 ] && [ "$cyan" -gt 500 ] && break
  sleep 1
done
echo "pixels of the bars: white $white, yellow $yellow, cyan $cyan"
[ -n "${VORUNA_SAVE_DIR:-}" ] && cp "$scratch/shot.png" "$VORUNA_SAVE_DIR/program-vivid.png"
[ "$white" -gt 500 ] && [ "$yellow" -gt 500 ] && [ "$cyan" -gt 500 ] || fail "no colour bars on the screen"
echo "1 passed, 0 failed"
