// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/skypicture.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace voruna {

std::optional<QPointF> starCentroid(const QImage &rgb, QPointF around, int radius, int threshold)
{
    const int cx = int(std::lround(around.x()));
    const int cy = int(std::lround(around.y()));
    const int left = std::max(0, cx - radius);
    const int right = std::min(rgb.width() - 1, cx + radius);
    const int top = std::max(0, cy - radius);
    const int bottom = std::min(rgb.height() - 1, cy + radius);
    if (left > right || top > bottom)
        return std::nullopt;
    auto value = [&](int x, int y) { return double(rgb.constScanLine(y)[3 * x + 1]); };
    std::vector<double> all;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x)
            all.push_back(value(x, y));
    }
    std::nth_element(all.begin(), all.begin() + all.size() / 2, all.end());
    const double background = all[all.size() / 2];
    double sum = 0.0;
    double sx = 0.0;
    double sy = 0.0;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            const double v = value(x, y) - background;
            if (v < threshold)
                continue;
            sum += v;
            sx += v * x;
            sy += v * y;
        }
    }
    if (sum <= 0.0)
        return std::nullopt;
    return QPointF(sx / sum, sy / sum);
}

Levels pictureLevels(const QImage &rgb)
{
    double sum = 0.0;
    double squares = 0.0;
    const double count = double(rgb.width()) * rgb.height();
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar *row = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            const double v = row[3 * x + 1];
            sum += v;
            squares += v * v;
        }
    }
    const double mean = sum / count;
    return {mean, std::sqrt(std::max(0.0, squares / count - mean * mean))};
}

} // namespace voruna
