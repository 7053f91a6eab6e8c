// SPDX-License-Identifier: GPL-3.0-or-later
// What saving a frame as FITS costs, which bounds the frames a recording keeps up with: the file
// made in memory, and written to disk whole; a copy of the frame's bytes is the baseline.
#include "video/save/fitssave.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace voruna;

namespace {

// 0: a webcam's colour frame; 1: the same in grey, in a colour buffer as 8-bit cameras give it;
// 2: INDI's CCD simulator, 16-bit grey.
QImage frameOf(int kind)
{
    QImage frame(kind == 2 ? QSize(1280, 1024) : QSize(640, 480),
                 kind == 2 ? QImage::Format_Grayscale16 : QImage::Format_RGB32);
    frame.fill(kind == 0 ? QColor(40, 50, 60) : QColor(50, 50, 50));
    return frame;
}

const FrameFacts facts{{.name = QStringLiteral("Bench Camera"), .exposureSeconds = 1.0}, {}};

void copyBaseline(benchmark::State &state)
{
    const QImage frame = frameOf(int(state.range(0)));
    std::vector<uchar> copy(std::size_t(frame.sizeInBytes()));
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.constBits(), copy.size());
        benchmark::DoNotOptimize(copy.data());
    }
}

void inMemory(benchmark::State &state)
{
    const QImage frame = frameOf(int(state.range(0)));
    QString error;
    for (auto _ : state)
        benchmark::DoNotOptimize(fitsBytes(frame, state.range(0) == 2 ? 16 : 8, facts, &error));
}

void toDisk(benchmark::State &state)
{
    const QImage frame = frameOf(int(state.range(0)));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frame.fits"));
    QString error;
    for (auto _ : state)
        benchmark::DoNotOptimize(saveFits(path, frame, state.range(0) == 2 ? 16 : 8, facts, &error));
}

} // namespace

BENCHMARK(copyBaseline)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(inMemory)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(toDisk)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
