// SPDX-License-Identifier: GPL-3.0-or-later
// How precisely the guide star's centre is measured: synthetic Gaussian stars at random
// sub-pixel places (fixed seed), with sky, photon and read noise, measured as a guide frame is.
// Each row gives the per-axis RMS error of the refined centre and of the plain thresholded first
// moment, beside the Cramer-Rao bound of that star: the least RMS any unbiased measurement can
// reach, from the Fisher information of the pixelated Gaussian under Poisson and read noise
// (star centre, flux, width and sky all unknown).
//
// Signal-to-noise ratio of a row: F / sqrt(F + n (sky + read^2)), with F the star's electrons
// in all and n = pi FWHM^2 the pixels of an aperture one FWHM in radius.

#include "guide/starmeasure.h"
#include "guide/syntheticframe.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace voruna;

constexpr double skyElectrons = 20.0;
constexpr double readNoise = 5.0;
constexpr int frameSide = 48;
constexpr int samples = 4000;
// The box of pixels the bound is taken over, as wide as what the measurement reads.
constexpr int boundReach = 15;

// The usual method's published figures: {fwhm, snr, rms}.
constexpr std::array<std::array<double, 3>, 4> reference{
    {{3, 19, 0.12}, {3, 37, 0.05}, {3, 50, 0.036}, {5, 46, 0.066}}};

struct Row {
    double fwhm, snr, flux, rmsX, rmsY, plainX, plainY, bound, measuredSnr, reference;
    int missed;
};
std::vector<Row> rows;

double starElectrons(double fwhm, double snr)
{
    const double pixels = std::numbers::pi * fwhm * fwhm;
    const double s2 = snr * snr;
    return 0.5
           * (s2 + std::sqrt(s2 * s2 + 4.0 * s2 * pixels * (skyElectrons + readNoise * readNoise)));
}

// One axis's pixel shares of a unit Gaussian, and their derivatives by centre and width.
struct Axis {
    std::vector<double> share, byCentre, bySigma;
    Axis(double centre, double sigma, int first, int count)
    {
        const double s = 1.0 / (std::sqrt(2.0) * sigma);
        const double k = s / std::sqrt(std::numbers::pi);
        for (int i = 0; i < count; ++i) {
            const double a = first + i - 0.5 - centre, b = a + 1.0;
            const double ga = std::exp(-a * a * s * s), gb = std::exp(-b * b * s * s);
            share.push_back(0.5 * (std::erf(b * s) - std::erf(a * s)));
            byCentre.push_back(k * (ga - gb));
            bySigma.push_back(k / sigma * (a * ga - b * gb));
        }
    }
};

// The variance bound on x for a star at `centre`: the (x, x) element of the inverse of the
// Fisher information over (x, y, flux, sky, sigma).
double boundVariance(QPointF centre, double fwhm, double flux)
{
    const double sigma = fwhm / 2.3548;
    const int x0 = int(std::round(centre.x())) - boundReach,
              y0 = int(std::round(centre.y())) - boundReach;
    const int n = 2 * boundReach + 1;
    const Axis ax(centre.x(), sigma, x0, n), ay(centre.y(), sigma, y0, n);
    double fisher[5][10] = {};
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const double mean = skyElectrons + flux * ax.share[i] * ay.share[j];
            const double d[5] = {
                flux * ax.byCentre[i] * ay.share[j], flux * ax.share[i] * ay.byCentre[j],
                ax.share[i] * ay.share[j], 1.0,
                flux * (ax.bySigma[i] * ay.share[j] + ax.share[i] * ay.bySigma[j])};
            for (int r = 0; r < 5; ++r)
                for (int c = 0; c < 5; ++c)
                    fisher[r][c] += d[r] * d[c] / (mean + readNoise * readNoise);
        }
    }
    // Gauss-Jordan on [F | I]; the matrix is symmetric positive definite.
    for (int r = 0; r < 5; ++r)
        fisher[r][5 + r] = 1.0;
    for (int p = 0; p < 5; ++p) {
        const double pivot = fisher[p][p];
        for (int c = 0; c < 10; ++c)
            fisher[p][c] /= pivot;
        for (int r = 0; r < 5; ++r) {
            if (r == p)
                continue;
            const double f = fisher[r][p];
            for (int c = 0; c < 10; ++c)
                fisher[r][c] -= f * fisher[p][c];
        }
    }
    return fisher[0][5];
}

void centroidPrecision(benchmark::State &state)
{
    const double fwhm = double(state.range(0));
    const double snr = double(state.range(1));
    const double flux = starElectrons(fwhm, snr);
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> phase(-0.5, 0.5), drift(-2.0, 2.0);
    SyntheticFrame frame(frameSide, frameSide, 16);
    StarSettings settings;
    settings.minSnr = 0.0;
    Row row{fwhm, snr, flux, 0, 0, 0, 0, 0, 0, 0, 0};
    for (const auto &r : reference)
        if (r[0] == fwhm && r[1] == snr)
            row.reference = r[2];
    int measured = 0;
    for (auto _ : state) {
        for (int i = 0; i < samples; ++i) {
            const QPointF truth(frameSide / 2 + phase(random), frameSide / 2 + phase(random));
            frame.clear();
            frame.addStar(truth, fwhm, flux);
            frame.expose({skyElectrons, readNoise, 100.0, 1.0, 0, true, random()});
            const QPointF near = truth + QPointF(drift(random), drift(random));
            const StarMeasurement star = measureStar(frame.view(), near, settings);
            row.bound += boundVariance(truth, fwhm, flux);
            if (star.loss == StarLoss::NoStar || star.loss == StarLoss::BadFrame) {
                ++row.missed;
                continue;
            }
            ++measured;
            const QPointF error = star.centre - truth, plain = star.roughCentre - truth;
            row.rmsX += error.x() * error.x();
            row.rmsY += error.y() * error.y();
            row.plainX += plain.x() * plain.x();
            row.plainY += plain.y() * plain.y();
            row.measuredSnr += star.snr;
        }
    }
    for (double *sum : {&row.rmsX, &row.rmsY, &row.plainX, &row.plainY})
        *sum = std::sqrt(*sum / std::max(measured, 1));
    row.bound = std::sqrt(row.bound / samples);
    row.measuredSnr /= std::max(measured, 1);
    state.counters["rms_x"] = row.rmsX;
    state.counters["rms_y"] = row.rmsY;
    state.counters["plain"] = 0.5 * (row.plainX + row.plainY);
    state.counters["bound"] = row.bound;
    state.counters["ratio"] = std::max(row.rmsX, row.rmsY) / row.bound;
    state.counters["missed"] = row.missed;
    rows.push_back(row);
}

void printTable()
{
    std::printf("\nFWHM  SNR   flux e-  measured SNR  rms x   rms y   plain   bound   ratio  "
                "reference  missed\n");
    for (const Row &r : rows) {
        std::printf("%4.0f %4.0f %9.0f %13.1f %7.4f %7.4f %7.4f %7.4f %6.2f ", r.fwhm, r.snr,
                    r.flux, r.measuredSnr, r.rmsX, r.rmsY, 0.5 * (r.plainX + r.plainY), r.bound,
                    std::max(r.rmsX, r.rmsY) / r.bound);
        if (r.reference > 0)
            std::printf("%10.3f", r.reference);
        else
            std::printf("%10s", "-");
        std::printf(" %7d\n", r.missed);
    }
}

} // namespace

BENCHMARK(centroidPrecision)
    ->ArgNames({"fwhm", "snr"})
    ->ArgsProduct({{3}, {10, 19, 20, 37, 50}})
    ->ArgsProduct({{5}, {10, 20, 37, 46, 50}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printTable();
    return 0;
}
