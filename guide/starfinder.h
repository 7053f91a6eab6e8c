// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/starmeasure.h"

#include <optional>
#include <vector>

namespace voruna {

// The stars of `frame` that could guide, best first: bright but not saturated, wider than a hot
// pixel, at least `settings.edgeMargin` from the edges, above the signal-to-noise floor; among
// them the highest signal-to-noise ratio leads, and stars close to clipping (above nine tenths
// of the top level) come after all the others. The brightest spots are measured first, at most
// `limit` of them, until enough good stars are found.
std::vector<StarMeasurement> findGuideStars(const FrameView &frame, const StarSettings &settings,
                                            int limit = 40);

// The best of those; nothing when the frame has no star fit to guide on.
std::optional<StarMeasurement> findGuideStar(const FrameView &frame, const StarSettings &settings);

} // namespace voruna
