#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Pictures saved from the vivid camera in the test guest, read here by Astropy, a reader apart
# from the cfitsio that wrote them: 8-bit colour as three planes, 12-bit mono at its own levels.
#   vivid_fits.sh SOURCE BUILD PYTHON VIDEO_VIVID
set -eu
source=$1 build=$2 python=$3 test=$4
if [ -z "$python" ]; then
  echo "vivid_fits: Astropy is missing: install python3-astropy (scripts/setup --test)" >&2
  exit 1
fi
saved=$(mktemp -d)
trap 'rm -rf "$saved"' EXIT
VORUNA_VIDEO_DEVICE=vivid "$source/scripts/guest-run" --build "$build" --vivid n_devs=1 \
  --save "$saved" -- "$test" savedForAnotherReader
check="$source/tests/fits_check.py"
"$python" "$check" "$saved/vivid-colour.fits" BITPIX=8 shape=3,360,640 INSTRUME=vivid levels=150,255
"$python" "$check" "$saved/vivid-y12.fits" BITPIX=16 BZERO=32768 shape=360,640 INSTRUME=vivid \
  levels=256,4095
