// SPDX-License-Identifier: GPL-3.0-or-later
// Press-to-wire latency of a slew button while the video window previews a 1920 x 1080 MJPEG
// camera at 30 frames a second, or the 6000 x 4000 16-bit frames of an INDI camera (a fake
// server on this computer, half-second exposures), beside the same console with no video, in
// one run. Presses are
// posted from another thread at uneven moments, as a user's clicks land whatever the event loop
// is doing; the time runs from the post to the bytes readable at the adaptor's end. Beside it,
// how long each event on the windows' thread took ("event_*"): a press waits for the event it
// lands in, so these show what the program holds up, apart from what the machine's load adds.
#include "video_support/formrig.h"

#ifdef VORUNA_BENCH_INDI
#include "fakeindiserver.h"
#include "video/drivers/indi/indiservers.h"
#endif

#include "link/portmap.h"
#include "link/qtserialcontrol.h"
#include "shell/form1.h"
#include "shell/messageboxes.h"
#include "shell/slewbutton.h"
#include "tools/ptykit/portlink.h"
#include "tools/ptykit/pseudoterminal.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace voruna;
using namespace voruna::test;

namespace {

class NoMessages final : public MessageBoxes {
public:
    void show(QWidget *, Icon, const QString &) override {}
};

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Times each event the windows' thread handles (outermost only): a press waits for the event
// it lands in, whatever else the machine runs.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth > 0 || !m_timing)
            return QApplication::notify(receiver, event);
        ++m_depth;
        const qint64 start = steadyNs();
        const bool handled = QApplication::notify(receiver, event);
        eventUs.push_back(double(steadyNs() - start) / 1000.0);
        --m_depth;
        return handled;
    }
    void setTiming(bool on) { m_timing = on; }
    std::vector<double> eventUs;

private:
    int m_depth = 0;
    bool m_timing = false;
};

// `mouse` is made on the windows' thread: made on the presser's it would be a child of the
// application in another thread.
void post(QWidget *button, QEvent::Type type, const QPointingDevice *mouse)
{
    const QPointF pos(18, 18);
    QCoreApplication::postEvent(
        button, new QMouseEvent(type, pos, pos, Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier, mouse));
}

// Presses and releases the button from its own thread and times each press to its first byte
// at the adaptor's end of the wire.
std::vector<double> pressTimes(QWidget *button, int master, int presses)
{
    std::vector<double> us;
    // The event loop sleeps between events as the program's does; a loop that spins would
    // compete with the presser for the two cores and measure the scheduler instead.
    QEventLoop loop;
    const QPointingDevice *mouse = QPointingDevice::primaryPointingDevice();
    std::thread presser([&] {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pauseMs(5, 40);
        char buffer[64];
        for (int i = 0; i < presses; ++i) {
            for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
                const qint64 posted = steadyNs();
                post(button, type, mouse);
                pollfd fd{master, POLLIN, 0};
                if (::poll(&fd, 1, 2000) <= 0)
                    break;
                const qint64 arrived = steadyNs();
                std::this_thread::sleep_for(std::chrono::milliseconds(2)); // the whole command
                [[maybe_unused]] const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (type == QEvent::MouseButtonPress)
                    us.push_back(double(arrived - posted) / 1000.0);
            }
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    presser.join();
    return us;
}

enum class Video { None, Mjpeg, Indi };

// Opens the video window on a 6000 x 4000 16-bit INDI camera and waits for its first picture.
bool openIndi(FormRig &rig, std::unique_ptr<QThread> *server)
{
#ifdef VORUNA_BENCH_INDI
    auto *fake = new FakeIndiServer(QSize(6000, 4000));
    server->reset(fake);
    std::vector<std::unique_ptr<DriverSource>> sources;
    sources.push_back(
        std::make_unique<IndiDriverSource>(QList<IndiServer>{{"127.0.0.1", fake->port()}}));
    rig.layer = makeCaptureLayer(std::move(sources));
    rig.open();
    if (!rig.sub() || !rig.sub()->device())
        return false;
    constexpr quint32 exposureMs = 1; // the INDI camera's exposure control
    rig.sub()->device()->setControl(exposureMs, 500);
    return QTest::qWaitFor([&rig] { return !rig.picture()->frame().isNull(); }, 60000);
#else
    Q_UNUSED(rig);
    Q_UNUSED(server);
    return false;
#endif
}

int framesSent(const std::unique_ptr<QThread> &server)
{
#ifdef VORUNA_BENCH_INDI
    return server ? static_cast<FakeIndiServer *>(server.get())->framesSent() : 0;
#else
    Q_UNUSED(server);
    return 0;
#endif
}

void pressToWire(benchmark::State &state, Video video)
{
    QTemporaryDir home;
    PseudoTerminal pty;
    PortLink link;
    QString error;
    if (!pty.open(&error)
        || !link.create(home.path(), 1, pty.slavePath(), PortLink::Existing::Replace, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const QString ports = home.path();
    QtSerialControl serial([ports](int n) { return deviceForPort(n, ports, {}); });
    NoMessages messages;
    Form1 console(serial, messages);
    console.show();
    console.Combo1->addItem(QStringLiteral("COM 1:"));
    console.Combo1->setCurrentIndex(0);
    console.Form1_Combo1_Click();
    ::usleep(20000);
    tcflush(pty.masterFd(), TCIFLUSH); // the probe

    FormRig rig;
    FakeCameraConfig camera = webcamConfig();
    camera.formats[1].sizes.append(QSize(1920, 1080));
    camera.fourcc = V4L2_PIX_FMT_MJPEG;
    camera.size = QSize(1920, 1080);
    rig.fake->addCamera(0, camera);
    QTimer frames;
    std::unique_ptr<QThread> server;
    if (video == Video::Mjpeg) {
        rig.open();
        // The fake camera encodes its picture with the first frame: not part of the program.
        rig.fake->produceFrame(0);
        QObject::connect(&frames, &QTimer::timeout, &frames, [&rig] { rig.fake->produceFrame(0); });
        frames.start(33);
    } else if (video == Video::Indi && !openIndi(rig, &server)) {
        state.SkipWithError("no picture from the INDI camera");
        return;
    }
    auto *app = static_cast<TimedApplication *>(QCoreApplication::instance());
    app->eventUs.clear();
    app->setTiming(true);
    std::vector<double> us;
    for (auto _ : state)
        us = pressTimes(console.Command1, pty.masterFd(), 300);
    app->setTiming(false);
    if (us.empty()) {
        state.SkipWithError("no bytes on the wire");
        return;
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[size_t(0.99 * double(us.size() - 1))];
    state.counters["max_us"] = us.back();
    std::vector<double> &events = app->eventUs;
    std::sort(events.begin(), events.end());
    state.counters["event_p99_us"] = events[size_t(0.99 * double(events.size() - 1))];
    state.counters["event_max_us"] = events.back();
    state.counters["frames_sent"] =
        video == Video::Indi ? framesSent(server) : rig.fake->framesProduced();
}

} // namespace

BENCHMARK_CAPTURE(pressToWire, no_video, Video::None)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pressToWire, mjpeg_1080p_preview, Video::Mjpeg)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
#ifdef VORUNA_BENCH_INDI
BENCHMARK_CAPTURE(pressToWire, indi_6000x4000_16bit, Video::Indi)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
