// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/sky/skysensor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace voruna {

namespace {

// Places as fractions of the width and height, and rates in electrons per second: from faint at
// 100 ms to clipped past a second, so that darks of different exposures never match.
struct HotPlace {
    double x;
    double y;
    double rate;
    bool cluster;
};
constexpr std::array<HotPlace, 10> kHotPlaces{{
    {0.13, 0.21, 120.0, false},
    {0.71, 0.17, 180.0, false},
    {0.37, 0.83, 260.0, false},
    {0.88, 0.62, 380.0, false},
    {0.22, 0.55, 550.0, false},
    {0.62, 0.88, 800.0, false},
    {0.91, 0.09, 1200.0, false},
    {0.07, 0.74, 1800.0, false},
    {0.28, 0.31, 400.0, true},
    {0.77, 0.41, 900.0, true},
}};

// How far the amplifier's glow reaches, as a share of the picture's width.
constexpr double kGlowReach = 0.08;

// Uniform in [0, 1) from a pixel's place: the same pixel always gets the same number.
double placeHash(int x, int y)
{
    std::uint64_t z =
        (std::uint64_t(std::uint32_t(x)) << 32 | std::uint32_t(y)) + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    return double(z >> 11) * 0x1.0p-53;
}

// The highest rate a pixel can have; the rates of a pattern run up to it on a square scale,
// finer at the low rates of most pixels.
constexpr double kTopRate = SkySensor::glowRate + 2.0 * SkySensor::meanDarkRate;

std::uint8_t rateIndex(double rate)
{
    constexpr double top = SkySensor::rateSteps - 1;
    return std::uint8_t(std::lround(top * std::sqrt(std::clamp(rate / kTopRate, 0.0, 1.0))));
}

SkySensor::DarkPattern makeDarkPattern(QSize size)
{
    SkySensor::DarkPattern pattern;
    constexpr double top = SkySensor::rateSteps - 1;
    for (std::size_t k = 0; k < pattern.rates.size(); ++k)
        pattern.rates[k] = float(kTopRate * (k / top) * (k / top));
    const int width = size.width();
    const int height = size.height();
    pattern.pixels.resize(std::size_t(std::max(width, 0)) * std::size_t(std::max(height, 0)));
    const double reach = std::max(1.0, kGlowReach * width);
    auto out = pattern.pixels.begin();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Most pixels near the mean, a few up to twice it.
            const double u = placeHash(x, y);
            const double own = SkySensor::meanDarkRate * (0.5 + 1.5 * u * u * u * u);
            const double glow =
                SkySensor::glowRate * std::exp(-std::hypot(width - 1 - x, y) / reach);
            *out++ = rateIndex(own + glow);
        }
    }
    return pattern;
}

} // namespace

SkySensor::SkySensor() : m_cache(std::make_shared<Cache>())
{}

std::shared_ptr<const SkySensor::DarkPattern> SkySensor::darkPattern(QSize size) const
{
    const std::lock_guard lock(m_cache->mutex);
    if (!m_cache->pattern || m_cache->size != size) {
        m_cache->pattern = std::make_shared<const DarkPattern>(makeDarkPattern(size));
        m_cache->size = size;
    }
    return m_cache->pattern;
}

std::vector<SkySensor::HotPixel> SkySensor::hotPixels(QSize size)
{
    std::vector<HotPixel> hot;
    if (size.width() < 2 || size.height() < 2)
        return hot;
    for (const HotPlace &place : kHotPlaces) {
        // The cluster's top left pixel one short of the edge, so that all four fit.
        const QPoint at(std::min(int(place.x * size.width()), size.width() - 2),
                        std::min(int(place.y * size.height()), size.height() - 2));
        hot.push_back({at, place.rate});
        if (!place.cluster)
            continue;
        hot.push_back({at + QPoint(1, 0), place.rate});
        hot.push_back({at + QPoint(0, 1), place.rate});
        hot.push_back({at + QPoint(1, 1), place.rate});
    }
    return hot;
}

} // namespace voruna
