// What one picture of the simulated sky costs to render, per frame size.

#include "video/starfield.h"

#include <benchmark/benchmark.h>

namespace {

void renderSky(benchmark::State &state)
{
    const voruna::StarField sky;
    voruna::SkyView view;
    view.size = QSize(int(state.range(0)), int(state.range(1)));
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

} // namespace

BENCHMARK(renderSky)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
