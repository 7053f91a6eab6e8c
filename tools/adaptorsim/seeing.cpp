// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/seeing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace voruna {

namespace {

// The spread of a star's centre frame to frame against the FWHM of its long-exposure image.
constexpr double kFwhmPerSigma = 7.9;

} // namespace

Seeing::Seeing(double fwhmArcsec, std::uint64_t seed)
    : m_random(seed)
    , m_sigma(std::isfinite(fwhmArcsec) ? std::max(0.0, fwhmArcsec) / kFwhmPerSigma : 0.0)
{}

double Seeing::uniform()
{
    // (0, 1]: never zero, for the logarithm below. Spelled out so that every standard library
    // gives the same numbers for a seed.
    return (double(m_random() >> 11) + 1.0) * 0x1.0p-53;
}

SkyOffset Seeing::next()
{
    if (m_sigma == 0.0)
        return {};
    // Box-Muller: one pair of uniforms gives both axes.
    const double radius = m_sigma * std::sqrt(-2.0 * std::log(uniform()));
    const double angle = 2.0 * std::numbers::pi * uniform();
    return {radius * std::cos(angle), radius * std::sin(angle)};
}

} // namespace voruna
