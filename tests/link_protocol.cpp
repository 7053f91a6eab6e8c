// SPDX-License-Identifier: GPL-3.0-or-later
// The open sequence, the probe's wait and the reply reads, on a scripted device.
#include "link/adaptorprotocol.h"
#include "link/qtserialcontrol.h"
#include "support/scriptedserial.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace voruna;
using voruna::test::ScriptedSerial;

class LinkProtocolTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openSequence_data();
    void openSequence();
    void failedPortNumberStillReported();
    void connectReply_data();
    void connectReply();
    void floodingDeviceIsCutOff();
    void loadReadsOnce();
    void probeWaitCountsAndWaits();
    void lineSettings_data();
    void lineSettings();
};

void LinkProtocolTest::openSequence_data()
{
    QTest::addColumn<int>("portIndex");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("clean");
    QTest::addColumn<bool>("open");
    QTest::newRow("COM1 exists") << 0 << false << true << true;
    QTest::newRow("COM3 exists") << 2 << false << true << true;
    QTest::newRow("COM9 missing") << 8 << false << false << false;
    QTest::newRow("COM2 busy") << 1 << true << false << false;
    QTest::newRow("COM16 missing") << 15 << false << false << false;
}

void LinkProtocolTest::openSequence()
{
    QFETCH(int, portIndex);
    QFETCH(bool, busy);
    ScriptedSerial serial;
    if (busy)
        serial.busy.insert(portIndex + 1);
    ErrorTrap trap;
    trap.arm();
    runOpenSequence(serial, portIndex, trap);
    QTEST(trap.clean(), "clean");
    QTEST(serial.portOpen(), "open");
    QCOMPARE(serial.settings, QStringLiteral("9600,n,8,1"));
}

void LinkProtocolTest::failedPortNumberStillReported()
{
    // No selection: port number 0 fails, the open goes ahead on the previous number, and the
    // trap still reports the failure so the handler takes its failure path.
    ScriptedSerial serial;
    ErrorTrap trap;
    trap.arm();
    runOpenSequence(serial, 1, trap);
    QVERIFY(trap.clean());
    trap.arm();
    runOpenSequence(serial, -1, trap);
    QCOMPARE(trap.firstError(), CommError::NoSuchPort);
    QVERIFY(serial.portOpen());
    QCOMPARE(serial.commPort(), 2);
}

void LinkProtocolTest::connectReply_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QList<QByteArray>>("afterRead");
    QTest::addColumn<bool>("detected");
    QTest::addColumn<int>("reads");
    using L = QList<QByteArray>;
    QTest::newRow("exactly ^") << QByteArray("^") << L{} << true << 1;
    QTest::newRow("^ with line end") << QByteArray("^\r\n") << L{} << false << 1;
    QTest::newRow("nothing") << QByteArray() << L{} << false << 1;
    QTest::newRow("noise, then ^ before the buffer test") << QByteArray("x") << L{"^"} << true << 2;
    QTest::newRow("^ then more before the buffer test")
        << QByteArray("^") << L{"\r\n"} << true << 1;
    QTest::newRow("noise twice, then ^") << QByteArray("a") << L{"b", "^"} << true << 3;
    QTest::newRow("only what one read returns counts") << QByteArray("a") << L{"^\n"} << false << 2;
}

void LinkProtocolTest::connectReply()
{
    QFETCH(QByteArray, answer);
    QFETCH(QList<QByteArray>, afterRead);
    ScriptedSerial serial;
    serial.answerToProbe = answer;
    serial.afterRead = afterRead;
    ErrorTrap trap;
    runOpenSequence(serial, 0, trap);
    QCOMPARE(serial.setOutput(kProbe), CommError::Ok);
    QTEST(readConnectReply(serial, trap), "detected");
    QTEST(serial.reads, "reads");
    QVERIFY(trap.clean());
}

void LinkProtocolTest::floodingDeviceIsCutOff()
{
    ScriptedSerial serial;
    serial.flood = QByteArray(64, 'x');
    ErrorTrap trap;
    runOpenSequence(serial, 0, trap);
    serial.setOutput(kProbe);
    QVERIFY(!readConnectReply(serial, trap, {std::chrono::milliseconds(1000), 4096}));
    QCOMPARE(serial.reads, 4096 / 64);

    ScriptedSerial slowFlood; // few bytes per read: the time budget ends it
    slowFlood.flood = "x";
    runOpenSequence(slowFlood, 0, trap);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!readConnectReply(slowFlood, trap, {std::chrono::milliseconds(50), 1 << 30}));
    QVERIFY(clock.elapsed() >= 50);
}

void LinkProtocolTest::loadReadsOnce()
{
    ScriptedSerial serial;
    serial.answerToProbe = "x";
    serial.afterRead = {"^"};
    ErrorTrap trap;
    runOpenSequence(serial, 0, trap);
    serial.setOutput(kProbe);
    QVERIFY(!readLoadReply(serial, trap));
    QCOMPARE(serial.reads, 1);

    // On a closed port both the probe and the read fail into the trap.
    ScriptedSerial closed;
    ErrorTrap closedTrap;
    closedTrap.take(closed.setOutput(kProbe));
    QVERIFY(!readLoadReply(closed, closedTrap));
    QCOMPARE(closedTrap.firstError(), CommError::PortNotOpen);
}

void LinkProtocolTest::probeWaitCountsAndWaits()
{
    QList<int> printed;
    QElapsedTimer clock;
    clock.start();
    probeWait([&printed](int v) { printed.append(v); }, std::chrono::milliseconds(250));
    // However fast the machine, the adaptor gets its quarter of a second to answer.
    QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(printed.size(), 3000);
    QCOMPARE(printed.first(), 1);
    QCOMPARE(printed.last(), 3000);
    QVERIFY(std::is_sorted(printed.begin(), printed.end()));
}

void LinkProtocolTest::lineSettings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("the adaptor's") << "9600,n,8,1" << true;
    QTest::newRow("even parity, two stops") << "19200,E,7,2" << true;
    QTest::newRow("missing field") << "9600,n,8" << false;
    QTest::newRow("baud not a number") << "fast,n,8,1" << false;
    QTest::newRow("unknown parity") << "9600,x,8,1" << false;
    QTest::newRow("nine data bits") << "9600,n,9,1" << false;
    QTest::newRow("empty") << "" << false;
}

void LinkProtocolTest::lineSettings()
{
    QFETCH(QString, text);
    LineSettings parsed;
    QTEST(parseLineSettings(text, parsed), "valid");
    QtSerialControl control([](int) { return QString(); });
    QTEST(control.setSettings(text) == CommError::Ok, "valid");
}

QTEST_GUILESS_MAIN(LinkProtocolTest)
#include "link_protocol.moc"
