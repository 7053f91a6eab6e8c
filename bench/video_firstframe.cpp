// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the video window to its first shown frame with the scripted camera.
#include "video_support/formrig.h"

#include <QApplication>

#include <benchmark/benchmark.h>

using namespace voruna;
using namespace voruna::test;

namespace {

void openToFirstFrame(benchmark::State &state)
{
    FormRig rig;
    FakeCameraConfig config = webcamConfig();
    config.size = QSize(640, 480);
    rig.fake->addCamera(0, config);
    for (auto _ : state) {
        rig.open();
        rig.fake->produceFrame(0);
        while (rig.picture()->frame().isNull())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        rig.picture()->repaint();
        state.PauseTiming();
        rig.close();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(openToFirstFrame)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
