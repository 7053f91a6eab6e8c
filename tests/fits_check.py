#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Reads a FITS file the program saved with Astropy, a reader of its own, and checks it:
#   fits_check.py FILE [KEY=VALUE...] [shape=A,B[,C]] [levels=LOW,HIGH] [sum=N]
# KEY=VALUE compares a header card (numbers as numbers); shape is the data's as Astropy gives it
# (planes, rows, columns); levels says the highest sample lies between LOW and HIGH; sum is the
# sum of all samples. DATE-OBS, when there, must be an ISO 8601 time. Prints what differs and
# exits 1, or prints a summary and exits 0.
import sys

from astropy.io import fits
from astropy.time import Time


def same(found, wanted):
    try:
        return abs(float(found) - float(wanted)) <= 1e-6 * max(1.0, abs(float(wanted)))
    except (TypeError, ValueError):
        return str(found).strip() == wanted


def main(path, expectations):
    faults = []
    with fits.open(path) as hdus:
        header, data = hdus[0].header, hdus[0].data
        if "DATE-OBS" in header:
            try:
                Time(header["DATE-OBS"], format="isot", scale="utc")
            except ValueError as error:
                faults.append(f"DATE-OBS {header['DATE-OBS']!r}: {error}")
        for item in expectations:
            key, _, wanted = item.partition("=")
            if key == "shape":
                found = ",".join(str(n) for n in data.shape)
            elif key == "levels":
                low, high = (int(n) for n in wanted.split(","))
                found = int(data.max())
                if not low <= found <= high:
                    faults.append(f"highest sample {found}, not within {low}..{high}")
                continue
            elif key == "sum":
                found = int(data.astype("int64").sum())
            else:
                found = header.get(key)
            if found is None or not same(found, wanted):
                faults.append(f"{key} is {found!r}, not {wanted!r}")
        summary = f"{path}: BITPIX {header['BITPIX']}, shape {data.shape}, {data.dtype}"
    print("\n".join(faults) if faults else summary)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
