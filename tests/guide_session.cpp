// SPDX-License-Identifier: GPL-3.0-or-later
// The guide loop in real time: the corrections it starts and stops, the camera watchdog, and the
// guide log's lines and file.
#include "guide/guidelog.h"
#include "guide/guidesession.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace voruna;

namespace {

// Records each command as "+w" (start west) or "-w" (stop west).
class RecordingOutput final : public GuideOutput {
public:
    bool startMove(GuideDirection d) override { return add('+', d); }
    bool stopMove(GuideDirection d) override { return add('-', d); }
    QStringList commands;

private:
    bool add(char sign, GuideDirection d)
    {
        commands.append(QStringLiteral("%1%2").arg(QLatin1Char(sign)).arg(QLatin1Char("nswe"[int(d)])));
        return true;
    }
};

Calibration squareCalibration()
{
    return {.west = {3.75, 0.0}, .north = {0.0, -3.75}};
}

StarMeasurement starAt(QPointF centre)
{
    StarMeasurement star;
    star.centre = centre;
    star.snr = 40.0;
    return star;
}

StarMeasurement lostStar()
{
    StarMeasurement star;
    star.loss = StarLoss::NoStar;
    return star;
}

struct Guiding {
    RecordingOutput output;
    QTemporaryDir logs;
    GuideSession session{output};
    Guiding()
    {
        session.setLogFolder(logs.path());
        session.engine().useCalibration(squareCalibration());
        session.guide({100, 100});
    }
};

GuidePulse pulse(char d, double seconds)
{
    return {GuideDirection(QByteArray("nswe").indexOf(d)), seconds};
}

} // namespace

class GuideSessionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pulses_data();
    void pulses();
    void sessionEnds();
    void watchdog();
    void silentAfter_data();
    void silentAfter();
    void logLines_data();
    void logLines();
    void logFile();
};

void GuideSessionTest::pulses_data()
{
    QTest::addColumn<QString>("asked"); // "w200 n80": direction and milliseconds, one after another
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("one") << "w50" << QStringList{"+w", "-w"};
    QTest::newRow("RA and Dec at once") << "w150 n50" << QStringList{"+w", "+n", "-n", "-w"};
    QTest::newRow("the other sense stops the axis first")
        << "w400 e50" << QStringList{"+w", "-w", "+e", "-e"};
    QTest::newRow("the same sense again") << "s400 s50" << QStringList{"+s", "-s", "+s", "-s"};
    QTest::newRow("nothing for no time") << "w0 n-5" << QStringList{};
}

void GuideSessionTest::pulses()
{
    QFETCH(QString, asked);
    QFETCH(QStringList, sent);
    Guiding g;
    for (const QString &p : asked.split(QLatin1Char(' ')))
        g.session.startPulse(pulse(p.at(0).toLatin1(), p.mid(1).toDouble() / 1000.0));
    QTRY_COMPARE(g.output.commands, sent);
    QTest::qWait(100);
    QCOMPARE(g.output.commands, sent);
    for (int d = 0; d < 4; ++d)
        QVERIFY(!g.session.isMoving(GuideDirection(d)));
}

void GuideSessionTest::sessionEnds()
{
    // The program's end stops what runs, before the port it runs on closes.
    RecordingOutput output;
    {
        GuideSession session(output);
        session.engine().useCalibration(squareCalibration());
        session.guide({0, 0});
        session.startPulse(pulse('e', 5.0));
        session.startPulse(pulse('n', 5.0));
    }
    QCOMPARE(output.commands, (QStringList{"+e", "+n", "-n", "-e"}));
}

void GuideSessionTest::watchdog()
{
    Guiding g;
    QSignalSpy states(&g.session, &GuideSession::stateChanged);
    for (int k = 0; k < 4; ++k) {
        g.session.onStar(starAt({100, 100}));
        QTest::qWait(40);
    }
    QCOMPARE(g.session.watchdogSeconds(), 2.0); // fast frames: the floor
    g.session.startPulse(pulse('n', 10.0));
    QTRY_COMPARE_WITH_TIMEOUT(int(g.session.engine().state()), int(GuideState::CameraSilent), 4000);
    QCOMPARE(g.output.commands, (QStringList{"+n", "-n"}));
    QVERIFY(states.last().at(1).toString().contains(QStringLiteral("No frames")));
    // Frames come back: the engine takes them again.
    g.session.onStar(starAt({100, 100}));
    QVERIFY(g.session.engine().state() != GuideState::CameraSilent);
}

void GuideSessionTest::silentAfter_data()
{
    QTest::addColumn<QList<double>>("intervals");
    QTest::addColumn<double>("seconds");
    QTest::newRow("unknown") << QList<double>{} << 15.0;
    QTest::newRow("fast camera: the floor") << QList<double>{0.03, 0.03, 0.04} << 2.0;
    QTest::newRow("2 s exposures") << QList<double>{2.0, 2.1, 1.9} << 8.0;
    QTest::newRow("one late frame is not the interval") << QList<double>{1, 1, 9, 1, 1} << 4.0;
}

void GuideSessionTest::silentAfter()
{
    QFETCH(QList<double>, intervals);
    QTEST(silentAfterSeconds({intervals.begin(), intervals.end()}), "seconds");
}

void GuideSessionTest::logLines_data()
{
    QTest::addColumn<GuideRecord>("record");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("line");
    GuideRecord full{12.3456, {1.5, -0.25}, 1.2, -0.9, 2.4, -1.8, -0.32, 0.1, 41.26};
    QTest::newRow("guiding") << full << int(GuideState::Guiding)
                             << "12.346,1.500,-0.250,1.200,-0.900,2.400,-1.800,-0.320,0.100,41.3,0,,guiding";
    GuideRecord noScale{12.3456, {1.5, -0.25}, 1.2, -0.9, kNoValue, kNoValue, 0.0, 0.0, 41.26, true};
    QTest::newRow("no scale, stale") << noScale << int(GuideState::Guiding)
                                     << "12.346,1.500,-0.250,1.200,-0.900,,,0.000,0.000,41.3,1,,guiding";
    GuideRecord lost;
    lost.time = 3.0;
    lost.loss = StarLoss::BrightnessJump;
    QTest::newRow("star lost") << lost << int(GuideState::StarLost)
                               << "3.000,,,,,,,0.000,0.000,0.0,0,brightness-jump,star-lost";
}

void GuideSessionTest::logLines()
{
    QFETCH(GuideRecord, record);
    QFETCH(int, state);
    const QString line = guideLogLine(record, GuideState(state));
    QTEST(line, "line");
    QCOMPARE(line.count(QLatin1Char(',')), guideLogHeader().count(QLatin1Char(',')));
}

void GuideSessionTest::logFile()
{
    // One file a session, begun when guiding starts: the header and a line for every frame.
    Guiding g;
    g.session.onStar(starAt({101, 100}));
    g.session.onStar(lostStar());
    g.session.stop();
    g.session.onStar(starAt({101, 100})); // not guiding: not logged
    QVERIFY(g.session.log().isOpen());
    QFile file(g.session.log().path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // and the empty rest after the last line end
    QCOMPARE(lines[0], guideLogHeader().toLatin1());
    QVERIFY(lines[1].endsWith(",guiding"));
    QVERIFY(lines[2].contains(",no-star,"));
    QVERIFY(QFileInfo(file).fileName().startsWith(QStringLiteral("guide-")));

    // A folder that cannot be made: a note, and guiding goes on without a log.
    RecordingOutput output;
    GuideSession session(output);
    session.setLogFolder(g.session.log().path() + QStringLiteral("/inside-a-file"));
    QSignalSpy notes(&session, &GuideSession::note);
    session.engine().useCalibration(squareCalibration());
    QVERIFY(session.guide({0, 0}));
    QCOMPARE(notes.size(), 1);
    QVERIFY(notes[0][0].toString().startsWith(QStringLiteral("No guide log")));
    session.onStar(starAt({1, 1}));
    QCOMPARE(int(session.engine().state()), int(GuideState::Guiding));
    QVERIFY(!session.log().isOpen());
}

QTEST_GUILESS_MAIN(GuideSessionTest)
#include "guide_session.moc"
