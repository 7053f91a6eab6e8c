// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/adaptorsim/mountmodel.h"

#include <cstdint>
#include <random>

namespace voruna {

// The air's unsteadiness as a guide camera sees it: each frame the whole star image stands
// off by a random amount, Gaussian and independent per axis, with a standard deviation of the
// seeing's FWHM / 7.9 (about 0.25" per axis for 2" seeing). The same seed gives the same shifts.
class Seeing {
public:
    Seeing(double fwhmArcsec, std::uint64_t seed);

    // The next frame's shift in arcseconds; zero when the seeing is zero.
    SkyOffset next();
    // Arcseconds per axis.
    double sigma() const { return m_sigma; }

private:
    double uniform();

    std::mt19937_64 m_random;
    double m_sigma;
};

} // namespace voruna
