// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/syntheticframe.h"

#include <QPoint>

#include <algorithm>
#include <cmath>
#include <random>

namespace voruna {

namespace {

constexpr int rowPadding = 8;

// The share of a unit Gaussian of `sigma` centred at `centre` that falls on each pixel, for
// pixels `first` to `first + count - 1`.
std::vector<double> pixelShares(double centre, double sigma, int first, int count)
{
    std::vector<double> shares(static_cast<size_t>(count));
    const double scale = 1.0 / (std::sqrt(2.0) * sigma);
    for (int i = 0; i < count; ++i) {
        const double edge = first + i - 0.5 - centre;
        shares[size_t(i)] = 0.5 * (std::erf((edge + 1.0) * scale) - std::erf(edge * scale));
    }
    return shares;
}

} // namespace

SyntheticFrame::SyntheticFrame(int width, int height, int bits)
    : m_width(std::max(width, 1))
    , m_height(std::max(height, 1))
    , m_bits(bits == 16 ? 16 : 8)
    , m_stride(qsizetype(m_width) * (m_bits / 8) + rowPadding)
    , m_electrons(size_t(m_width) * size_t(m_height), 0.0)
    , m_pixels(size_t(m_stride) * size_t(m_height), 0)
{}

void SyntheticFrame::addStar(QPointF centre, double fwhm, double electrons)
{
    const double sigma = fwhm / 2.3548;
    const int reach = int(std::ceil(6.0 * sigma)) + 1;
    const int x0 = std::max(0, int(std::floor(centre.x())) - reach);
    const int x1 = std::min(m_width - 1, int(std::ceil(centre.x())) + reach);
    const int y0 = std::max(0, int(std::floor(centre.y())) - reach);
    const int y1 = std::min(m_height - 1, int(std::ceil(centre.y())) + reach);
    if (x1 < x0 || y1 < y0)
        return;
    const auto across = pixelShares(centre.x(), sigma, x0, x1 - x0 + 1);
    const auto down = pixelShares(centre.y(), sigma, y0, y1 - y0 + 1);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            m_electrons[size_t(y) * size_t(m_width) + size_t(x)] +=
                electrons * across[size_t(x - x0)] * down[size_t(y - y0)];
}

void SyntheticFrame::addHotPixel(QPoint where, int adu)
{
    if (where.x() >= 0 && where.y() >= 0 && where.x() < m_width && where.y() < m_height)
        m_hotPixels.emplace_back(where, adu);
}

void SyntheticFrame::clear()
{
    std::fill(m_electrons.begin(), m_electrons.end(), 0.0);
    m_hotPixels.clear();
}

void SyntheticFrame::expose(const SyntheticExposure &exposure)
{
    std::mt19937_64 random(exposure.seed);
    std::normal_distribution<double> read(0.0, exposure.readNoise);
    const double depthTop = m_bits == 16 ? 65535.0 : 255.0;
    const double top =
        exposure.clipLevel > 0 ? std::min(double(exposure.clipLevel), depthTop) : depthTop;
    for (int y = 0; y < m_height; ++y) {
        unsigned char *row = m_pixels.data() + qsizetype(y) * m_stride;
        for (int x = 0; x < m_width; ++x) {
            double electrons = m_electrons[size_t(y) * size_t(m_width) + size_t(x)] + exposure.sky;
            if (exposure.noise) {
                electrons = double(std::poisson_distribution<long>(electrons)(random));
                if (exposure.readNoise > 0.0)
                    electrons += read(random);
            }
            const double adu = std::clamp(
                std::round(exposure.bias + electrons * exposure.adusPerElectron), 0.0, top);
            if (m_bits == 16)
                reinterpret_cast<quint16 *>(row)[x] = quint16(adu);
            else
                row[x] = static_cast<unsigned char>(adu);
        }
    }
    for (const auto &[where, adu] : m_hotPixels) {
        unsigned char *row = m_pixels.data() + qsizetype(where.y()) * m_stride;
        if (m_bits == 16)
            reinterpret_cast<quint16 *>(row)[where.x()] = quint16(std::clamp(adu, 0, 65535));
        else
            row[where.x()] = static_cast<unsigned char>(std::clamp(adu, 0, 255));
    }
}

FrameView SyntheticFrame::view() const
{
    FrameView frame;
    frame.width = m_width;
    frame.height = m_height;
    frame.stride = m_stride;
    frame.bits = m_bits;
    frame.pixels = m_pixels.data();
    return frame;
}

} // namespace voruna
