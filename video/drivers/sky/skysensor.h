// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPoint>
#include <QSize>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace voruna {

// What the sky camera's sensor gives with no light at all, as an uncooled guide camera's does:
// a dark current of a small mean rate with a fixed pattern over the pixels and a glow from the
// amplifier at the top right corner, and a few hot pixels. All of it grows with the exposure.
class SkySensor {
public:
    struct HotPixel {
        QPoint at;
        double rate = 0.0; // electrons per second
    };

    // The dark current of each pixel of a picture, row by row: an index into `rates`
    // (electrons per second), so that a picture needs only a few levels of its own.
    static constexpr int rateSteps = 64;
    struct DarkPattern {
        std::vector<std::uint8_t> pixels;
        std::array<float, rateSteps> rates{};
    };

    SkySensor();

    // The dark current of a picture of `size`; the same pixel always has the same rate. Made
    // once for a size and kept until another size is asked for; safe from several threads.
    std::shared_ptr<const DarkPattern> darkPattern(QSize size) const;

    // The hot pixels of a picture of `size`, at the same fractions of its width and height in
    // every size and away from the middle: single pixels and two 2 x 2 clusters (charge that
    // bled to its neighbours), the clusters last.
    static std::vector<HotPixel> hotPixels(QSize size);

    static constexpr double meanDarkRate = 0.1; // electrons per second, away from the glow
    static constexpr double glowRate = 6.0;     // electrons per second at the corner pixel

private:
    struct Cache {
        std::mutex mutex;
        QSize size;
        std::shared_ptr<const DarkPattern> pattern;
    };
    std::shared_ptr<Cache> m_cache;
};

} // namespace voruna
