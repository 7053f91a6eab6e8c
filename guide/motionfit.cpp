// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/motionfit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace voruna {

namespace {

// Seconds per unit of the drift's time, so that the normal equations stay well conditioned.
constexpr double kTimeUnit = 100.0;

using Terms = std::array<double, MotionFit::kMaxTerms>;

// Solves the normal equations `a` x = `b` of `n` terms in place by elimination with partial
// pivoting; false when a term is undetermined.
bool solve(std::array<Terms, MotionFit::kMaxTerms> &a, Terms &b, int n)
{
    double largest = 0.0;
    for (int i = 0; i < n; ++i)
        largest = std::max(largest, std::abs(a[i][i]));
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int row = col + 1; row < n; ++row) {
            if (std::abs(a[row][col]) > std::abs(a[pivot][col]))
                pivot = row;
        }
        if (!(std::abs(a[pivot][col]) > 1e-10 * largest))
            return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int row = col + 1; row < n; ++row) {
            const double f = a[row][col] / a[col][col];
            for (int k = col; k < n; ++k)
                a[row][k] -= f * a[col][k];
            b[row] -= f * b[col];
        }
    }
    for (int row = n - 1; row >= 0; --row) {
        for (int k = row + 1; k < n; ++k)
            b[row] -= a[row][k] * b[k];
        b[row] /= a[row][row];
    }
    return true;
}

// The share of what a period's second harmonic must leave unexplained of what its half leaves
// for the whole period to be taken rather than the half.
constexpr double kHarmonicGain = 0.7;

// The sum of squares left by `harmonics` sines of `period` with a drift, or by the drift alone
// (period 0).
double leftOver(std::span<const MotionSample> samples, double period, int harmonics = 1)
{
    const std::optional<MotionFit> fit = MotionFit::fit(samples, {period, harmonics, false});
    if (!fit)
        return std::numeric_limits<double>::infinity();
    return fit->residual() * fit->residual() * double(samples.size());
}

} // namespace

int MotionFit::basis(double time, Terms *terms) const
{
    const double t = (time - m_origin) / kTimeUnit;
    int n = 0;
    (*terms)[n++] = 1.0;
    (*terms)[n++] = t;
    if (m_model.period > 0.0) {
        const double phase = 2.0 * std::numbers::pi * time / m_model.period;
        for (int h = 1; h <= std::clamp(m_model.harmonics, 0, 3); ++h) {
            (*terms)[n++] = std::sin(h * phase);
            (*terms)[n++] = std::cos(h * phase);
        }
    } else if (m_model.curvature) {
        (*terms)[n++] = t * t;
    }
    return n;
}

std::optional<MotionFit> MotionFit::fit(std::span<const MotionSample> samples,
                                        const MotionModel &model)
{
    if (samples.empty())
        return std::nullopt;
    MotionFit f;
    f.m_model = model;
    f.m_origin = samples.back().time;
    Terms terms{};
    const int n = f.basis(f.m_origin, &terms);
    if (samples.size() < std::size_t(2 * n))
        return std::nullopt;
    std::array<Terms, kMaxTerms> a{};
    Terms b{};
    for (const MotionSample &s : samples) {
        f.basis(s.time, &terms);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j)
                a[i][j] += terms[i] * terms[j];
            b[i] += terms[i] * s.position;
        }
    }
    if (!solve(a, b, n))
        return std::nullopt;
    f.m_coefficients = b;
    double squares = 0.0;
    for (const MotionSample &s : samples) {
        const double d = s.position - f.at(s.time);
        squares += d * d;
    }
    f.m_residual = std::sqrt(squares / double(samples.size()));
    return f;
}

double MotionFit::at(double time) const
{
    Terms terms{};
    const int n = basis(time, &terms);
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += m_coefficients[i] * terms[i];
    return sum;
}

std::optional<double> findPeriod(std::span<const MotionSample> samples, double shortest,
                                 double longest, double share)
{
    if (samples.size() < 8 || !(shortest > 0.0) || !(longest > shortest))
        return std::nullopt;
    const double drift = leftOver(samples, 0.0);
    const double span = samples.back().time - samples.front().time;
    if (!(span > 0.0) || !(drift > 0.0))
        return std::nullopt;
    // Frequencies a quarter of the span's resolution apart, then a finer look about the best.
    double step = 0.25 / span;
    double best = 1.0 / longest, bestLeft = leftOver(samples, longest);
    for (double f = 1.0 / longest + step; f <= 1.0 / shortest; f += step) {
        const double left = leftOver(samples, 1.0 / f);
        if (left < bestLeft)
            best = f, bestLeft = left;
    }
    const double centre = best;
    step /= 10.0;
    for (double f = centre - 10.0 * step; f <= centre + 10.0 * step; f += step) {
        if (f < 1.0 / longest || f > 1.0 / shortest)
            continue;
        const double left = leftOver(samples, 1.0 / f);
        if (left < bestLeft)
            best = f, bestLeft = left;
    }
    if ((drift - bestLeft) < share * drift)
        return std::nullopt;
    // The sine found may be the second harmonic of a worm whose own turn is twice as long.
    const double twice = 2.0 / best;
    if (twice <= longest
        && leftOver(samples, twice, 2) < kHarmonicGain * leftOver(samples, 1.0 / best, 2))
        return twice;
    return 1.0 / best;
}

} // namespace voruna
