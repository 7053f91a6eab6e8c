// SPDX-License-Identifier: GPL-3.0-or-later
// What keeping a large camera's dark costs: a 4096 x 4096 master dark (64 MiB of floats) saved
// whole and read back, in time and in resident memory at its peak above what was resident
// before, beside a copy of the dark's values.

#include "peakmemory.h"

#include "video/save/darklibrary.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

using namespace voruna;

namespace {

const DarkFrame &dark()
{
    static const DarkFrame frame = [] {
        DarkFrame d{QSize(4096, 4096), 16, 2.0, 10, {}};
        d.mean.resize(size_t(4096) * 4096);
        for (size_t i = 0; i < d.mean.size(); ++i)
            d.mean[i] = float(200 + i % 97) + 0.25f;
        return d;
    }();
    return frame;
}

using voruna::bench::peakMiB;

void copyBaseline(benchmark::State &state)
{
    benchmark::DoNotOptimize(dark().mean.data()); // made before any peak is measured
    double peak = 0;
    for (auto _ : state)
        peak = std::max(peak, peakMiB([] {
                            std::vector<float> copy(dark().mean);
                            benchmark::DoNotOptimize(copy.data());
                        }));
    state.counters["peak_MiB"] = peak;
}

void save(benchmark::State &state)
{
    QTemporaryDir dir;
    const DarkLibrary library(QStringLiteral("Bench Camera"), dir.path());
    QString error;
    double peak = 0;
    for (auto _ : state)
        peak = std::max(peak,
                        peakMiB([&] { benchmark::DoNotOptimize(library.save(dark(), &error)); }));
    state.counters["peak_MiB"] = peak;
}

void load(benchmark::State &state)
{
    QTemporaryDir dir;
    const DarkLibrary library(QStringLiteral("Bench Camera"), dir.path());
    QString error;
    if (!library.save(dark(), &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    double peak = 0;
    for (auto _ : state)
        peak = std::max(peak, peakMiB([&] {
                            auto back = library.load(2.0, dark().size, 16, &error);
                            benchmark::DoNotOptimize(back);
                        }));
    state.counters["peak_MiB"] = peak;
}

} // namespace

BENCHMARK(copyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(save)->Unit(benchmark::kMillisecond);
BENCHMARK(load)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
