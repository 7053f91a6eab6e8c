// SPDX-License-Identifier: GPL-3.0-or-later
// What the guiding window costs the guide loop on the UI thread, per frame: the record handed
// over on the loop's own path (before its corrections go out), and the redraw of the graph and
// the numbers that follows in the event loop, with the history of the shown time behind it. The
// baseline is one turn of an idle event loop.

#include "guide/guidestats.h"
#include "guide/window/guidegraph.h"
#include "guide/window/guidewindow.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

using namespace voruna;

class NoOutput : public GuideOutput {
public:
    bool startMove(GuideDirection) override { return true; }
    bool stopMove(GuideDirection) override { return true; }
};

// A plausible frame at `time`: seeing of about a fifth of a pixel, small corrections.
GuideRecord recordAt(double time, std::mt19937 &rng)
{
    std::normal_distribution<double> seeing(0.0, 0.2);
    GuideRecord r;
    r.time = time;
    r.raPixels = seeing(rng) + 0.2 * std::sin(time / 60.0);
    r.decPixels = seeing(rng);
    r.raPulse = -0.1 * r.raPixels;
    r.decPulse = std::abs(r.decPixels) > 0.2 ? -0.1 * r.decPixels : 0.0;
    r.snr = 40.0;
    return r;
}

struct Window {
    QTemporaryDir config;
    NoOutput output;
    GuideSession session{output};
    GuideWindow window{session};
    std::mt19937 rng{1};
    double time = 0.0;

    explicit Window(int history)
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        window.setCamera(QStringLiteral("bench"), QStringLiteral("Bench"), CameraFacts{}, 2.0);
        window.show();
        // Guiding, so that the window keeps the records.
        Calibration calibration;
        calibration.west = QPointF(7.5, 0.0);
        calibration.north = QPointF(0.0, -7.5);
        session.engine().useCalibration(calibration);
        session.guide(QPointF(100.0, 100.0));
        for (int i = 0; i < history; ++i)
            next();
        QCoreApplication::processEvents();
    }
    // One frame every two seconds, as the sky's two-second exposures come.
    void next()
    {
        time += 2.0;
        Q_EMIT session.recorded(recordAt(time, rng));
    }
};

void idleEventLoop(benchmark::State &state)
{
    for (auto _ : state)
        QCoreApplication::processEvents();
}

// The record handed over, as the guide loop pays for it; the redraw waits.
void recordHandedOver(benchmark::State &state)
{
    Window w(int(state.range(0)));
    for (auto _ : state)
        w.next();
    QCoreApplication::processEvents();
}

// One drawing of the graph and the numbers over the history of the shown time, painted; the
// window draws at most a few a second, whatever the camera's frame rate.
void graphDrawn(benchmark::State &state)
{
    std::mt19937 rng{1};
    std::deque<GuideRecord> records;
    double time = 0.0;
    for (int i = 0; i < state.range(0); ++i)
        records.push_back(recordAt(time += 2.0, rng));
    GuideGraph graph;
    graph.resize(740, 420);
    graph.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        records.push_back(recordAt(time += 2.0, rng));
        records.pop_front();
        benchmark::DoNotOptimize(guideStats(records, time, 300.0, 2.0));
        graph.draw(records, time, 300.0, 2.0, QStringLiteral("arcseconds"));
        graph.repaint();
        for (QWidget *child : graph.findChildren<QWidget *>())
            child->repaint();
    }
}

BENCHMARK(idleEventLoop)->Unit(benchmark::kMicrosecond);
// No history; five minutes of two-second frames (the window's default time shown).
BENCHMARK(recordHandedOver)->Arg(0)->Arg(150)->Unit(benchmark::kMicrosecond);
BENCHMARK(graphDrawn)->Arg(1)->Arg(150)->Arg(300)->Unit(benchmark::kMicrosecond);

} // namespace

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
