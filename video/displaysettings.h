#pragma once

#include <QImage>

#include <array>
#include <cstdint>

namespace voruna {

// How the preview is drawn; never changes what the camera sends. The stretch maps
// blackPoint..whitePoint (0..255) onto the full range with out = in ^ (1 / gamma), so a gamma
// above 1 lifts faint stars.
struct DisplaySettings {
    bool mirror = false;
    bool flip = false;
    int blackPoint = 0;
    int whitePoint = 255;
    double gamma = 1.0;
    friend bool operator==(const DisplaySettings &, const DisplaySettings &) = default;
};

// The stretch of one channel value for all 256 inputs.
std::array<std::uint8_t, 256> stretchTable(const DisplaySettings &settings);

// Mirrors, flips and stretches an RGB888 frame (or a 16-bit grey one, at its full depth) in one
// pass into an RGB32 image ready for painting; `out` is reused when it already has the size.
void renderForDisplay(const QImage &rgb, const DisplaySettings &settings, QImage *out);

} // namespace voruna
