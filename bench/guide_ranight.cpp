// SPDX-License-Identifier: GPL-3.0-or-later
// The RA algorithms on the realistic night, RA alone, in simulated time: the mount model of the
// adaptor simulator with its --night figures (5" periodic error of 230.5 s, 2" seeing), 2 s
// frames at 2"/px, the guide rate 7.5"/s. A frame exposed while a correction ran computes none,
// moves under 0.15 px are not sent, none is held over 2 s. Each row guides for 15 minutes from
// a point of the worm's turn that the seed also sets, and gives the RMS of the star's true
// place (the mount's tracking error and the air's shift) over the last 14, with the same night
// unguided for scale, and over the second half alone, when the periodic error has been learnt.
// A row with a gap loses the frames of a minute in the middle, 7 minutes in: the RMS counts the
// frames seen, so the star's return from where it went unguided.

#include "guide/axisguider.h"
#include "tools/adaptorsim/mountmodel.h"
#include "tools/adaptorsim/seeing.h"
#include "tools/adaptorsim/simoptions.h"

#include <benchmark/benchmark.h>

#include <QStringList>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace voruna;

constexpr double plateScale = 2.0; // arcseconds per pixel
constexpr double exposure = 2.0;
constexpr double minMove = 0.15;
constexpr double maxPulse = 2.0;
constexpr double guiding = 900.0, settling = 60.0;
constexpr double gapStart = 420.0, gapLength = 60.0;

enum Algorithm { Unguided, Hysteresis, Predictive, PredictiveWithPeriod };
const char *const algorithmNames[] = {"unguided", "hysteresis", "predictive",
                                      "predictive, period given"};

// The population standard deviation of the star's place from `from` seconds of guiding on.
struct Spread {
    double from = 0.0;
    double sum = 0.0, squares = 0.0;
    int count = 0;
    void add(double x) { sum += x, squares += x * x, ++count; }
    double rms() const
    {
        const double mean = sum / std::max(count, 1);
        return std::sqrt(std::max(0.0, squares / std::max(count, 1) - mean * mean));
    }
};

struct Row {
    std::string name;
    double rms = 0.0;    // over the guiding after settling
    double learnt = 0.0; // over its second half
    int corrections = 0;
};
std::vector<Row> rows;

std::unique_ptr<AxisGuider> makeGuider(Algorithm algorithm, double period)
{
    switch (algorithm) {
    case Unguided:
        return nullptr;
    case Hysteresis:
        return makeHysteresisGuider({});
    case Predictive:
        return makePredictiveGuider({});
    case PredictiveWithPeriod: {
        PredictiveSettings settings;
        settings.period = period;
        return makePredictiveGuider(settings);
    }
    }
    return nullptr;
}

// Guides RA through the night and returns the true RMS in arcseconds.
Row guideNight(Algorithm algorithm, std::uint64_t seed, bool gap)
{
    const SimOptions options = parseSimOptions({"--night"}).options;
    const MountModel::Clock::time_point origin{};
    MountModel mount(options.mount, origin);
    Seeing seeing(options.seeingFwhm, seed);
    const double rate = options.mount.guideRates[2] / plateScale; // pixels per second
    const std::unique_ptr<AxisGuider> guider = makeGuider(algorithm, options.mount.pePeriod);
    // Guiding starts somewhere in the worm's turn.
    const double start = double(seed * 37 % 230);
    Spread spreads[] = {{settling}, {guiding / 2.0}};
    double pulsesEnd = 0.0, previousFrame = -1.0;
    Row row;
    for (double t = start; t < start + guiding; t += exposure) {
        const auto now = origin
                         + std::chrono::duration_cast<MountModel::Clock::duration>(
                             std::chrono::duration<double>(t));
        const double star = (mount.trackingErrorAt(now).ra + seeing.next().ra) / plateScale;
        if (gap && t - start >= gapStart && t - start < gapStart + gapLength)
            continue;
        for (Spread &spread : spreads) {
            if (t - start >= spread.from)
                spread.add(star);
        }
        const bool fresh = previousFrame >= pulsesEnd;
        previousFrame = t;
        if (!guider || !fresh)
            continue;
        const double want = guider->correction(t, star);
        const double seconds =
            std::abs(want) < minMove ? 0.0 : std::min(std::abs(want) / rate, maxPulse);
        guider->sent(t, std::copysign(seconds * rate, want));
        if (seconds == 0.0)
            continue;
        const char direction = want > 0 ? 'w' : 'e';
        const auto end = now
                         + std::chrono::duration_cast<MountModel::Clock::duration>(
                             std::chrono::duration<double>(seconds));
        mount.start(direction, now);
        mount.stop(direction, end);
        pulsesEnd = t + seconds;
        ++row.corrections;
    }
    row.rms = spreads[0].rms() * plateScale;
    row.learnt = spreads[1].rms() * plateScale;
    return row;
}

void raNight(benchmark::State &state)
{
    const auto algorithm = Algorithm(state.range(0));
    const auto seed = std::uint64_t(state.range(1));
    const bool gap = state.range(2) != 0;
    Row row;
    for (auto _ : state)
        row = guideNight(algorithm, seed, gap);
    row.name = std::string(algorithmNames[algorithm]) + ", seed " + std::to_string(seed)
               + (gap ? ", a minute lost" : "");
    state.counters["ra_rms"] = row.rms;
    state.counters["ra_rms_late"] = row.learnt;
    rows.push_back(row);
}

// What one correction costs once the history is full: each frame's fits, and the search for the
// period that runs every half minute, spread over the frames; the usual algorithm as the baseline.
void correctionCost(benchmark::State &state)
{
    const auto algorithm = Algorithm(state.range(0));
    const std::unique_ptr<AxisGuider> guider = makeGuider(algorithm, 230.5);
    double t = 0.0;
    const auto next = [&] {
        t += 4.0;
        const double error = 0.2 * std::sin(t / 7.0);
        const double move = guider->correction(t, error);
        guider->sent(t, move);
        return move;
    };
    for (int i = 0; i < 600; ++i)
        next();
    for (auto _ : state)
        benchmark::DoNotOptimize(next());
    state.SetLabel(algorithmNames[algorithm]);
}

void printTable()
{
    std::printf("\n%-48s %9s %11s %12s\n", "RA algorithm, night", "RMS RA \"", "last 7.5 min",
                "corrections");
    for (const Row &r : rows)
        std::printf("%-48s %9.3f %11.3f %12d\n", r.name.c_str(), r.rms, r.learnt, r.corrections);
}

} // namespace

BENCHMARK(raNight)
    ->ArgNames({"algorithm", "seed", "gap"})
    ->ArgsProduct({{Unguided, Hysteresis, Predictive, PredictiveWithPeriod}, {1, 2, 3, 4, 5}, {0}})
    ->ArgsProduct({{Hysteresis, Predictive, PredictiveWithPeriod}, {1}, {1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(correctionCost)
    ->ArgName("algorithm")
    ->DenseRange(Hysteresis, PredictiveWithPeriod)
    ->Unit(benchmark::kMicrosecond);

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
