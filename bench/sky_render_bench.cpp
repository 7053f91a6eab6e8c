// SPDX-License-Identifier: GPL-3.0-or-later
// What the sky simulator costs the program: one picture of the simulated sky per frame size,
// straight and with the camera turned, covered (the sensor's dark signal alone), and one look at
// the driver list's sky entry while no simulator runs. The baseline: copying a picture of each
// size, the least any frame costs.

#include "video/drivers/sky/skycamera.h"
#include "video/drivers/sky/starfield.h"

#include <QTemporaryDir>

#include <cstring>

#include <benchmark/benchmark.h>

namespace {

void renderSky(benchmark::State &state)
{
    const voruna::StarField sky;
    voruna::SkyView view;
    view.size = QSize(int(state.range(0)), int(state.range(1)));
    view.angle = double(state.range(2)); // degrees
    view.covered = state.range(3) != 0;
    QImage image;
    for (auto _ : state) {
        // A moving view, as while a slew button is held.
        view.offset += QPointF(0.25, 0.5);
        ++view.noiseSeed;
        sky.render(view, &image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * view.size.width() * view.size.height());
}

void copyPicture(benchmark::State &state)
{
    const QImage source(QSize(int(state.range(0)), int(state.range(1))), QImage::Format_RGB888);
    QImage copy(source.size(), source.format());
    for (auto _ : state) {
        std::memcpy(copy.bits(), source.constBits(), std::size_t(source.sizeInBytes()));
        benchmark::DoNotOptimize(copy.constBits());
    }
    state.SetItemsProcessed(state.iterations() * source.width() * source.height());
}

void listWithoutSimulator(benchmark::State &state)
{
    QTemporaryDir folder;
    voruna::SkyDriverSource source(folder.path());
    for (auto _ : state)
        benchmark::DoNotOptimize(source.drivers());
}

} // namespace

BENCHMARK(copyPicture)
    ->ArgNames({"width", "height"})
    ->Args({320, 240})
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(renderSky)
    ->ArgNames({"width", "height", "angle", "covered"})
    ->Args({320, 240, 0, 0})
    ->Args({640, 480, 0, 0})
    ->Args({640, 480, 15, 0})
    ->Args({640, 480, 0, 1})
    ->Args({1280, 720, 0, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(listWithoutSimulator)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
