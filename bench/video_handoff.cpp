// SPDX-License-Identifier: GPL-3.0-or-later
// What handing a frame's luminance to the guide star costs on the windows' thread: a grey frame
// is lent, a colour one converted; a copy of the frame is the baseline.
#include "video/guidestarview.h"

#include <QImage>

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace voruna;

namespace {

const QSize sizes[] = {{320, 240}, {1280, 960}};

QImage frameOf(QImage::Format format, int sizeIndex)
{
    QImage frame(sizes[sizeIndex], format);
    frame.fill(QColor(40, 50, 60));
    return frame;
}

void copyBaseline(benchmark::State &state)
{
    const QImage frame = frameOf(QImage::Format_RGB888, int(state.range(0)));
    std::vector<uchar> copy(std::size_t(frame.sizeInBytes()));
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.constBits(), copy.size());
        benchmark::DoNotOptimize(copy.data());
    }
}

void handOver(benchmark::State &state, QImage::Format format)
{
    const QImage frame = frameOf(format, int(state.range(0)));
    QImage store;
    for (auto _ : state)
        benchmark::DoNotOptimize(luminanceView(frame, &store).pixels);
}

} // namespace

BENCHMARK(copyBaseline)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(handOver, grey16, QImage::Format_Grayscale16)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(handOver, rgb888, QImage::Format_RGB888)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(handOver, rgbx64, QImage::Format_RGBX64)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
