// SPDX-License-Identifier: GPL-3.0-or-later
// What a FITS frame from an INDI server costs once the client library holds it: the time to
// decode a 6000 x 4000 16-bit frame and the memory it takes at its peak beyond the frame itself,
// read where it is and after a copy of it, beside a copy of its bytes alone.

#include "peakmemory.h"

#include "video/drivers/indi/indiframe.h"

#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int width = 6000;
constexpr int height = 4000;

const QByteArray &frame()
{
    static const QByteArray bytes = [] {
        QByteArray header;
        for (const QByteArray &card :
             {QByteArray("SIMPLE  =                    T"),
              QByteArray("BITPIX  =                   16"),
              QByteArray("NAXIS   =                    2"),
              "NAXIS1  = " + QByteArray::number(width).rightJustified(20),
              "NAXIS2  = " + QByteArray::number(height).rightJustified(20),
              QByteArray("BZERO   =                32768"), QByteArray("END")})
            header += card.leftJustified(80, ' ');
        header = header.leftJustified(2880, ' ');
        const qint64 data = qint64(width) * height * 2;
        return header + QByteArray((data + 2879) / 2880 * 2880, '\x11');
    }();
    return bytes;
}

using voruna::bench::peakMiB;

void copyOnly(benchmark::State &state)
{
    const QByteArray &bytes = frame();
    double peak = 0;
    for (auto _ : state)
        peak = std::max(peak, peakMiB([&] {
                            QByteArray copy(bytes.constData(), bytes.size());
                            benchmark::DoNotOptimize(copy.data());
                        }));
    state.counters["peak_MiB"] = peak;
    state.counters["frame_MiB"] = double(bytes.size()) / (1 << 20);
}

// range(0): 1 decodes a copy of the frame, as the client once made, 0 the library's bytes.
void decodeFits(benchmark::State &state)
{
    const QByteArray &bytes = frame();
    double peak = 0;
    for (auto _ : state)
        peak = std::max(peak, peakMiB([&] {
                            const QByteArray held =
                                state.range(0)
                                    ? QByteArray(bytes.constData(), bytes.size())
                                    : QByteArray::fromRawData(bytes.constData(), bytes.size());
                            QImage image;
                            QString error;
                            if (!voruna::decodeFitsFrame(held, &image, &error))
                                state.SkipWithError(qPrintable(error));
                            benchmark::DoNotOptimize(image.constBits());
                        }));
    state.counters["peak_MiB"] = peak;
}

} // namespace

BENCHMARK(copyOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(decodeFits)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
