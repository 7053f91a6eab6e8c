# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts that drive the program on an X display.
# window NAME [SECONDS]: prints the id of the visible window named exactly NAME, waiting up to
# SECONDS (10 unless given); fails, saying so on standard error, when none shows.
window() {
  local id
  for _ in $(seq $((${2:-10} * 10))); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window named $1" >&2
  return 1
}
