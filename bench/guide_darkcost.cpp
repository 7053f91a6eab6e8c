// SPDX-License-Identifier: GPL-3.0-or-later
// What darks cost: cleaning a frame (the dark taken off, hot pixels mended) as each frame is
// before its star is measured, adding a frame to a dark under way, and making the hot-pixel map
// when a camera's darks are read; beside a plain copy of the same frame.

#include "guide/darkframe.h"
#include "guide/syntheticframe.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace voruna;

// A covered sensor's frame with a hundred hot pixels, and a dark of eight of them.
struct Sensor {
    SyntheticFrame frame;
    DarkFrame dark;
    explicit Sensor(int width, int height, int bits) : frame(width, height, bits)
    {
        std::mt19937_64 random(7);
        std::uniform_int_distribution<int> x(0, width - 1), y(0, height - 1);
        for (int i = 0; i < 100; ++i)
            frame.addHotPixel(QPoint(x(random), y(random)), bits == 16 ? 20000 : 200);
        DarkStacker stacker(1.0);
        for (std::uint64_t seed = 1; seed <= 8; ++seed) {
            frame.expose({.sky = 5.0, .bias = bits == 16 ? 500.0 : 8.0,
                          .adusPerElectron = bits == 16 ? 1.0 : 0.2, .seed = seed});
            stacker.add(frame.view());
        }
        dark = stacker.result();
    }
};

void args(benchmark::internal::Benchmark *b)
{
    b->Args({640, 480, 8})->Args({1280, 960, 16})->Args({4096, 4096, 16})->Unit(benchmark::kMicrosecond);
}

void copyFrame(benchmark::State &state)
{
    Sensor sensor(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    const FrameView view = sensor.frame.view();
    std::vector<uchar> out(size_t(view.stride) * size_t(view.height));
    for (auto _ : state) {
        std::memcpy(out.data(), view.pixels, out.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void cleanFrame(benchmark::State &state)
{
    Sensor sensor(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    DarkCorrection correction;
    correction.setDark(sensor.dark);
    correction.setHotPixels(HotPixelMap::fromDark(sensor.dark));
    FrameView view = sensor.frame.view();
    for (auto _ : state) {
        view.time += std::chrono::nanoseconds(1); // a new frame, never the one cleaned before
        benchmark::DoNotOptimize(correction.apply(view).pixels);
    }
    state.counters["hot"] = double(correction.hotPixels().pixels().size());
}

void stackFrame(benchmark::State &state)
{
    Sensor sensor(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    DarkStacker stacker(1.0);
    for (auto _ : state)
        benchmark::DoNotOptimize(stacker.add(sensor.frame.view()));
}

void mapHotPixels(benchmark::State &state)
{
    Sensor sensor(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    for (auto _ : state)
        benchmark::DoNotOptimize(HotPixelMap::fromDark(sensor.dark).pixels().size());
}

BENCHMARK(copyFrame)->Apply(args);
BENCHMARK(cleanFrame)->Apply(args);
BENCHMARK(stackFrame)->Apply(args);
BENCHMARK(mapHotPixels)->Apply(args)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
