#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every C++ source and every script of the tree names its licence in its first lines.
# Prints the files that do not. Usage: spdx_check.sh <top of the source tree>
set -euo pipefail
cd "$1"
if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  files=$(git ls-files)
else
  files=$(find . -path ./.git -prune -o -path './build*' -prune -o -type f -print | sed 's|^\./||')
fi
missing=0
checked=0
while IFS= read -r f; do
  [ -f "$f" ] || continue
  case $f in
    *.cpp | *.h | *.sh) ;;
    *) head -c 2 "$f" | grep -q '^#!' || continue ;;
  esac
  checked=$((checked + 1))
  if ! head -n 3 "$f" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later'; then
    echo "no SPDX line: $f"
    missing=$((missing + 1))
  fi
done <<< "$files"
echo "$checked files checked, $missing without an SPDX line"
[ "$checked" -gt 0 ] && [ "$missing" -eq 0 ]
