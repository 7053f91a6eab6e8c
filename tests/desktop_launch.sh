#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop entry as a desktop starts it (through GLib, as GNOME and others do): the program
# runs in its configuration folder, made when missing, so that "Save Settings" from the menu
# never drops its file into the home folder.
# Usage: desktop_launch.sh <desktop entry>
set -u
entry=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin" "$scratch/home"
# A stand-in for the program that notes where it was started.
printf '#!/bin/sh\npwd > "$VORUNA_STARTED_IN"\n' > "$scratch/bin/voruna"
chmod +x "$scratch/bin/voruna"

failed=0
# XDG_CONFIG_HOME ("-" for unset) and the folder the program must start in
while IFS='|' read -r config expected; do
  rm -f "$scratch/started"
  (
    export HOME=$scratch/home PATH="$scratch/bin:$PATH" VORUNA_STARTED_IN=$scratch/started
    if [ "$config" = - ]; then unset XDG_CONFIG_HOME; else export XDG_CONFIG_HOME=$config; fi
    gio launch "$entry"
  )
  for _ in $(seq 100); do [ -s "$scratch/started" ] && break; sleep 0.1; done
  got=$(cat "$scratch/started" 2>/dev/null)
  if [ "$got" != "$expected" ]; then
    echo "FAIL: XDG_CONFIG_HOME=$config: started in \"$got\", not \"$expected\""
    failed=1
  fi
done <<END
-|$scratch/home/.config/voruna
$scratch/with space|$scratch/with space/voruna
relative|$scratch/home/.config/voruna
END
exit $failed
