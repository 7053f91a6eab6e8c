// SPDX-License-Identifier: GPL-3.0-or-later
// What the guide star costs a frame: picking it in a whole frame, measuring it again in its
// search box as while guiding, beside a plain copy of the same frame.

#include "guide/starfinder.h"
#include "guide/startracker.h"
#include "guide/syntheticframe.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace voruna;

// A sky of a few dozen stars from faint to saturated, three hot pixels, with noise.
SyntheticFrame starField(int width, int height, int bits)
{
    SyntheticFrame frame(width, height, bits);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> x(10.0, width - 10.0), y(10.0, height - 10.0);
    std::uniform_real_distribution<double> brightness(2.5, 5.5); // log10 of electrons
    for (int i = 0; i < 40; ++i)
        frame.addStar(QPointF(x(random), y(random)), 3.5, std::pow(10.0, brightness(random)));
    for (int i = 0; i < 3; ++i)
        frame.addHotPixel(QPoint(int(x(random)), int(y(random))), bits == 16 ? 60000 : 250);
    SyntheticExposure exposure;
    exposure.sky = 30.0;
    // An 8-bit camera spreads fewer electrons over its levels.
    exposure.adusPerElectron = bits == 16 ? 1.0 : 0.05;
    exposure.bias = bits == 16 ? 500.0 : 8.0;
    frame.expose(exposure);
    return frame;
}

void findGuideStarInFrame(benchmark::State &state)
{
    const SyntheticFrame frame =
        starField(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    const StarSettings settings;
    int found = 0;
    for (auto _ : state) {
        const auto star = findGuideStar(frame.view(), settings);
        found += star.has_value();
        benchmark::DoNotOptimize(star);
    }
    state.counters["found"] = double(found) / double(state.iterations());
    state.SetBytesProcessed(state.iterations() * frame.view().stride * frame.height());
}

void measureInSearchBox(benchmark::State &state)
{
    const SyntheticFrame frame =
        starField(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    const StarSettings settings;
    const auto star = findGuideStar(frame.view(), settings);
    if (!star) {
        state.SkipWithError("no guide star in the frame");
        return;
    }
    StarTracker tracker(settings);
    for (auto _ : state) {
        tracker.follow(*star);
        StarMeasurement again = tracker.track(frame.view());
        benchmark::DoNotOptimize(again);
    }
}

// The floor: copying the frame once.
void copyFrame(benchmark::State &state)
{
    const SyntheticFrame frame =
        starField(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    const size_t bytes = size_t(frame.view().stride) * size_t(frame.height());
    std::vector<unsigned char> copy(bytes);
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.view().pixels, bytes);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * qint64(bytes));
}

} // namespace

BENCHMARK(copyFrame)->Args({1280, 1024, 16})->Args({640, 480, 8})->Unit(benchmark::kMicrosecond);
BENCHMARK(findGuideStarInFrame)
    ->Args({1280, 1024, 16})
    ->Args({640, 480, 8})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(measureInSearchBox)
    ->Args({1280, 1024, 16})
    ->Args({640, 480, 8})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
