// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

#include <array>
#include <cstdint>
#include <vector>

namespace voruna {

// How the preview is drawn; never changes what the camera sends. The stretch maps
// blackPoint..whitePoint onto the full range with out = in ^ (1 / gamma), so a gamma above 1
// lifts faint stars. The two points count in the camera's own levels: 0..255 for an 8-bit
// picture, 0..4095 for a 12-bit one (`sampleBits`).
struct DisplaySettings {
    bool mirror = false;
    bool flip = false;
    int blackPoint = 0;
    int whitePoint = 255;
    double gamma = 1.0;
    int sampleBits = 8;
    friend bool operator==(const DisplaySettings &, const DisplaySettings &) = default;
};

// The highest level of a `sampleBits` picture: 255, 1023, 4095, 65535.
int topLevel(int sampleBits);

// The same settings for a picture of `sampleBits`: the two points keep their place in the range.
DisplaySettings rescaledTo(const DisplaySettings &settings, int sampleBits);

// The stretch of one channel value for all 256 inputs of an 8-bit picture.
std::array<std::uint8_t, 256> stretchTable(const DisplaySettings &settings);

// The stretch for every level 0..topLevel(settings.sampleBits).
std::vector<std::uint8_t> levelTable(const DisplaySettings &settings);

// Mirrors, flips and stretches a frame (RGB888, RGB32, or Grayscale16 / RGBX64 whose samples
// are scaled to 16 bits) in one pass into an RGB32 image ready for painting; `out` is reused
// when it already has the size.
void renderForDisplay(const QImage &frame, const DisplaySettings &settings, QImage *out);

} // namespace voruna
