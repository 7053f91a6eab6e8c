// SPDX-License-Identifier: GPL-3.0-or-later
// Detection of the adaptor by the guide console, against the simulator on a pseudo-terminal:
// start-up orders, the link states after each handler, and devices that misbehave.
#include "shell/form1.h"
#include "shell/lamp.h"
#include "support/consolefixture.h"
#include "support/ptypeer.h"
#include "support/simprocess.h"

#include "shell/slewbutton.h"
#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QWheelEvent>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace voruna;
using voruna::test::ConsoleFixture;
using voruna::test::lampColor;
using voruna::test::padEnabled;

namespace {
const QString kNotFound = QStringLiteral("Communication Port not found");
const QString kNotInitialized = QStringLiteral("Communication Port not initialized");
const QString kDetected = QStringLiteral("USB Autoguide Adaptor detected");
const QColor kRedLamp(255, 0, 0);
const QColor kGreenLamp(0, 255, 0);
const QColor kBlackLamp(0, 0, 0);
} // namespace

class LinkConsoleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startUp_data();
    void startUp();
    void connectStates_data();
    void connectStates();
    void portChangeNeverProbes();
    void connectWithoutSelection();
    void floodingDeviceDoesNotHoldTheConsole();
    void floodBetweenReadsIsBounded();
    void portListFollowsTheUser();
    void busyPort();
    void messageIcons();
};

void LinkConsoleTest::startUp_data()
{
    QTest::addColumn<QByteArray>("settings");    // empty: no file
    QTest::addColumn<QStringList>("simOptions"); // sim on COM3; "none": no device at all
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QColor>("lamp");
    QTest::addColumn<bool>("pad");
    QTest::addColumn<bool>("open");
    const QStringList none{QStringLiteral("none")};
    QTest::newRow("saved COM3, adaptor answers")
        << QByteArray(" 2 \r\n") << QStringList{} << QStringList{kDetected} << kGreenLamp << true
        << true;
    QTest::newRow("saved COM3, nothing answers") << QByteArray(" 2 \r\n") << QStringList{"--silent"}
                                                 << QStringList{} << kBlackLamp << true << true;
    QTest::newRow("saved COM3, answer with line end")
        << QByteArray(" 2 \r\n") << QStringList{"--line-end"} << QStringList{} << kBlackLamp << true
        << true;
    QTest::newRow("saved COM3, answer in two pieces")
        << QByteArray(" 2 \r\n") << QStringList{"--split", "1000"} << QStringList{kDetected}
        << kGreenLamp << true << true;
    QTest::newRow("saved port cannot open")
        << QByteArray(" 2 \r\n") << none << QStringList{kNotFound, kNotInitialized} << kRedLamp
        << false << false;
    QTest::newRow("no saved selection")
        << QByteArray() << QStringList{} << QStringList{kNotInitialized} << kRedLamp << false
        << false;
    QTest::newRow("saved -1") << QByteArray("-1 \r\n") << QStringList{}
                              << QStringList{kNotInitialized} << kRedLamp << false << false;
    QTest::newRow("torn file") << QByteArray(" ") << QStringList{} << QStringList{kNotInitialized}
                               << kRedLamp << false << false;
}

void LinkConsoleTest::startUp()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, simOptions);
    ConsoleFixture fixture;
    if (!settings.isEmpty())
        fixture.writeSettings(settings);
    SimProcess sim(fixture.configHome());
    if (simOptions != QStringList{QStringLiteral("none")})
        QVERIFY2(sim.start(QStringList{"--port", "3"} + simOptions), qPrintable(sim.errorString()));

    fixture.load();
    Form1 &c = fixture.console();
    QTEST(fixture.messages.texts(), "messages");
    QTEST(lampColor(c.Shape1), "lamp");
    QTEST(padEnabled(c), "pad");
    QTEST(c.MSComm1.portOpen(), "open");
    // Start-up messages come before the console is on screen.
    for (const auto &shown : fixture.messages.shown)
        QVERIFY(!shown.parentVisible);
    if (c.MSComm1.portOpen())
        QVERIFY(!sim.waitForLine(QStringLiteral("probe"), 2000).isEmpty());
}

void LinkConsoleTest::connectStates_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<bool>("padBefore");
    QTest::addColumn<QColor>("lamp");
    QTest::addColumn<bool>("pad");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("answer: green, pad enabled")
        << QStringList{} << false << kGreenLamp << true << QStringList{kDetected};
    QTest::newRow("no answer: red, pad left enabled")
        << QStringList{"--silent"} << true << kRedLamp << true << QStringList{};
    QTest::newRow("no answer: red, pad left disabled")
        << QStringList{"--silent"} << false << kRedLamp << false << QStringList{};
    QTest::newRow("line end: no answer")
        << QStringList{"--line-end"} << true << kRedLamp << true << QStringList{};
    QTest::newRow("late answer within the wait")
        << QStringList{"--late", "100"} << false << kGreenLamp << true << QStringList{kDetected};
}

void LinkConsoleTest::connectStates()
{
    QFETCH(QStringList, simOptions);
    QFETCH(bool, padBefore);
    ConsoleFixture fixture;
    fixture.writeSettings(" 0 \r\n");
    SimProcess sim(fixture.configHome());
    QVERIFY2(sim.start(QStringList{"--port", "1", "--silent"}), qPrintable(sim.errorString()));
    fixture.load();
    Form1 &c = fixture.console();
    QVERIFY(sim.terminate());

    SimProcess other(fixture.configHome());
    QVERIFY2(other.start(QStringList{"--port", "1"} + simOptions), qPrintable(other.errorString()));
    for (SlewButton *b : {c.Command1, c.Command2, c.Command3, c.Command4})
        b->setEnabled(padBefore);
    fixture.messages.shown.clear();
    c.Command5->click();
    QTEST(fixture.messages.texts(), "messages");
    QTEST(lampColor(c.Shape1), "lamp");
    QTEST(padEnabled(c), "pad");
    QVERIFY(c.MSComm1.portOpen());
}

void LinkConsoleTest::portChangeNeverProbes()
{
    ConsoleFixture fixture;
    fixture.writeSettings(" 0 \r\n");
    SimProcess adaptor(fixture.configHome());
    QVERIFY(adaptor.start({"--port", "1"}));
    SimProcess silent(fixture.configHome());
    QVERIFY(silent.start({"--port", "2", "--silent"}));
    fixture.load();
    Form1 &c = fixture.console();
    QCOMPARE(lampColor(c.Shape1), kGreenLamp);

    // Another port that opens: no probe, no message, the lamp keeps its green.
    fixture.messages.shown.clear();
    c.Combo1->setCurrentIndex(1);
    c.Form1_Combo1_Click();
    QVERIFY(fixture.messages.shown.isEmpty());
    QCOMPARE(lampColor(c.Shape1), kGreenLamp);
    QVERIFY(padEnabled(c));
    QVERIFY(c.MSComm1.portOpen());
    QVERIFY(silent.waitForLine(QStringLiteral("probe"), 300).isEmpty());

    // A port that does not open: the failure path.
    c.Combo1->setCurrentIndex(6);
    c.Form1_Combo1_Click();
    QCOMPARE(fixture.messages.texts(), QStringList{kNotFound});
    QCOMPARE(lampColor(c.Shape1), kRedLamp);
    QVERIFY(!padEnabled(c));
    QVERIFY(!c.MSComm1.portOpen());
    QCOMPARE(c.Combo1->currentIndex(), 6);                    // the list keeps its selection
    QCOMPARE(fixture.settingsBytes(), QByteArray(" 0 \r\n")); // and the file is untouched
}

void LinkConsoleTest::connectWithoutSelection()
{
    ConsoleFixture fixture;
    SimProcess sim(fixture.configHome());
    QVERIFY(sim.start({"--port", "1"}));
    fixture.load(); // no saved selection
    Form1 &c = fixture.console();
    fixture.messages.shown.clear();
    c.Command5->click();
    QCOMPARE(fixture.messages.texts(), QStringList{kNotFound});
    QVERIFY(!c.MSComm1.portOpen());
    QCOMPARE(lampColor(c.Shape1), kRedLamp);
}

void LinkConsoleTest::floodingDeviceDoesNotHoldTheConsole()
{
    ConsoleFixture fixture;
    fixture.writeSettings(" 1 \r\n");
    SimProcess sim(fixture.configHome());
    QVERIFY(sim.start({"--port", "2", "--flood"}));
    fixture.load();
    Form1 &c = fixture.console();
    fixture.messages.shown.clear();
    QElapsedTimer clock;
    clock.start();
    c.Command5->click(); // returns: the read stops after a second or 4096 bytes
    QVERIFY2(clock.elapsed() < 10000, "Connect was held by the flood");
    QVERIFY(fixture.messages.shown.isEmpty());
    QCOMPARE(lampColor(c.Shape1), kRedLamp);
    QVERIFY(c.MSComm1.portOpen());
}

namespace {
// Resident memory of this process, from the kernel's own count.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
} // namespace

void LinkConsoleTest::floodBetweenReadsIsBounded()
{
    // VORUNA_FLOOD_SECONDS lengthens the flood for a run by hand.
    const int seconds = qEnvironmentVariableIntValue("VORUNA_FLOOD_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("VORUNA_FLOOD_SECONDS")
                            : 4;
    ConsoleFixture fixture;
    PtyPeer peer(fixture.portsFolder(), 1);
    fixture.load();
    Form1 &c = fixture.console();
    c.Combo1->setCurrentIndex(0);
    c.Form1_Combo1_Click();
    QVERIFY(c.MSComm1.portOpen());

    // A device that talks on its own while nobody reads, then stops and turns out to be the
    // adaptor.
    std::atomic<bool> flooding{true};
    std::atomic<qint64> taken{0};
    std::thread device([&] {
        const int fd = peer.masterFd();
        const QByteArray chunk(65536, 'x');
        while (flooding) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 20) > 0) {
                const ssize_t n = ::write(fd, chunk.constData(), size_t(chunk.size()));
                if (n > 0)
                    taken += n;
            }
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        char byte = 0;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && ::read(fd, &byte, 1) == 1 && byte == '?') {
                [[maybe_unused]] const ssize_t n = ::write(fd, "^", 1);
                break;
            }
        }
    });
    const qint64 idle = residentKiB();
    qint64 peak = idle;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        QTest::qWait(50);
        peak = qMax(peak, residentKiB());
    }
    flooding = false;
    qInfo("flood: %lld bytes taken in %d s; resident %lld KiB idle, %lld KiB at most",
          qint64(taken), seconds, idle, peak);
    QVERIFY2(peak - idle < 8 * 1024, "the flood grew the program");

    fixture.messages.shown.clear();
    c.Command5->click();
    device.join();
    QCOMPARE(fixture.messages.texts(), QStringList{kDetected});
    QCOMPARE(lampColor(c.Shape1), kGreenLamp);
}

void LinkConsoleTest::portListFollowsTheUser()
{
    ConsoleFixture fixture;
    PtyPeer peer(fixture.portsFolder(), 2);
    fixture.load();
    Form1 &c = fixture.console();
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    fixture.messages.shown.clear();
    const auto wheel = [&c] {
        QWheelEvent down(QPointF(5, 5), c.Combo1->mapToGlobal(QPointF(5, 5)), QPoint(),
                         QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(c.Combo1, &down);
    };

    // Scrolled past without focus: nothing changes.
    c.Command5->setFocus();
    wheel();
    QTest::qWait(20);
    QCOMPARE(c.Combo1->currentIndex(), -1);

    // A text that names no entry changes nothing; one that names an entry runs the port change.
    c.Combo1->setEditText(QStringLiteral("COM 99:"));
    Q_EMIT c.Combo1->lineEdit()->editingFinished();
    QTest::qWait(20);
    QCOMPARE(c.Combo1->currentIndex(), -1);
    QCOMPARE(c.Combo1->currentText(), QStringLiteral("Combo1"));
    QVERIFY(!c.MSComm1.portOpen());
    c.Combo1->setEditText(QStringLiteral("com 2:"));
    Q_EMIT c.Combo1->lineEdit()->editingFinished();
    QTRY_VERIFY(c.MSComm1.portOpen());
    QCOMPARE(c.Combo1->currentIndex(), 1);

    // The open list tells which device each entry would open.
    c.Combo1->showPopup();
    QTRY_VERIFY(c.Combo1->view()->isVisible());
    QCOMPARE(c.Combo1->itemData(1, Qt::ToolTipRole).toString(), peer.devicePath());
    QCOMPARE(c.Combo1->itemData(2, Qt::ToolTipRole).toString(), QStringLiteral("no device"));
    QCOMPARE(c.Combo1->toolTip(), QStringLiteral("Select Communication Port"));
    c.Combo1->hidePopup();

    // With the focus in the list the wheel chooses, and the port change runs.
    c.Combo1->setFocus();
    QTRY_VERIFY(c.Combo1->hasFocus());
    wheel();
    QCOMPARE(c.Combo1->currentIndex(), 2);
    QTRY_COMPARE(fixture.messages.texts(), QStringList{kNotFound});
}

void LinkConsoleTest::busyPort()
{
    ConsoleFixture fixture;
    SimProcess sim(fixture.configHome());
    QVERIFY(sim.start({"--port", "4"}));
    // Another port user holds the adaptor (in this process: the lock is the same for all).
    QSerialPort holder(sim.devicePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));

    fixture.writeSettings(" 3 \r\n");
    fixture.load();
    Form1 &c = fixture.console();
    QCOMPARE(fixture.messages.texts(), (QStringList{kNotFound, kNotInitialized}));
    QVERIFY(!c.MSComm1.portOpen());

    holder.close();
    fixture.messages.shown.clear();
    c.Command5->click();
    QCOMPARE(fixture.messages.texts(), QStringList{kDetected});
    QVERIFY(padEnabled(c));
}

void LinkConsoleTest::messageIcons()
{
    ConsoleFixture fixture;
    fixture.writeSettings(" 5 \r\n");
    fixture.load();
    QCOMPARE(fixture.messages.shown.size(), 2);
    for (const auto &shown : fixture.messages.shown)
        QCOMPARE(shown.icon, MessageBoxes::Icon::Exclamation);

    SimProcess sim(fixture.configHome());
    QVERIFY(sim.start({"--port", "6"}));
    fixture.messages.shown.clear();
    fixture.console().Command5->click();
    QCOMPARE(fixture.messages.shown.size(), 1);
    QCOMPARE(fixture.messages.shown[0].icon, MessageBoxes::Icon::Information);
}

QTEST_MAIN(LinkConsoleTest)
#include "link_console.moc"
