// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ownedfd.h"
#include "link/portmap.h"
#include "link/portowner.h"
#include "support/ptypeer.h"
#include "support/tempconfighome.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace voruna;

namespace {

QList<PortCandidate> candidates(const QStringList &names)
{
    QList<PortCandidate> ports;
    for (const QString &name : names)
        ports.append({QStringLiteral("/dev/") + name, QStringLiteral("about ") + name});
    return ports;
}

// The id of a process that has ended.
qint64 endedPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

QStringList namesOf(const QList<PortCandidate> &ports)
{
    QStringList names;
    for (const PortCandidate &port : ports)
        names.append(QFileInfo(port.device).fileName());
    return names;
}

} // namespace

class PortMapTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void systemOrder_data();
    void systemOrder();
    void mapping_data();
    void mapping();
    void linkLeftBySimulator_data();
    void linkLeftBySimulator();
    void portsFolderFollowsXdg_data();
    void portsFolderFollowsXdg();
    void pinnedPeerIsOpenedByNumber();
};

void PortMapTest::systemOrder_data()
{
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("USB, then ACM, then S")
        << QStringList{"ttyS0", "ttyACM0", "ttyUSB0"} << QStringList{"ttyUSB0", "ttyACM0", "ttyS0"};
    QTest::newRow("numbers compare as numbers") << QStringList{"ttyUSB10", "ttyUSB2", "ttyUSB1"}
                                                << QStringList{"ttyUSB1", "ttyUSB2", "ttyUSB10"};
    QTest::newRow("S by number") << QStringList{"ttyS10", "ttyS9", "ttyS1"}
                                 << QStringList{"ttyS1", "ttyS9", "ttyS10"};
    QTest::newRow("the others after S, by name")
        << QStringList{"ttyAMA1", "rfcomm0", "ttyS3", "ttyACM1", "ttyAMA0"}
        << QStringList{"ttyACM1", "ttyS3", "rfcomm0", "ttyAMA0", "ttyAMA1"};
}

void PortMapTest::systemOrder()
{
    QFETCH(QStringList, given);
    QFETCH(QStringList, expected);
    QList<PortCandidate> ports = candidates(given);
    sortPorts(ports);
    QCOMPARE(namesOf(ports), expected);
}

// links: "name>target", target relative to a folder that holds the file "device" and the link
// "by-id" to it; expected: "" for no port, a name in that folder, or a system device.
void PortMapTest::mapping_data()
{
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("expected");
    const QStringList two{"ttyS0", "ttyUSB0"};
    QTest::newRow("system port by position") << QStringList{} << two << 2 << "/dev/ttyS0";
    QTest::newRow("USB counts first") << QStringList{} << two << 1 << "/dev/ttyUSB0";
    QTest::newRow("beyond the system's ports") << QStringList{} << two << 3 << "";
    QTest::newRow("link overrides the system")
        << QStringList{"com1>device"} << two << 1 << "device";
    QTest::newRow("link pointing nowhere: no port") << QStringList{"com1>gone"} << two << 1 << "";
    QTest::newRow("a pin does not renumber the rest")
        << QStringList{"com1>device"} << two << 2 << "/dev/ttyS0";
    QTest::newRow("link to a link: the device itself")
        << QStringList{"com4>by-id"} << two << 4 << "device";
    QTest::newRow("upper-case COM1 is no pin")
        << QStringList{"COM1>device"} << two << 1 << "/dev/ttyUSB0";
    QTest::newRow("port 0") << QStringList{"com0>device"} << two << 0 << "";
    QTest::newRow("port 17") << QStringList{"com17>device"}
                             << QStringList(17, QStringLiteral("ttyS9")) << 17 << "";
    QTest::newRow("port 16 is the last") << QStringList{"com16>device"} << two << 16 << "device";
}

void PortMapTest::mapping()
{
    QFETCH(QStringList, links);
    QFETCH(QStringList, system);
    QFETCH(int, port);
    QFETCH(QString, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir devices(root.path());
    QVERIFY(QDir().mkpath(root.filePath("ports")));
    QFile device(devices.filePath("device"));
    QVERIFY(device.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(devices.filePath("device"), devices.filePath("by-id")));
    for (const QString &link : links) {
        const QStringList parts = link.split('>');
        QVERIFY(QFile::link(devices.filePath(parts.at(1)), root.filePath("ports/" + parts.at(0))));
    }
    if (!expected.startsWith('/') && !expected.isEmpty())
        expected = QFileInfo(devices.filePath(expected)).canonicalFilePath();

    QCOMPARE(deviceForPort(port, root.filePath("ports"), candidates(system)), expected);
}

// A simulator's link outlives it after kill -9, and its pseudo-terminal number goes to the next
// terminal that opens: the port then must not lead there.
void PortMapTest::linkLeftBySimulator_data()
{
    QTest::addColumn<bool>("toTerminal"); // else to a plain device
    QTest::addColumn<QString>("note");    // who the note beside the link names
    QTest::addColumn<bool>("pinned");
    QTest::newRow("owner runs") << true << "running" << true;
    QTest::newRow("owner gone") << true << "ended" << false;
    QTest::newRow("owner's pid reused by another program") << true << "reused" << false;
    QTest::newRow("no note: a link the user made") << true << "none" << true;
    QTest::newRow("note about an earlier link") << true << "other target" << true;
    QTest::newRow("a plain device stays pinned") << false << "ended" << true;
}

void PortMapTest::linkLeftBySimulator()
{
    QFETCH(bool, toTerminal);
    QFETCH(QString, note);
    QFETCH(bool, pinned);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    PseudoTerminal terminal;
    QString error;
    QVERIFY2(terminal.open(&error), qPrintable(error));
    QString device = terminal.slavePath();
    if (!toTerminal) {
        device = root.filePath("device");
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(device, root.filePath("com7")));

    const QByteArray self = runningProgramName(::getpid());
    PortOwner owner{::getpid(), self, device};
    if (note == "ended")
        owner.pid = endedPid();
    else if (note == "reused")
        owner.program = "voruna-adaptor-sim";
    else if (note == "other target")
        owner = {endedPid(), self, "/dev/pts/999999"};
    if (note != "none") {
        QFile file(portOwnerNotePath(root.path(), 7));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(portOwnerNote(owner));
    }

    const PortAssignment assigned = assignPort(7, root.path(), {});
    QCOMPARE(assigned.device, pinned ? QFileInfo(device).canonicalFilePath() : QString());
    QCOMPARE(assigned.stale, !pinned);
    QCOMPARE(assigned.linkTarget, device);
}

void PortMapTest::portsFolderFollowsXdg_data()
{
    QTest::addColumn<QByteArray>("xdg"); // empty: unset
    QTest::addColumn<QString>("expected");
    QTest::newRow("set") << QByteArray("/tmp/cfg") << "/tmp/cfg/voruna/ports";
    QTest::newRow("unset") << QByteArray() << QDir::homePath() + "/.config/voruna/ports";
    QTest::newRow("relative, so ignored")
        << QByteArray("cfg") << QDir::homePath() + "/.config/voruna/ports";
}

void PortMapTest::portsFolderFollowsXdg()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QString, expected);
    TempConfigHome restoresTheVariable;
    if (xdg.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", xdg);
    QCOMPARE(portsFolder(), expected);
}

// The stand-in device the console tests use: found by number, talks both ways, and an unplug
// makes the program's writes fail and the port disappear.
void PortMapTest::pinnedPeerIsOpenedByNumber()
{
    TempConfigHome home;
    QVERIFY(home.isValid());
    PtyPeer peer(home.portsFolder(), 5);
    QVERIFY2(peer.isValid(), qPrintable(peer.errorString()));
    QCOMPARE(deviceForPort(5), peer.devicePath());

    const OwnedFd client(
        ::open(QFile::encodeName(deviceForPort(5)).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    QVERIFY(client.isValid());
    const int fd = client.get();
    QCOMPARE(::write(fd, ":Mn#", 4), ssize_t(4));
    QCOMPARE(peer.readUntil(4, 1000), QByteArray(":Mn#"));
    QVERIFY(peer.write("^\r\n"));
    pollfd readable{fd, POLLIN, 0};
    QCOMPARE(::poll(&readable, 1, 1000), 1);
    char reply[8] = {};
    QCOMPARE(::read(fd, reply, sizeof reply), ssize_t(3));
    QCOMPARE(QByteArray(reply, 3), QByteArray("^\r\n"));

    peer.hangUp();
    QCOMPARE(::write(fd, ":Qn#", 4), ssize_t(-1));
    QCOMPARE(deviceForPort(5), QString());
}

QTEST_GUILESS_MAIN(PortMapTest)
#include "link_portmap.moc"
