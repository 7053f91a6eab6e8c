// SPDX-License-Identifier: GPL-3.0-or-later
// From the program's start to the splash on screen, and to the console on screen after the
// splash's hand-over. Each iteration starts a fresh process (this program with --child), which
// builds the windows as the program does and reports when each first paints. Run it under a
// real display (xvfb-run) for figures that include the X server.
#include "link/qtserialcontrol.h"
#include "shell/form1.h"
#include "shell/form5.h"
#include "shell/windowflow.h"
#include "video/capture/capturedevice.h"
#include "video/drivers/sky/skycamera.h"
#include "video/drivers/v4l2/v4l2device.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace voruna;

namespace {

// Message boxes that do not wait, so that the hand-over can be timed without a user.
class NoMessages final : public MessageBoxes {
public:
    void show(QWidget *, Icon, const QString &) override {}
};

// Prints "<what> <ms since the process began>" at the first paint of a window.
class FirstPaint final : public QObject {
public:
    FirstPaint(const char *what, qint64 originNs) : m_what(what), m_originNs(originNs) {}
    QWidget *window = nullptr;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Any paint inside the window: its controls may cover it whole.
        if (event->type() == QEvent::Paint && !m_done && window && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window() == window) {
            m_done = true;
            std::printf("%s %.3f\n", m_what, double(nowNs() - m_originNs) / 1e6);
            std::fflush(stdout);
        }
        return QObject::eventFilter(watched, event);
    }
    static qint64 nowNs()
    {
        timespec t{};
        clock_gettime(CLOCK_REALTIME, &t);
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    }

private:
    const char *m_what;
    qint64 m_originNs;
    bool m_done = false;
};

int child(int argc, char **argv, qint64 originNs)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QtSerialControl serial([](int) { return QString(); });
    NoMessages messages;
    // The program's own driver list: the cameras, then the sky simulator.
    std::vector<std::unique_ptr<DriverSource>> sources;
    sources.push_back(std::make_unique<V4l2DriverSource>(makeKernelSyscalls()));
    sources.push_back(std::make_unique<SkyDriverSource>());
    const std::unique_ptr<CaptureLayer> capture = makeCaptureLayer(std::move(sources));
    WindowFlow windows(serial, messages, *capture);
    FirstPaint splash("splash", originNs);
    FirstPaint console("console", originNs);
    windows.start();
    splash.window = windows.form5();
    app.installEventFilter(&splash);
    // The console exists only once the timer has fired; watch for it from then on.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        if (Form1 *f = windows.form1()) {
            console.window = f;
            app.installEventFilter(&console);
            watch.stop();
            QTimer::singleShot(500, &app, [] { QCoreApplication::exit(0); });
        }
    });
    watch.start(1);
    return app.exec();
}

void BM_StartToWindows(benchmark::State &state)
{
    std::vector<double> splash, console;
    for (auto _ : state) {
        QProcess process;
        const qint64 origin = FirstPaint::nowNs();
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--child"), QString::number(origin)});
        if (!process.waitForFinished(15000)) {
            state.SkipWithError("the child did not finish");
            return;
        }
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() == 2)
                (f[0] == "splash" ? splash : console).push_back(f[1].toDouble());
        }
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? -1.0 : v[v.size() / 2];
    };
    state.counters["splash_ms"] = median(splash);
    state.counters["console_ms"] = median(console);
}
BENCHMARK(BM_StartToWindows)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--child")
        return child(1, argv, std::stoll(argv[2]));
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
