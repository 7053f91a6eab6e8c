// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/starpatch.h"

#include <algorithm>
#include <cmath>

namespace voruna {

namespace {

// Quantisation alone scatters integer samples by 1/sqrt(12) ADU: no sky is flatter than that.
constexpr double noiseFloor = 0.29;
// A pixel this many deviations above the sky, with every neighbour below `hotNeighbourShare` of
// its height, is too sharp for any star the optics can draw.
constexpr double hotSigmas = 5.0;
constexpr double hotNeighbourShare = 0.25;
// Enough pixels for a steady median; larger patches are sampled.
constexpr int skySamples = 512;

float median(std::vector<float> &values)
{
    const auto middle = values.begin() + qsizetype(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

SkyLevel clippedLevel(std::vector<float> &values)
{
    if (values.empty())
        return {};
    const double centre = median(values);
    std::vector<float> deviations(values.size());
    std::transform(values.begin(), values.end(), deviations.begin(),
                   [centre](float v) { return float(std::abs(v - centre)); });
    const double spread = std::max(1.4826 * median(deviations), noiseFloor);
    double sum = 0.0;
    double squares = 0.0;
    int count = 0;
    for (float v : values) {
        const double d = v - centre;
        if (std::abs(d) <= 3.0 * spread) {
            sum += d;
            squares += d * d;
            ++count;
        }
    }
    const double mean = sum / count;
    const double variance = std::max(squares / count - mean * mean, 0.0);
    return {centre + mean, std::max(std::sqrt(variance), noiseFloor), count};
}

StarPatch::StarPatch(const FrameView &frame, QPoint centre, int halfSize)
{
    if (!frame.isValid())
        return;
    // In 64 bits: neither the centre nor the size is bounded by the frame.
    const auto clampTo = [](qint64 v, int last) { return int(std::clamp<qint64>(v, 0, last)); };
    m_left = clampTo(qint64(centre.x()) - halfSize, frame.width - 1);
    m_top = clampTo(qint64(centre.y()) - halfSize, frame.height - 1);
    m_width = clampTo(qint64(centre.x()) + halfSize, frame.width - 1) - m_left + 1;
    m_height = clampTo(qint64(centre.y()) + halfSize, frame.height - 1) - m_top + 1;
    m_values.resize(size_t(m_width) * size_t(m_height));
    auto out = m_values.begin();
    for (int y = m_top; y <= bottom(); ++y) {
        const auto *row = static_cast<const uchar *>(frame.pixels) + qsizetype(y) * frame.stride;
        if (frame.bits == 16)
            out = std::copy_n(reinterpret_cast<const quint16 *>(row) + m_left, m_width, out);
        else
            out = std::copy_n(row + m_left, m_width, out);
    }
    const size_t step = std::max<size_t>(1, m_values.size() / skySamples);
    std::vector<float> sample;
    sample.reserve(m_values.size() / step + 1);
    for (size_t i = 0; i < m_values.size(); i += step)
        sample.push_back(m_values[i]);
    m_roughSky = clippedLevel(sample);
    repairHotPixels();
}

void StarPatch::repairHotPixels()
{
    const float floor = float(m_roughSky.level + hotSigmas * m_roughSky.noise);
    for (int y = m_top; y <= bottom(); ++y) {
        for (int x = m_left; x <= right(); ++x) {
            const float value = at(x, y);
            if (value <= floor)
                continue;
            float neighbours[8];
            int count = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if ((dx || dy) && contains(x + dx, y + dy))
                        neighbours[count++] = at(x + dx, y + dy);
            if (count == 0)
                continue;
            const float highest = *std::max_element(neighbours, neighbours + count);
            const float excess = value - float(m_roughSky.level);
            if (highest - float(m_roughSky.level) >= hotNeighbourShare * excess)
                continue;
            std::nth_element(neighbours, neighbours + count / 2, neighbours + count);
            m_values[size_t((y - m_top) * m_width + (x - m_left))] = neighbours[count / 2];
            m_repaired.emplace_back(x, y);
        }
    }
}

SkyLevel StarPatch::ringSky(QPointF centre, double inner, double outer) const
{
    std::vector<float> ring;
    const int x0 = std::max(m_left, int(std::floor(centre.x() - outer)));
    const int x1 = std::min(right(), int(std::ceil(centre.x() + outer)));
    const int y0 = std::max(m_top, int(std::floor(centre.y() - outer)));
    const int y1 = std::min(bottom(), int(std::ceil(centre.y() + outer)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double r2 =
                (x - centre.x()) * (x - centre.x()) + (y - centre.y()) * (y - centre.y());
            if (r2 >= inner * inner && r2 <= outer * outer)
                ring.push_back(at(x, y));
        }
    }
    return clippedLevel(ring);
}

} // namespace voruna
