// SPDX-License-Identifier: GPL-3.0-or-later
// Guiding in real time on the wire: the time from a frame's star reaching the guide session to
// the correction's start command on the far side of a pseudo-terminal, beside the same write
// without the session; and how close each correction's stop lands to the time asked, with the
// UI thread idle and with it busy as frames keep it.
#include "guide/guidesession.h"
#include "link/adaptorprotocol.h"
#include "link/portmap.h"
#include "link/qtserialcontrol.h"
#include "shell/serialguideoutput.h"
#include "tools/ptykit/portlink.h"
#include "tools/ptykit/pseudoterminal.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace voruna;

namespace {

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void percentiles(benchmark::State &state, std::vector<double> samples, const std::string &name)
{
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[size_t(q * double(samples.size() - 1))]; };
    state.counters["median_" + name] = at(0.5);
    state.counters["p99_" + name] = at(0.99);
}

// The adaptor's side of the wire, on its own thread: when each byte became readable there.
class WireWatcher {
public:
    explicit WireWatcher(int master) : m_master(master), m_thread([this] { run(); }) {}
    ~WireWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    qint64 lastArrivalNs() const { return m_arrivalNs; }
    // Waits until `total` bytes have arrived, turning the event loop; false after two seconds.
    bool waitFor(qint64 total) const
    {
        const qint64 deadline = steadyNs() + 2000000000;
        while (m_bytes < total) {
            QCoreApplication::processEvents();
            if (steadyNs() > deadline)
                return false;
        }
        return true;
    }

private:
    void run()
    {
        char buffer[256];
        while (!m_stop) {
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                m_arrivalNs = steadyNs();
                m_bytes += n;
            }
        }
    }
    int m_master;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_bytes{0};
    std::atomic<qint64> m_arrivalNs{0};
    std::thread m_thread;
};

// The console's port, opened on a pseudo-terminal whose far end the watcher reads, and a
// session guiding on it: one pixel of error west is one East correction of about 19 ms.
struct Rig {
    QTemporaryDir home;
    PseudoTerminal pty;
    PortLink link;
    std::unique_ptr<QtSerialControl> serial;
    std::unique_ptr<SerialGuideOutput> output;
    std::unique_ptr<GuideSession> session;
    QString error;

    Rig()
    {
        if (!pty.open(&error)
            || !link.create(home.path(), 1, pty.slavePath(), PortLink::Existing::Replace, &error))
            return;
        const QString folder = home.path();
        serial = std::make_unique<QtSerialControl>(
            [folder](int n) { return deviceForPort(n, folder, {}); });
        ErrorTrap trap;
        trap.arm();
        runOpenSequence(*serial, 0, trap);
        if (!trap.clean()) {
            error = describe(trap.firstError());
            return;
        }
        output = std::make_unique<SerialGuideOutput>(*serial);
        session = std::make_unique<GuideSession>(*output);
        session->setLogFolder(home.filePath(QStringLiteral("state")));
        GuideSettings settings;
        settings.raAlgorithm = GuideSettings::RaAlgorithm::Hysteresis;
        session->engine().setGuideSettings(settings);
        session->engine().useCalibration({.west = {37.5, 0.0}, .north = {0.0, -37.5}});
        session->guide(kLock);
    }
    static StarMeasurement starAt(QPointF centre)
    {
        StarMeasurement star;
        star.centre = centre;
        star.snr = 50.0;
        return star;
    }
    // Turns the event loop until no correction runs.
    void settle() const
    {
        while (std::any_of(kDirections.begin(), kDirections.end(),
                           [this](GuideDirection d) { return session->isMoving(d); }))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    static constexpr QPointF kLock{100.0, 100.0};
    static constexpr std::array<GuideDirection, 4> kDirections{
        GuideDirection::North, GuideDirection::South, GuideDirection::West, GuideDirection::East};
};

// The baseline: the start command written straight to the port, no session.
void BM_WriteToWire(benchmark::State &state)
{
    Rig rig;
    if (!rig.session) {
        state.SkipWithError(qPrintable(rig.error));
        return;
    }
    WireWatcher wire(rig.pty.masterFd());
    std::vector<double> us;
    qint64 expected = 0;
    for (auto _ : state) {
        const qint64 start = steadyNs();
        rig.serial->setOutput(commandsFor(Direction::East).start);
        if (!wire.waitFor(expected += 4)) {
            state.SkipWithError("no bytes on the wire");
            return;
        }
        us.push_back(double(wire.lastArrivalNs() - start) / 1000.0);
        rig.serial->setOutput(commandsFor(Direction::East).stop);
        wire.waitFor(expected += 4);
    }
    percentiles(state, us, "us");
}
BENCHMARK(BM_WriteToWire)->Iterations(300)->Unit(benchmark::kMicrosecond);

// A frame's star handed to the session, to the start of the correction it asks for.
void BM_StarToWire(benchmark::State &state)
{
    Rig rig;
    if (!rig.session) {
        state.SkipWithError(qPrintable(rig.error));
        return;
    }
    WireWatcher wire(rig.pty.masterFd());
    std::vector<double> us;
    qint64 expected = 0;
    const QPointF off = Rig::kLock + QPointF(1.0, 0.0);
    for (auto _ : state) {
        // A frame exposed while a correction ran computes nothing: frames come until one does.
        qint64 start = 0;
        int frames = 0;
        do {
            rig.settle();
            start = steadyNs();
            rig.session->onStar(Rig::starAt(off));
        } while (!rig.session->isMoving(GuideDirection::East) && ++frames < 5);
        if (!rig.session->isMoving(GuideDirection::East)) {
            state.SkipWithError("the session asked for no correction");
            return;
        }
        if (!wire.waitFor(expected += 4)) {
            state.SkipWithError("no start on the wire");
            return;
        }
        us.push_back(double(wire.lastArrivalNs() - start) / 1000.0);
        rig.settle();
        wire.waitFor(expected += 4);
    }
    percentiles(state, us, "us");
}
BENCHMARK(BM_StarToWire)->Iterations(300)->Unit(benchmark::kMicrosecond);

// A 100 ms correction as the adaptor sees it: stop's arrival less start's, less 100 ms. With
// `busyMs` > 0 the UI thread is busy that long every 10 ms, as a large frame keeps it.
void BM_PulseLength(benchmark::State &state)
{
    const int busyMs = int(state.range(0));
    Rig rig;
    if (!rig.session) {
        state.SkipWithError(qPrintable(rig.error));
        return;
    }
    QTimer load;
    load.setInterval(10);
    QObject::connect(&load, &QTimer::timeout, &load, [busyMs] {
        const qint64 until = steadyNs() + qint64(busyMs) * 1000000;
        while (steadyNs() < until) {
        }
    });
    if (busyMs > 0)
        load.start();
    WireWatcher wire(rig.pty.masterFd());
    std::vector<double> lateUs;
    qint64 expected = 0;
    for (auto _ : state) {
        rig.session->onStar(Rig::starAt(Rig::kLock)); // keeps the watchdog fed
        rig.session->startPulse({GuideDirection::North, 0.1});
        if (!wire.waitFor(expected += 4)) {
            state.SkipWithError("no start on the wire");
            return;
        }
        const qint64 started = wire.lastArrivalNs();
        rig.settle();
        wire.waitFor(expected += 4);
        lateUs.push_back(double(wire.lastArrivalNs() - started) / 1000.0 - 100000.0);
    }
    percentiles(state, lateUs, "late_us");
    state.counters["worst_late_us"] = *std::max_element(lateUs.begin(), lateUs.end());
}
BENCHMARK(BM_PulseLength)->Arg(0)->Arg(4)->Iterations(60)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
