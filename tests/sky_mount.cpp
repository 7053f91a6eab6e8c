// SPDX-License-Identifier: GPL-3.0-or-later
#include "mountfeed/mountfeed.h"
#include "tools/adaptorsim/mountmodel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

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

namespace {

// Runs the steps on `mount`, timed from `origin`.
void play(MountModel &mount, MountModel::Clock::time_point origin, const QList<Step> &steps)
{
    for (const Step &step : steps) {
        const auto at = origin + std::chrono::milliseconds(step.ms);
        if (step.sign == '+')
            mount.start(step.direction, at);
        else
            mount.stop(step.direction, at);
    }
}

} // namespace

class SkyMountTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void offsets_data();
    void offsets();
    void offsetsWhileMoving();
    void stopWithoutStartChangesNothing();
    void imperfectAxes_data();
    void imperfectAxes();
    void trackingError_data();
    void trackingError();
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

void SkyMountTest::imperfectAxes_data()
{
    // Guide rates n, s, w, e in "/s and Dec backlash in "; the axes read at `atMs`.
    QTest::addColumn<QList<double>>("rates");
    QTest::addColumn<double>("backlash");
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<int>("atMs");
    QTest::addColumn<double>("ra");
    QTest::addColumn<double>("dec");
    const QList<double> even{7.5, 7.5, 7.5, 7.5};
    QTest::newRow("north moves at once: the gears start engaged that way")
        << even << 5.0 << QList<Step>{{0, '+', 'n'}, {1000, '-', 'n'}} << 2000 << 0.0 << 7.5;
    QTest::newRow("the first move south takes up the backlash")
        << even << 5.0 << QList<Step>{{0, '+', 's'}, {2000, '-', 's'}} << 3000 << 0.0 << -10.0;
    QTest::newRow("read while the backlash is taken up")
        << even << 5.0 << QList<Step>{{0, '+', 's'}} << 600 << 0.0 << 0.0;
    QTest::newRow("reversal after north")
        << even << 5.0
        << QList<Step>{{0, '+', 'n'}, {2000, '-', 'n'}, {3000, '+', 's'}, {4000, '-', 's'}} << 5000
        << 0.0 << 12.5;
    QTest::newRow("reversal in two short pulses")
        << even << 5.0 << QList<Step>{{0, '+', 'n'},    {1000, '-', 'n'}, {2000, '+', 's'},
                                      {2400, '-', 's'}, {3000, '+', 's'}, {3400, '-', 's'}}
        << 4000 << 0.0 << 6.5;
    QTest::newRow("back north after south costs it again")
        << even << 5.0
        << QList<Step>{{0, '+', 's'}, {2000, '-', 's'}, {3000, '+', 'n'}, {4000, '-', 'n'}} << 5000
        << 0.0 << -7.5;
    QTest::newRow("each direction its own rate")
        << QList<double>{4.0, 6.0, 8.0, 5.0} << 0.0
        << QList<Step>{{0, '+', 'n'},    {1000, '-', 'n'}, {0, '+', 'w'},
                       {2000, '-', 'w'}, {2000, '+', 'e'}, {3000, '-', 'e'}}
        << 3000 << 11.0 << 4.0;
    QTest::newRow("north and south held together: the faster wins")
        << QList<double>{4.0, 6.0, 8.0, 5.0} << 0.0
        << QList<Step>{{0, '+', 'n'}, {0, '+', 's'}, {2000, '-', 'n'}, {2000, '-', 's'}} << 3000
        << 0.0 << -4.0;
}

void SkyMountTest::imperfectAxes()
{
    QFETCH(QList<double>, rates);
    QFETCH(double, backlash);
    QFETCH(QList<Step>, steps);
    QFETCH(int, atMs);
    QFETCH(double, ra);
    QFETCH(double, dec);
    MountSetup setup;
    std::copy(rates.begin(), rates.end(), setup.guideRates.begin());
    setup.decBacklash = backlash;
    const MountModel::Clock::time_point origin{};
    MountModel mount(setup, origin);
    std::stable_sort(steps.begin(), steps.end(),
                     [](const Step &a, const Step &b) { return a.ms < b.ms; });
    play(mount, origin, steps);
    const auto at = origin + std::chrono::milliseconds(atMs);
    QCOMPARE(mount.raAt(at) + 1.0, ra + 1.0); // fuzzy comparison needs no zero
    QCOMPARE(mount.decAt(at) + 1.0, dec + 1.0);
    // Neither periodic error nor drift here: the sky moves with the axes.
    QCOMPARE(mount.trackingErrorAt(at).dec + 1.0, mount.decAt(at) + 1.0);
}

void SkyMountTest::trackingError_data()
{
    // Periodic error amplitude, its second harmonic, period (s) and drift ("/s); the tracking
    // error `seconds` after the origin, after 1 s of guiding west at 7.5"/s from t = 0.
    QTest::addColumn<double>("pe");
    QTest::addColumn<double>("pe2");
    QTest::addColumn<double>("period");
    QTest::addColumn<double>("driftRa");
    QTest::addColumn<double>("driftDec");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("errorRa");
    QTest::addColumn<double>("errorDec");
    QTest::newRow("periodic error, a quarter period: west by the amplitude")
        << 5.0 << 0.0 << 230.5 << 0.0 << 0.0 << 230.5 / 4 << 12.5 << 0.0;
    QTest::newRow("three quarters: east by the amplitude")
        << 5.0 << 0.0 << 230.5 << 0.0 << 0.0 << 230.5 * 3 / 4 << 2.5 << 0.0;
    QTest::newRow("second harmonic at an eighth: its crest")
        << 4.0 << 2.0 << 400.0 << 0.0 << 0.0 << 50.0 << 7.5 + 4.0 * std::sqrt(0.5) + 2.0 << 0.0;
    QTest::newRow("drift over a minute")
        << 0.0 << 0.0 << 480.0 << -0.1 << 5.0 / 60 << 60.0 << 1.5 << 5.0;
}

void SkyMountTest::trackingError()
{
    QFETCH(double, pe);
    QFETCH(double, pe2);
    QFETCH(double, period);
    QFETCH(double, driftRa);
    QFETCH(double, driftDec);
    QFETCH(double, seconds);
    QFETCH(double, errorRa);
    QFETCH(double, errorDec);
    MountSetup setup;
    setup.peAmplitude = pe;
    setup.pe2Amplitude = pe2;
    setup.pePeriod = period;
    setup.driftRa = driftRa;
    setup.driftDec = driftDec;
    const MountModel::Clock::time_point origin{};
    MountModel mount(setup, origin);
    play(mount, origin, {{0, '+', 'w'}, {1000, '-', 'w'}});
    const auto at = origin
                    + std::chrono::duration_cast<MountModel::Clock::duration>(
                        std::chrono::duration<double>(seconds));
    const SkyOffset error = mount.trackingErrorAt(at);
    QCOMPARE(error.ra + 1.0, errorRa + 1.0);
    QCOMPARE(error.dec + 1.0, errorDec + 1.0);
    QCOMPARE(mount.raAt(at), 7.5); // the axes know nothing of it
}

void SkyMountTest::readingLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::newRow("at rest") << QByteArray("0.000 0.000 - 1.500") << true;
    QTest::newRow("moving") << QByteArray("-12.250 7.500 nw 30.000") << true;
    QTest::newRow("three fields") << QByteArray("1 2 -") << false;
    QTest::newRow("five fields") << QByteArray("1 2 - 3 4") << false;
    QTest::newRow("with seeing and the camera's angle")
        << QByteArray("1.000 -2.000 s 3.000 0.250 -0.125 15.000") << true;
    QTest::newRow("six fields") << QByteArray("1 2 - 3 4 5") << false;
    QTest::newRow("angle past a turn") << QByteArray("1 2 - 3 0 0 361") << false;
    QTest::newRow("seeing not a number") << QByteArray("1 2 - 3 x 0 0") << false;
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
