// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <span>

namespace voruna {

// Where an axis stood by its own motion (the measured error less every move sent), pixels, at
// a time in seconds.
struct MotionSample {
    double time = 0.0;
    double position = 0.0;
};

// A least-squares fit of an axis' own motion: an offset, a drift and, when `period` seconds is
// known, that period's first `harmonics` sines; without a period, `curvature` adds a square
// term for a local trend that bends.
struct MotionModel {
    double period = 0.0;
    int harmonics = 2;
    bool curvature = false;
};

class MotionFit {
public:
    static constexpr int kMaxTerms = 2 + 2 * 3;

    // Fits the samples; none when there are too few for the terms or they leave them
    // undetermined (all at one time, fewer than two per term).
    static std::optional<MotionFit> fit(std::span<const MotionSample> samples,
                                        const MotionModel &model);
    // The fitted position at `time`.
    double at(double time) const;
    // The RMS of the samples about the fit.
    double residual() const { return m_residual; }

private:
    // The terms' values at `time`; returns how many.
    int basis(double time, std::array<double, kMaxTerms> *terms) const;

    MotionModel m_model;
    double m_origin = 0.0;
    double m_residual = 0.0;
    std::array<double, kMaxTerms> m_coefficients{};
};

// The period, seconds within [shortest, longest], whose sine with a drift fits the samples
// best, when it explains at least `share` of what a drift alone leaves; none otherwise. Twice
// that period when the sine is the second harmonic of a longer one that explains much more.
std::optional<double> findPeriod(std::span<const MotionSample> samples, double shortest,
                                 double longest, double share);

} // namespace voruna
