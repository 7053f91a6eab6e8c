// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/starloss.h"

#include <QPointF>

#include <cmath>
#include <limits>

namespace voruna {

// The adaptor's four directions, as the guide loop asks for them. West and north are the
// positive senses of the RA and Dec axes.
enum class GuideDirection { North, South, West, East };

// One correction: `direction` held for `seconds`, then stopped.
struct GuidePulse {
    GuideDirection direction = GuideDirection::West;
    double seconds = 0.0;
};

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// What one frame gave the guide loop: for the log, the graph and the numbers. Times in seconds
// on the caller's clock; offsets from the lock position (or, while calibrating, from where the
// calibration started).
struct GuideRecord {
    double time = 0.0;
    // The star's offset in the picture, pixels; NaN when the star is lost.
    QPointF offset{kNoValue, kNoValue};
    // The offset along the axes in pixels (+ west, + north), NaN without a calibration; and in
    // arcseconds, NaN without a pixel scale.
    double raPixels = kNoValue, decPixels = kNoValue;
    double raArcsec = kNoValue, decArcsec = kNoValue;
    // Corrections started on this frame, seconds: + west / + north, - east / - south, 0 none.
    double raPulse = 0.0, decPulse = 0.0;
    double snr = 0.0;
    // The frame was exposed while a correction ran, so it computed none.
    bool stale = false;
    StarLoss loss = StarLoss::None;
};

} // namespace voruna
