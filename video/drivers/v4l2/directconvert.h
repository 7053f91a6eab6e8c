// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

#include <cstddef>

namespace voruna {

// The frame converters written for this program or called straight in libyuv: the YUV and RGB
// layouts where libyuv is the faster path, and the deep formats (mono and Bayer at 10 to 16
// bits) that libv4lconvert would cut to 8 bits or does not know.
namespace direct {

// Whether convert() handles frames in `pixelFormat`.
bool handles(quint32 pixelFormat);

// Bits per sample the format carries: 10, 12 or 16 for the deep formats, otherwise 8.
int sampleBits(quint32 pixelFormat);

enum class Result { Converted, ShortFrame, NotHandled };

// Converts one frame of `size` whose first plane has rows of `bytesPerLine` bytes (0: packed
// rows). 8-bit formats give RGB32; deep mono gives Grayscale16 and deep Bayer RGBX64, with each
// sample scaled to the full 16 bits so that nothing below its top bit is lost. `image` is
// reused when it already has the size and format.
Result convert(quint32 pixelFormat, QSize size, int bytesPerLine, const unsigned char *data,
               std::size_t bytes, QImage *image);

} // namespace direct
} // namespace voruna
