// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace voruna {

// Why a frame gives no usable guide star.
enum class StarLoss {
    None,
    BadFrame,       // the frame has no pixels, or a depth other than 8 or 16 bits
    NoStar,         // nothing stands out of the sky in the search box
    HotPixel,       // a single bright pixel, narrower than any star
    NearEdge,       // the star is too close to the frame's edge to be measured whole
    Saturated,      // the star's middle is clipped at the camera's top level
    TooFaint,       // the star's signal-to-noise ratio is below the floor
    BrightnessJump, // the star's flux changed suddenly against its recent mean
};

// The reason in plain words for the status line.
QString starLossText(StarLoss loss);

} // namespace voruna
