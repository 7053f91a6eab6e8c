// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPointF>

#include <optional>

namespace voruna {

// The light-weighted centre, in pixels, of the star nearest `around` in an RGB888 picture:
// summed over the square of `radius` pixels round it, above the window's own background (its
// median plus `threshold` levels). nullopt when no pixel stands out.
std::optional<QPointF> starCentroid(const QImage &rgb, QPointF around, int radius = 12,
                                    int threshold = 20);

// Mean and standard deviation of the green channel over the whole picture.
struct Levels {
    double mean = 0.0;
    double spread = 0.0;
};
Levels pictureLevels(const QImage &rgb);

} // namespace voruna
