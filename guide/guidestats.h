// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guidetypes.h"

#include <deque>

namespace voruna {

// How well the star was held over a stretch of time, along the axes, in the unit the caller
// scaled to (pixels, or arcseconds). Each figure is NaN when no frame of the stretch had one.
struct GuideStats {
    // Population RMS of the offsets from the lock position.
    double raRms = kNoValue, decRms = kNoValue;
    // The root of the sum of the two squares; NaN unless both axes have one.
    double totalRms = kNoValue;
    // The largest offset from the lock position on each axis, unsigned.
    double raPeak = kNoValue, decPeak = kNoValue;
    // Frames that gave an offset on each axis.
    int raSamples = 0, decSamples = 0;
};

// The statistics of the records whose time is within `window` seconds of `now` (from
// now - window to now, both included), their pixels along the axes multiplied by `scale`.
// Frames without an offset on an axis (a lost star, no calibration) are skipped on that axis.
GuideStats guideStats(const std::deque<GuideRecord> &records, double now, double window,
                      double scale = 1.0);

} // namespace voruna
