// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/mountfeed.h"
#include "tools/adaptorsim/mountmodel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace voruna;
using namespace std::chrono_literals;

namespace {

// One step of a script: at `ms` after the origin, start (+) or stop (-) `direction`.
struct Step {
    int ms;
    char sign;
    char direction;
};

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class SkyMountTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void offsets_data();
    void offsets();
    void offsetsWhileMoving();
    void stopWithoutStartChangesNothing();
    void readingLine_data();
    void readingLine();
    void feedFolder_data();
    void feedFolder();
};

void SkyMountTest::offsets_data()
{
    // Guide rate 7.5"/s throughout; RA and Dec read at `atMs`.
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<int>("atMs");
    QTest::addColumn<double>("ra");
    QTest::addColumn<double>("dec");
    QTest::addColumn<QString>("moving");
    QTest::newRow("north 2 s is +Dec")
        << QList<Step>{{0, '+', 'n'}, {2000, '-', 'n'}} << 5000 << 0.0 << 15.0 << "";
    QTest::newRow("south 2 s is -Dec")
        << QList<Step>{{0, '+', 's'}, {2000, '-', 's'}} << 5000 << 0.0 << -15.0 << "";
    QTest::newRow("west 1 s is +RA")
        << QList<Step>{{500, '+', 'w'}, {1500, '-', 'w'}} << 3000 << 7.5 << 0.0 << "";
    QTest::newRow("east 1 s is -RA")
        << QList<Step>{{500, '+', 'e'}, {1500, '-', 'e'}} << 3000 << -7.5 << 0.0 << "";
    QTest::newRow("north and west at once")
        << QList<Step>{{0, '+', 'n'}, {0, '+', 'w'}, {1000, '-', 'w'}, {3000, '-', 'n'}} << 4000
        << 7.5 << 22.5 << "";
    QTest::newRow("south and east overlapping")
        << QList<Step>{{0, '+', 's'}, {1000, '+', 'e'}, {2000, '-', 's'}, {4000, '-', 'e'}} << 4000
        << -22.5 << -15.0 << "";
    QTest::newRow("north and south cancel")
        << QList<Step>{{0, '+', 'n'}, {1000, '+', 's'}, {3000, '-', 'n'}} << 3000 << 0.0 << 7.5
        << "s";
    QTest::newRow("stopped in the opposite sense only")
        << QList<Step>{{0, '+', 'w'}, {1000, '-', 'e'}, {2000, '-', 'w'}} << 2000 << 15.0 << 0.0
        << "";
    QTest::newRow("second start of a direction does not double the rate")
        << QList<Step>{{0, '+', 'n'}, {1000, '+', 'n'}, {2000, '-', 'n'}} << 2000 << 0.0 << 15.0
        << "";
    QTest::newRow("after the stop it stays")
        << QList<Step>{{0, '+', 'e'}, {1000, '-', 'e'}} << 100000 << -7.5 << 0.0 << "";
    QTest::newRow("start and stop again adds up")
        << QList<Step>{{0, '+', 'n'}, {1000, '-', 'n'}, {5000, '+', 'n'}, {6000, '-', 'n'}} << 9000
        << 0.0 << 15.0 << "";
    QTest::newRow("still moving at the reading")
        << QList<Step>{{1000, '+', 'w'}, {1000, '+', 's'}} << 1400 << 3.0 << -3.0 << "sw";
}

void SkyMountTest::offsets()
{
    QFETCH(QList<Step>, steps);
    QFETCH(int, atMs);
    QFETCH(double, ra);
    QFETCH(double, dec);
    QFETCH(QString, moving);
    const MountModel::Clock::time_point origin{}; // any steady-clock time will do
    MountModel mount(MountModel::defaultGuideRate, origin);
    for (const Step &step : steps) {
        const auto at = origin + std::chrono::milliseconds(step.ms);
        if (step.sign == '+')
            mount.start(step.direction, at);
        else
            mount.stop(step.direction, at);
    }
    const auto at = origin + std::chrono::milliseconds(atMs);
    QCOMPARE(mount.raAt(at), ra);
    QCOMPARE(mount.decAt(at), dec);
    QCOMPARE(QString::fromStdString(mount.moving()), moving);
    QCOMPARE(mount.secondsAt(at), atMs / 1000.0);
}

void SkyMountTest::offsetsWhileMoving()
{
    // Readings between the events follow the slew; a reading does not disturb the sum.
    const MountModel::Clock::time_point origin{};
    MountModel mount(2.0, origin);
    QVERIFY(mount.start('n', origin + 1s));
    for (int ms = 1000; ms <= 4000; ms += 250)
        QCOMPARE(mount.decAt(origin + std::chrono::milliseconds(ms)), 2.0 * (ms - 1000) / 1000.0);
    QVERIFY(mount.stop('n', origin + 4s));
    QCOMPARE(mount.decAt(origin + 10s), 6.0);
    QCOMPARE(mount.raAt(origin + 10s), 0.0);
}

void SkyMountTest::stopWithoutStartChangesNothing()
{
    const MountModel::Clock::time_point origin{};
    MountModel mount(MountModel::defaultGuideRate, origin);
    QVERIFY(mount.start('w', origin));
    QVERIFY(mount.stop('w', origin + 2s));
    for (const char letter : {'n', 's', 'w', 'e'})
        QVERIFY(!mount.stop(letter, origin + 3s));
    QVERIFY(!mount.start('x', origin + 3s));
    QVERIFY(!mount.stop('x', origin + 3s));
    QCOMPARE(mount.raAt(origin + 9s), 15.0);
    QCOMPARE(mount.decAt(origin + 9s), 0.0);
    QCOMPARE(mount.moving(), std::string());
}

void SkyMountTest::readingLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::newRow("at rest") << QByteArray("0.000 0.000 - 1.500") << true;
    QTest::newRow("moving") << QByteArray("-12.250 7.500 nw 30.000") << true;
    QTest::newRow("three fields") << QByteArray("1 2 -") << false;
    QTest::newRow("five fields") << QByteArray("1 2 - 3 4") << false;
    QTest::newRow("not a number") << QByteArray("1 two - 3") << false;
    QTest::newRow("not finite") << QByteArray("nan 2 - 3") << false;
    QTest::newRow("unknown direction") << QByteArray("1 2 nx 3") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void SkyMountTest::readingLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    const std::optional<MountReading> reading = parseMountReading(line);
    QCOMPARE(reading.has_value(), valid);
    if (valid) {
        // What the simulator writes reads back the same.
        QCOMPARE(mountReadingLine(*reading), line + '\n');
    }
}

void SkyMountTest::feedFolder_data()
{
    QTest::addColumn<QString>("prepare"); // what is at $XDG_RUNTIME_DIR/voruna beforehand
    QTest::addColumn<bool>("usable");
    QTest::newRow("nothing: made") << "none" << true;
    QTest::newRow("a private folder") << "private" << true;
    QTest::newRow("a folder others may enter") << "open" << false;
    QTest::newRow("a link to a folder") << "link" << false;
    QTest::newRow("a file") << "file" << false;
}

void SkyMountTest::feedFolder()
{
    QFETCH(QString, prepare);
    QFETCH(bool, usable);
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    const QString folder = runtime.filePath(QStringLiteral("voruna"));
    if (prepare == "private" || prepare == "open") {
        QVERIFY(QDir().mkdir(folder));
        QFile::setPermissions(folder, prepare == "private"
                                          ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                | QFile::ReadOther | QFile::ExeOther);
    } else if (prepare == "link") {
        QVERIFY(QDir().mkdir(runtime.filePath("elsewhere")));
        QVERIFY(QFile::link(runtime.filePath("elsewhere"), folder));
    } else if (prepare == "file") {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QString error;
    const QString found = mountFeedFolder(true, &error);
    qputenv("XDG_RUNTIME_DIR", previous);
    QCOMPARE(found, usable ? folder : QString());
    QCOMPARE(error.isEmpty(), usable);
    if (usable)
        QCOMPARE(mountFeedPath(found, 3), folder + "/sky-com3.sock");
}

QTEST_GUILESS_MAIN(SkyMountTest)
#include "sky_mount.moc"
