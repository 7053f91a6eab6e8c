// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <chrono>

namespace voruna {

// A camera frame's luminance as captured, borrowed, not copied: `bits` is 8 (one byte a pixel)
// or 16 (a native-endian quint16 a pixel); rows start `stride` bytes apart. The pixels must stay
// alive and unchanged while anything reads the view. Pixel (i, j) covers i - 0.5 to i + 0.5
// across and j - 0.5 to j + 0.5 down, so its centre is at (i, j).
struct FrameView {
    int width = 0;
    int height = 0;
    qsizetype stride = 0;
    int bits = 8;
    const void *pixels = nullptr;
    // When the exposure ended, on the monotonic clock.
    std::chrono::steady_clock::time_point time;

    bool isValid() const
    {
        return width > 0 && height > 0 && (bits == 8 || bits == 16) && pixels != nullptr
               && stride >= qsizetype(width) * (bits / 8);
    }
    // The largest value the depth holds: where a sensor that fills up clips.
    int maxValue() const { return bits == 16 ? 65535 : 255; }
    int at(int x, int y) const
    {
        const auto *row = static_cast<const uchar *>(pixels) + qsizetype(y) * stride;
        return bits == 16 ? reinterpret_cast<const quint16 *>(row)[x] : row[x];
    }
};

} // namespace voruna
