// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QSize>

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

// What the picture widget shows: one snapshot of the stretch, the widget's size, whether the
// picture is scaled to it and whether it is shown in red (the night look: each pixel's
// brightness in the red channel only), which the windows' thread hands to the thread that draws
// the camera's frames. An empty size (a widget never shown) draws the frame at its own size.
struct DisplayView {
    DisplaySettings settings;
    QSize size;
    bool scaled = false;
    bool red = false;
    friend bool operator==(const DisplayView &, const DisplayView &) = default;
};

// The highest level of a `sampleBits` picture: 255, 1023, 4095, 65535.
int topLevel(int sampleBits);

// The same settings for a picture of `sampleBits`: the two points keep their place in the range.
DisplaySettings rescaledTo(const DisplaySettings &settings, int sampleBits);

// The stretch of one channel value for all 256 inputs of an 8-bit picture.
std::array<std::uint8_t, 256> stretchTable(const DisplaySettings &settings);

// The stretch for every level 0..topLevel(settings.sampleBits).
std::vector<std::uint8_t> levelTable(const DisplaySettings &settings);

// The size of the picture drawn of a `frame`-sized frame for `view`: the widget's size when
// scaled, else the part of the frame that the widget shows from its top-left corner.
QSize pictureSize(QSize frame, const DisplayView &view);

// Bits per sample of a working image's levels when nothing else tells: 16 for the deep formats.
int imageSampleBits(const QImage &image);

// Draws `frame` (as renderForDisplay() takes it, its levels of `sampleBits`, which the view's
// points are rescaled to) for `view` into `out`: mirrored, flipped, stretched and cut or scaled
// to pictureSize(), taking the nearest sample as the painter does, and red when the view asks.
// Only the samples shown are
// read, so the cost follows the window's size rather than the frame's.
void renderView(const QImage &frame, int sampleBits, const DisplayView &view, QImage *out);

// Mirrors, flips and stretches a frame (RGB888, RGB32, or Grayscale16 / RGBX64 whose samples
// are scaled to 16 bits) in one pass into an RGB32 image ready for painting; `out` is reused
// when it already has the size.
void renderForDisplay(const QImage &frame, const DisplaySettings &settings, QImage *out);

} // namespace voruna
