// SPDX-License-Identifier: GPL-3.0-or-later
// How quickly the guide console reaches the adaptor: a pad press to its bytes on the wire, a
// "Connect" click to the detection message, and the memory the running console holds.
#include "link/portmap.h"
#include "link/qtserialcontrol.h"
#include "shell/form1.h"
#include "shell/slewbutton.h"
#include "tools/ptykit/portlink.h"
#include "tools/ptykit/pseudoterminal.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace voruna;

namespace {

class TimedMessages final : public MessageBoxes {
public:
    void show(QWidget *, Icon, const QString &text) override
    {
        lastText = text;
        shownAtNs = clock.nsecsElapsed();
    }
    QElapsedTimer clock;
    QString lastText;
    qint64 shownAtNs = 0;
};

void percentiles(benchmark::State &state, std::vector<double> samples, const char *unit)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[size_t(q * double(samples.size() - 1))]; };
    state.counters[std::string("median_") + unit] = at(0.5);
    state.counters[std::string("p99_") + unit] = at(0.99);
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

void sendMouse(QWidget *w, QEvent::Type type)
{
    const QPointF pos(18, 18);
    QMouseEvent event(type, pos, w->mapToGlobal(pos), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The adaptor's side of the wire, on its own thread: notes when bytes become readable there,
// while the console's thread is still busy finishing the handler (lamp, text).
class WireWatcher {
public:
    explicit WireWatcher(int master) : m_master(master), m_thread([this] { run(); }) {}
    ~WireWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    qint64 bytes() const { return m_bytes; }
    qint64 lastArrivalNs() const { return m_arrivalNs; }
    // Waits until `total` bytes have arrived; false after a second.
    bool waitFor(qint64 total) const
    {
        const qint64 deadline = steadyNs() + 1000000000;
        while (m_bytes < total)
            if (steadyNs() > deadline)
                return false;
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

// A shown console whose port list holds COM 1:, selected, resolved in `portsFolder` only.
struct ConsoleOnPort1 {
    explicit ConsoleOnPort1(const QString &portsFolder)
        : serial([portsFolder](int n) { return deviceForPort(n, portsFolder, {}); })
        , console(serial, messages)
    {
        console.show();
        console.Combo1->addItem(QStringLiteral("COM 1:"));
        console.Combo1->setCurrentIndex(0);
    }
    QtSerialControl serial;
    TimedMessages messages;
    Form1 console;
};

void BM_PressToWire(benchmark::State &state)
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
    ConsoleOnPort1 rig(home.path());
    Form1 &console = rig.console;
    console.Form1_Combo1_Click();
    std::vector<double> pressUs;
    WireWatcher wire(pty.masterFd());
    qint64 expected = 0;
    for (auto _ : state) {
        const qint64 pressed = steadyNs();
        sendMouse(console.Command1, QEvent::MouseButtonPress);
        expected += 4;
        if (!wire.waitFor(expected)) {
            state.SkipWithError("no bytes on the wire");
            return;
        }
        pressUs.push_back(double(wire.lastArrivalNs() - pressed) / 1000.0);
        sendMouse(console.Command1, QEvent::MouseButtonRelease);
        expected += 4;
        wire.waitFor(expected);
    }
    percentiles(state, pressUs, "us");
}
BENCHMARK(BM_PressToWire)->Iterations(500)->Unit(benchmark::kMicrosecond);

void BM_ConnectToMessage(benchmark::State &state)
{
    QTemporaryDir home;
    const QString sim =
        QString::fromLocal8Bit(qgetenv("VORUNA_TOOLS_DIR")) + QStringLiteral("/voruna-adaptor-sim");
    QProcess adaptor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    adaptor.setProcessEnvironment(env);
    adaptor.start(sim, {QStringLiteral("--port"), QStringLiteral("1")});
    if (!adaptor.waitForReadyRead(5000)) {
        state.SkipWithError("set VORUNA_TOOLS_DIR to the folder of voruna-adaptor-sim");
        return;
    }
    ConsoleOnPort1 rig(home.path() + QStringLiteral("/voruna/ports"));
    Form1 &console = rig.console;
    TimedMessages &messages = rig.messages;
    std::vector<double> ms;
    for (auto _ : state) {
        messages.clock.start();
        messages.lastText.clear();
        console.Command5->click();
        if (messages.lastText != QLatin1String("USB Autoguide Adaptor detected")) {
            state.SkipWithError("adaptor not detected");
            return;
        }
        ms.push_back(double(messages.shownAtNs) / 1e6);
    }
    percentiles(state, ms, "ms");
    adaptor.terminate();
    adaptor.waitForFinished(2000);
}
BENCHMARK(BM_ConnectToMessage)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_ConsoleResident(benchmark::State &state)
{
    QtSerialControl serial([](int) { return QString(); });
    TimedMessages messages;
    for (auto _ : state) {
        Form1 console(serial, messages);
        console.Form1_Form_Load();
        console.show();
        QApplication::processEvents();
        state.counters["resident_MiB"] = double(residentKiB()) / 1024.0;
    }
}
BENCHMARK(BM_ConsoleResident)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
