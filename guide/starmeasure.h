// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/frameview.h"
#include "guide/starloss.h"

#include <QPointF>

namespace voruna {

// How stars are looked for and judged. Lengths in pixels, levels in ADU.
struct StarSettings {
    // Half the side of the square searched around the expected position.
    int searchRadius = 16;
    // The sky ring around a star starts at least this far from its centre, and further for wide
    // stars (three half-flux radii past the star's edge); it is `ringWidth` wide.
    double ringInner = 8.0;
    double ringWidth = 6.0;
    // Stars narrower than minHfd are hot pixels; wider than maxHfd, no stars at all.
    double minHfd = 1.2;
    double maxHfd = 12.0;
    // The least signal-to-noise ratio a guide star may have.
    double minSnr = 6.0;
    // Where the camera clips; 0 takes the depth's maximum (255 or 65535).
    int saturationLevel = 0;
    // Electrons per ADU, for the star's own photon noise in the signal-to-noise ratio.
    double gain = 1.0;
    // The automatic choice keeps stars this far from the frame's edges, so that they can drift.
    int edgeMargin = 24;
    // A flux more than this factor above or below its running mean is a sudden change.
    double brightnessFactor = 2.0;
    // Frames over which the running mean of the flux mostly reaches back.
    int brightnessMemory = 8;
};

// One star as measured in one frame. Positions in pixels, pixel (i, j) centred at (i, j).
struct StarMeasurement {
    // The centre, refined by a Gaussian-weighted, iteratively re-centred first moment.
    QPointF centre;
    // The plain first moment of the pixels above three deviations of the sky, the start of the
    // refinement.
    QPointF roughCentre;
    // ADU above the sky within the aperture (one and a half half-flux diameters in radius).
    double flux = 0.0;
    // Flux over its expected scatter (the star's photon noise and the sky's over the aperture's
    // pixels, including the error of the sky level itself).
    double snr = 0.0;
    // Diameter of the circle holding half the flux.
    double hfd = 0.0;
    // The highest pixel value of the star, as captured (sky included).
    double peak = 0.0;
    // The sky's level and standard deviation per pixel, from the ring around the star.
    double sky = 0.0;
    double skyNoise = 0.0;
    bool saturated = false;
    // Why the star cannot guide; None when it can. With NoStar or BadFrame the numbers above
    // mean nothing.
    StarLoss loss = StarLoss::None;

    bool isUsable() const { return loss == StarLoss::None; }
};

// Measures the brightest star within `settings.searchRadius` of `near` (a click, or where the
// star was in the frame before). Never reads outside the frame.
StarMeasurement measureStar(const FrameView &frame, QPointF near, const StarSettings &settings);

} // namespace voruna
