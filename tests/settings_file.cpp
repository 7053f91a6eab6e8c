// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file's bytes, its read rules and a write that never loses the saved port.
#include "settings/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace voruna;

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
} // namespace

class SettingsFileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bytesOfEachSelection_data();
    void bytesOfEachSelection();
    void readRules_data();
    void readRules();
    void missingOrUnreadableFileSelectsNothing();
    void notARegularFile_data();
    void notARegularFile();
    void saveThroughLink_data();
    void saveThroughLink();
    void saveReplacesWholeFile();
    void failedSaveKeepsSavedSelection();
};

void SettingsFileTest::bytesOfEachSelection_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("COM1") << 0 << QByteArray::fromHex("2030200D0A");
    QTest::newRow("COM3") << 2 << QByteArray::fromHex("2032200D0A");
    QTest::newRow("COM12") << 11 << QByteArray::fromHex("203131200D0A");
    QTest::newRow("COM16") << 15 << QByteArray::fromHex("203135200D0A");
    QTest::newRow("none") << -1 << QByteArray::fromHex("2D31200D0A");
}

void SettingsFileTest::bytesOfEachSelection()
{
    QFETCH(int, index);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VRdata.nwx"));
    QCOMPARE(savePortIndex(index, path), SaveResult::Saved);
    QCOMPARE(readAll(path), bytes);
    QCOMPARE(readSavedPortIndex(path), index);
}

void SettingsFileTest::readRules_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("index");
    QTest::newRow("as written") << QByteArray(" 5 \r\n") << 5;
    QTest::newRow("no blanks") << QByteArray("5\r\n") << 5;
    QTest::newRow("no line end") << QByteArray("7") << 7;
    QTest::newRow("LF only") << QByteArray(" 3 \n") << 3;
    QTest::newRow("further lines ignored") << QByteArray(" 4 \r\n 9 \r\nrubbish\r\n") << 4;
    QTest::newRow("item ends at comma") << QByteArray("6,12\r\n") << 6;
    QTest::newRow("tabs around") << QByteArray("\t10\t\r\n") << 10;
    QTest::newRow("minus one") << QByteArray("-1 \r\n") << -1;
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("blank line") << QByteArray("  \r\n 3 \r\n") << -1;
    QTest::newRow("word") << QByteArray("COM3\r\n") << -1;
    QTest::newRow("trailing junk") << QByteArray("3x\r\n") << -1;
    QTest::newRow("16 is beyond the list") << QByteArray(" 16 \r\n") << -1;
    QTest::newRow("-2") << QByteArray("-2 \r\n") << -1;
    QTest::newRow("huge") << QByteArray("99999999999999999999\r\n") << -1;
    QTest::newRow("torn write") << QByteArray(" ") << -1;
    QTest::newRow("binary") << QByteArray::fromHex("00ff1b5b") << -1;
    QTest::newRow("decimal point") << QByteArray("2.5\r\n") << -1;
}

void SettingsFileTest::readRules()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VRdata.nwx"));
    writeAll(path, content);
    QTEST(readSavedPortIndex(path), "index");
}

void SettingsFileTest::missingOrUnreadableFileSelectsNothing()
{
    QTemporaryDir dir;
    QCOMPARE(readSavedPortIndex(dir.filePath(QStringLiteral("VRdata.nwx"))), -1);
    // A folder where the file should be cannot be read as one.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("VRdata.nwx")));
    QCOMPARE(readSavedPortIndex(dir.filePath(QStringLiteral("VRdata.nwx"))), -1);
}

void SettingsFileTest::notARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO nobody writes") << "fifo";
    QTest::newRow("folder") << "dir";
    QTest::newRow("device") << "device";
    QTest::newRow("socket") << "socket";
}

void SettingsFileTest::notARegularFile()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VRdata.nwx"));
    const QByteArray name = QFile::encodeName(path);
    int socketFd = -1;
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    } else if (kind == QLatin1String("dir")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("VRdata.nwx")));
    } else if (kind == QLatin1String("device")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else {
        socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        QVERIFY(size_t(name.size()) < sizeof address.sun_path);
        qstrcpy(address.sun_path, name.constData());
        QCOMPARE(::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    }
    auto read = std::async(std::launch::async, [&path] { return readSavedPortIndex(path); });
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let a blocked open go, so the test can end.
        ::close(::open(name.constData(), O_WRONLY | O_NONBLOCK));
        read.wait();
        QFAIL("reading the settings blocked");
    }
    QCOMPARE(read.get(), -1);
    if (socketFd >= 0)
        ::close(socketFd);
}

void SettingsFileTest::saveThroughLink_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("saved");
    QTest::newRow("to a file") << "shared/VRdata.nwx" << true;
    QTest::newRow("dangling, folder exists") << "shared/new.nwx" << true;
    QTest::newRow("dangling, no folder") << "missing/VRdata.nwx" << false;
}

void SettingsFileTest::saveThroughLink()
{
    QFETCH(QString, target);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("shared")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("work")));
    writeAll(dir.filePath(QStringLiteral("shared/VRdata.nwx")), " 4 \r\n");
    const QString link = dir.filePath(QStringLiteral("work/VRdata.nwx"));
    QCOMPARE(::symlink(QFile::encodeName(QStringLiteral("../") + target).constData(),
                       QFile::encodeName(link).constData()),
             0);

    QCOMPARE(savePortIndex(2, link), saved ? SaveResult::Saved : SaveResult::Failed);
    QVERIFY(QFileInfo(link).isSymLink());
    if (saved) {
        QCOMPARE(readAll(dir.filePath(target)), QByteArray::fromHex("2032200D0A"));
        QCOMPARE(readSavedPortIndex(link), 2);
    }
    // Nothing is left beside the link or the target.
    QCOMPARE(QDir(dir.filePath(QStringLiteral("work")))
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                 .size(),
             1);
}

void SettingsFileTest::saveReplacesWholeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VRdata.nwx"));
    writeAll(path, QByteArray(" 12 \r\n 3 \r\nold text that must go\r\n"));
    QCOMPARE(savePortIndex(0, path), SaveResult::Saved);
    QCOMPARE(savePortIndex(11, path), SaveResult::Saved);
    QCOMPARE(readAll(path), QByteArray::fromHex("203131200D0A"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left
}

void SettingsFileTest::failedSaveKeepsSavedSelection()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VRdata.nwx"));
    QCOMPARE(savePortIndex(2, path), SaveResult::Saved);

    // A disk that fills up mid-write: files may not grow past two bytes (holds for root too).
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny = old;
    tiny.rlim_cur = 2;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &tiny) == 0);
    const SaveResult result = savePortIndex(11, path);
    setrlimit(RLIMIT_FSIZE, &old);

    QCOMPARE(result, SaveResult::Failed);
    QCOMPARE(readAll(path), QByteArray::fromHex("2032200D0A"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // No folder to write into.
    QCOMPARE(savePortIndex(0, dir.filePath(QStringLiteral("gone/VRdata.nwx"))), SaveResult::Failed);
}

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "settings_file.moc"
