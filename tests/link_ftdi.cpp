// SPDX-License-Identifier: GPL-3.0-or-later
// The guide console through a real USB serial driver (ftdi_sio) to an adaptor on the far end:
// detection, the slew commands byte for byte, and the adaptor unplugged and plugged back. Runs
// in the test guest (scripts/guest-run --serial-peer), where VORUNA_GUEST_DIR holds the bytes
// the far end received.
#include "link/portmap.h"
#include "shell/form1.h"
#include "shell/lamp.h"
#include "shell/slewbutton.h"
#include "support/consolefixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QtTest>

using namespace voruna;
using voruna::test::ConsoleFixture;
using voruna::test::lampColor;
using voruna::test::padEnabled;

namespace {

const QString kDetected = QStringLiteral("USB Autoguide Adaptor detected");
const QColor kRedLamp(255, 0, 0);
const QColor kGreenLamp(0, 255, 0);
const char kAdaptor[] = "/sys/bus/usb/devices/1-1/authorized";

QString receivedPath()
{
    return qEnvironmentVariable("VORUNA_GUEST_DIR") + QStringLiteral("/received");
}

// What the far end has received so far.
QByteArray received()
{
    QFile file(receivedPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool plug(bool in)
{
    QFile file(QString::fromLatin1(kAdaptor));
    return file.open(QIODevice::WriteOnly) && file.write(in ? "1" : "0") == 1;
}

int usbSerialNodes()
{
    return QDir(QStringLiteral("/dev")).entryList({QStringLiteral("ttyUSB*")}, QDir::System).size();
}

// A console on the system's own ports, where the FTDI adaptor is the first USB port: COM 1:.
struct FtdiRig {
    ConsoleFixture fixture;
    Form1 &c;
    FtdiRig() : c(makeConsole(fixture)) {}
    static Form1 &makeConsole(ConsoleFixture &fixture)
    {
        fixture.serial = std::make_unique<QtSerialControl>([](int n) { return deviceForPort(n); });
        fixture.writeSettings(" 0 \r\n");
        fixture.load();
        return fixture.console();
    }
};

} // namespace

class LinkFtdiTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void detectedAndSlewed();
    void unplugged_data();
    void unplugged();
};

void LinkFtdiTest::initTestCase()
{
    if (!QFile::exists(receivedPath()) || !QFile::exists(QString::fromLatin1(kAdaptor)))
        QSKIP(
            "runs in the test guest with an adaptor plugged in (scripts/guest-run --serial-peer)");
}

// Whatever a case left, the next one starts with the adaptor plugged in.
void LinkFtdiTest::cleanup()
{
    if (usbSerialNodes() == 0) {
        QVERIFY(plug(true));
        QTRY_COMPARE_WITH_TIMEOUT(usbSerialNodes(), 1, 20000);
    }
}

void LinkFtdiTest::detectedAndSlewed()
{
    FtdiRig rig;
    QCOMPARE(rig.fixture.messages.texts(), QStringList{kDetected});
    QCOMPARE(lampColor(rig.c.Shape1), kGreenLamp);
    QVERIFY(padEnabled(rig.c));
    const QByteArray before = received();
    QVERIFY(before.endsWith('?'));
    for (SlewButton *button : {rig.c.Command1, rig.c.Command4, rig.c.Command2, rig.c.Command3}) {
        QTest::mousePress(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton);
    }
    QTRY_COMPARE_WITH_TIMEOUT(received().mid(before.size()),
                              QByteArray(":Mn#:Qn#:Ms#:Qs#:Mw#:Qw#:Me#:Qe#"), 10000);
    rig.c.Form1_Command5_Click();
    QCOMPARE(rig.fixture.messages.texts(), (QStringList{kDetected, kDetected}));
}

void LinkFtdiTest::unplugged_data()
{
    QTest::addColumn<bool>("holding");
    QTest::newRow("during a held slew") << true;
    QTest::newRow("before a press") << false;
}

// The console lets the port go and rests; the adaptor comes back under the next ttyUSB number
// and "Connect" on the same COM entry finds it.
void LinkFtdiTest::unplugged()
{
    QFETCH(bool, holding);
    FtdiRig rig;
    QCOMPARE(lampColor(rig.c.Shape1), kGreenLamp);
    if (holding) {
        QTest::mousePress(rig.c.Command2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(received().endsWith(":Mw#"), 10000);
    }
    rig.fixture.messages.shown.clear();
    QVERIFY(plug(false));
    QTRY_COMPARE_WITH_TIMEOUT(usbSerialNodes(), 0, 10000);
    if (!holding)
        QTest::mousePress(rig.c.Command2, Qt::LeftButton);
    QTest::mouseRelease(rig.c.Command2, Qt::LeftButton);
    // A failed write closes the port at once; the console hears of it from the event loop.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.fixture.serial->portOpen() && !padEnabled(rig.c), 10000);
    QCOMPARE(lampColor(rig.c.Shape1), kRedLamp);
    QVERIFY(rig.fixture.messages.shown.isEmpty());

    QVERIFY(plug(true));
    QTRY_COMPARE_WITH_TIMEOUT(usbSerialNodes(), 1, 20000);
    rig.fixture.messages.shown.clear();
    rig.c.Form1_Command5_Click();
    QCOMPARE(rig.fixture.messages.texts(), QStringList{kDetected});
    QCOMPARE(lampColor(rig.c.Shape1), kGreenLamp);
    QVERIFY(padEnabled(rig.c));
}

QTEST_MAIN(LinkFtdiTest)
#include "link_ftdi.moc"
