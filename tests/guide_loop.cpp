// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/calibrator.h"
#include "guide/guideengine.h"
#include "tools/adaptorsim/mountmodel.h"
#include "tools/guidesim/guidenight.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace voruna;

namespace {

using Clock = MountModel::Clock;

Clock::time_point at(double seconds)
{
    return Clock::time_point{}
           + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// A mount and camera without pictures: the mount model's tracking error turned into the
// picture by `raColumn` and `decColumn` (pixels per arcsecond), the star measured exactly.
struct ToySky {
    ToySky(const MountSetup &setup, double angle, double decTurn = 0.0)
        : mount(setup, Clock::time_point{})
    {
        const double a = angle * std::numbers::pi / 180.0;
        const double d = (angle + decTurn) * std::numbers::pi / 180.0;
        raColumn = QPointF(std::cos(a), -std::sin(a)) / 2.0;
        decColumn = QPointF(-std::sin(d), -std::cos(d)) / 2.0;
    }

    StarMeasurement star(double seconds) const
    {
        const SkyOffset e = mount.trackingErrorAt(at(seconds));
        StarMeasurement m;
        m.centre = QPointF(320, 240) + raColumn * e.ra + decColumn * e.dec;
        m.snr = 30.0;
        return m;
    }

    void send(double seconds, std::vector<GuidePulse> pulses)
    {
        static const char letters[] = {'n', 's', 'w', 'e'};
        for (const GuidePulse &p : pulses)
            mount.start(letters[int(p.direction)], at(seconds));
        std::sort(pulses.begin(), pulses.end(),
                  [](const GuidePulse &a, const GuidePulse &b) { return a.seconds < b.seconds; });
        for (const GuidePulse &p : pulses) {
            const double held = p.seconds + lateStop;
            mount.stop(letters[int(p.direction)], at(seconds + held));
            if (told)
                told->pulseEnded(p.direction, seconds + held, held);
        }
    }

    MountModel mount;
    // Stops land this late, as on a busy machine, and `told` hears how long each really ran.
    double lateStop = 0.0;
    GuideEngine *told = nullptr;
    QPointF raColumn, decColumn;
};

MountSetup mountWith(double west, double east, double north, double south)
{
    MountSetup m;
    m.guideRates = {north, south, west, east};
    return m;
}

// Calibrates on `sky` with a frame every 2 s until calibration ends; the star is lost from
// frame `loseFrom` on (never when negative). `firstState`, when given, gets the state line
// after the first frame.
void calibrate(GuideEngine *engine, ToySky *sky, int loseFrom = -1, QString *firstState = nullptr)
{
    engine->setPlateScale(2.0);
    engine->calibrate(0.0, sky->star(0.0).centre);
    for (int k = 1; k < 2000; ++k) {
        if (k == 2 && firstState)
            *firstState = engine->stateText();
        const GuideState s = engine->state();
        if (s != GuideState::Calibrating && s != GuideState::StarLost)
            return;
        StarMeasurement star = sky->star(2.0 * k);
        if (loseFrom >= 0 && k >= loseFrom)
            star.loss = StarLoss::NoStar;
        sky->send(2.0 * k, engine->onFrame(2.0 * k, star));
    }
}

Calibration squareCalibration()
{
    Calibration c;
    c.west = QPointF(3.75, 0.0);
    c.north = QPointF(0.0, -3.75);
    return c;
}

} // namespace

class GuideLoopTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void axisAlgorithms_data();
    void axisAlgorithms();
    void calibrationLearnsTheMount_data();
    void calibrationLearnsTheMount();
    void calibrationThatCannotSucceed_data();
    void calibrationThatCannotSucceed();
    void calibrationWarnings_data();
    void calibrationWarnings();
    void correctionsOnlyOnFreshFrames_data();
    void correctionsOnlyOnFreshFrames();
    void simulatedNightHoldsTheStar_data();
    void simulatedNightHoldsTheStar();
};

void GuideLoopTest::axisAlgorithms_data()
{
    QTest::addColumn<bool>("hysteresis");
    QTest::addColumn<double>("aggressiveness");
    QTest::addColumn<double>("setting"); // hysteresis, or frames of persistence
    QTest::addColumn<QList<double>>("errors");
    QTest::addColumn<QList<double>>("moves");
    QTest::newRow("hysteresis: plain share")
        << true << 1.0 << 0.0 << QList<double>{1, -2} << QList<double>{-1, 2};
    QTest::newRow("hysteresis: one frame's swing damped")
        << true << 0.5 << 0.5 << QList<double>{2, 2, -2} << QList<double>{-1, -1, 0};
    QTest::newRow("resist-switch: first sense after it lasts")
        << false << 1.0 << 3.0 << QList<double>{1, 1, 1, 1} << QList<double>{0, 0, -1, -1};
    QTest::newRow("resist-switch: seeing's swings left alone, a lasting one turns it")
        << false << 0.5 << 3.0 << QList<double>{2, 2, 2, -2, 2, -2, -2, -2}
        << QList<double>{0, 0, -1, 0, -1, 0, 0, 1};
    QTest::newRow("resist-switch: persistence of one follows every sense")
        << false << 1.0 << 1.0 << QList<double>{1, -1, 0} << QList<double>{-1, 1, 0};
}

void GuideLoopTest::axisAlgorithms()
{
    QFETCH(bool, hysteresis);
    QFETCH(double, aggressiveness);
    QFETCH(double, setting);
    QFETCH(QList<double>, errors);
    QFETCH(QList<double>, moves);
    const std::unique_ptr<AxisGuider> guider =
        hysteresis ? makeHysteresisGuider({aggressiveness, setting})
                   : makeResistSwitchGuider({aggressiveness, int(setting)});
    for (int round = 0; round < 2; ++round) { // reset() forgets everything
        for (qsizetype i = 0; i < errors.size(); ++i)
            QCOMPARE(guider->correction(2.0 * i, errors[i]), moves[i]);
        guider->reset();
    }
}

void GuideLoopTest::calibrationLearnsTheMount_data()
{
    QTest::addColumn<double>("angle");
    QTest::addColumn<bool>("mirrored");
    QTest::addColumn<double>("eastRate");      // arcseconds per second; west, north and south 7.5
    QTest::addColumn<double>("drift");         // arcseconds per second, on both axes
    QTest::addColumn<double>("backlash");      // arcseconds
    QTest::addColumn<double>("periodicError"); // arcseconds over 230.5 s
    QTest::addColumn<double>("lateStop");      // seconds each stop lands late
    QTest::newRow("turned 15 degrees") << 15.0 << false << 7.5 << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("drift and backlash cancel out")
        << 15.0 << false << 7.5 << 0.08 << 5.0 << 0.0 << 0.0;
    QTest::newRow("periodic error under way") << 15.0 << false << 7.5 << 0.0 << 0.0 << 5.0 << 0.0;
    QTest::newRow("mirrored, upside down") << -170.0 << true << 7.5 << -0.05 << 10.0 << 0.0 << 0.0;
    QTest::newRow("east slower than west") << 60.0 << false << 4.0 << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("stops land late") << 15.0 << false << 7.5 << 0.0 << 5.0 << 0.0 << 0.15;
}

void GuideLoopTest::calibrationLearnsTheMount()
{
    QFETCH(double, angle);
    QFETCH(bool, mirrored);
    QFETCH(double, eastRate);
    QFETCH(double, drift);
    QFETCH(double, backlash);
    QFETCH(double, periodicError);
    QFETCH(double, lateStop);
    MountSetup setup = mountWith(7.5, eastRate, 7.5, 7.5);
    setup.driftRa = setup.driftDec = drift;
    setup.decBacklash = backlash;
    setup.peAmplitude = periodicError;
    setup.pePeriod = 230.5;
    ToySky sky(setup, angle, mirrored ? 180.0 : 0.0);
    GuideEngine engine;
    sky.lateStop = lateStop;
    sky.told = &engine;
    QString firstState;
    calibrate(&engine, &sky, -1, &firstState);
    QCOMPARE(firstState, QStringLiteral("Calibrating: west, step 1"));
    QCOMPARE(engine.state(), GuideState::Calibrated);
    const Calibration c = *engine.calibration();
    QVERIFY2(std::abs(c.raAngle() - angle) < 0.5, qPrintable(QString::number(c.raAngle())));
    QVERIFY2(std::abs(c.axesAngle() - 90.0) < 1.0, qPrintable(QString::number(c.axesAngle())));
    QVERIFY2(std::abs(c.raRate() / 3.75 - 1.0) < 0.01, qPrintable(QString::number(c.raRate())));
    QVERIFY(std::abs(c.rateOf(true, false) / (eastRate / 2.0) - 1.0) < 0.02);
    QVERIFY(std::abs(c.decRate() / 3.75 - 1.0) < 0.01);
    QVERIFY(std::abs(c.rateOf(false, false) / 3.75 - 1.0) < 0.02);
    // A move west turns back into RA alone, in the right sense.
    const QPointF axes = c.toAxes(sky.raColumn * 10.0);
    QVERIFY(std::abs(axes.x() - 5.0) < 0.05 && std::abs(axes.y()) < 0.05);
    QVERIFY(engine.calibrationWarnings().isEmpty());
}

void GuideLoopTest::calibrationThatCannotSucceed_data()
{
    QTest::addColumn<double>("raRate"); // arcseconds per second, both senses
    QTest::addColumn<double>("decRate");
    QTest::addColumn<double>("decTurn"); // degrees the Dec axis is turned towards RA
    QTest::addColumn<int>("loseFrom");
    QTest::addColumn<QString>("reason");
    QTest::newRow("mount never moves") << 0.0 << 0.0 << 0.0 << -1 << "went only 0.0 px";
    QTest::newRow("Dec never moves") << 7.5 << 0.0 << 0.0 << -1 << "never moved steadily";
    QTest::newRow("star lost") << 7.5 << 7.5 << 0.0 << 6 << "lost while calibrating";
    QTest::newRow("axes not square") << 7.5 << 7.5 << -50.0 << -1 << "far from square";
    QTest::newRow("too few steps") << 75.0 << 75.0 << 0.0 << -1 << "too few";
}

void GuideLoopTest::calibrationThatCannotSucceed()
{
    QFETCH(double, raRate);
    QFETCH(double, decRate);
    QFETCH(double, decTurn);
    QFETCH(int, loseFrom);
    QFETCH(QString, reason);
    ToySky sky(mountWith(raRate, raRate, decRate, decRate), 15.0, decTurn);
    GuideEngine engine;
    calibrate(&engine, &sky, loseFrom);
    QCOMPARE(engine.state(), GuideState::Failed);
    QVERIFY2(engine.failureText().contains(reason), qPrintable(engine.failureText()));
    QVERIFY(engine.stateText().startsWith(QStringLiteral("Calibration failed: ")));
    QVERIFY(!engine.calibration());
    QVERIFY(!engine.guide(1e4, QPointF(320, 240)));
}

void GuideLoopTest::calibrationWarnings_data()
{
    QTest::addColumn<double>("northTurn"); // degrees away from square
    QTest::addColumn<double>("rateShare"); // of what 7.5"/s at 2"/px gives
    QTest::addColumn<int>("fewestSteps");
    QTest::addColumn<QString>("warning"); // empty: none
    QTest::newRow("sound") << 0.0 << 1.0 << 8 << QString();
    QTest::newRow("off square") << 20.0 << 1.0 << 8 << "110 degrees apart";
    QTest::newRow("rate too slow for the guide rate") << 0.0 << 0.4 << 8 << "guide rate";
    QTest::newRow("few steps") << 0.0 << 1.0 << 4 << "only 4 steps";
}

void GuideLoopTest::calibrationWarnings()
{
    QFETCH(double, northTurn);
    QFETCH(double, rateShare);
    QFETCH(int, fewestSteps);
    QFETCH(QString, warning);
    Calibration c = squareCalibration();
    c.west *= rateShare;
    const double t = northTurn * std::numbers::pi / 180.0;
    c.north = QPointF(-std::sin(t), -std::cos(t)) * 3.75;
    c.plateScale = 2.0;
    const QStringList warnings = voruna::calibrationWarnings(c, 7.5, fewestSteps);
    QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
    if (!warning.isEmpty())
        QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
}

void GuideLoopTest::correctionsOnlyOnFreshFrames_data()
{
    // Events a frame apart (2 s): o a frame with the star off the lock, l a frame without the
    // star, s two seconds without frames (the owner's watchdog speaks). Expected: 1 a frame
    // that starts corrections, 0 one that starts none, - no frame.
    QTest::addColumn<double>("error"); // pixels off on both axes
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the frame after a correction is stale") << 2.0 << "ooooo"
                                                           << "10101";
    QTest::newRow("a long correction spoils two frames") << 12.0 << "ooooo"
                                                         << "10010";
    QTest::newRow("nothing while the star is lost") << 2.0 << "olllo"
                                                    << "10001";
    QTest::newRow("nothing while the camera is silent") << 2.0 << "ossoo"
                                                        << "1--01";
    QTest::newRow("lost, then silent, then back") << 2.0 << "lsloo"
                                                  << "0-010";
}

void GuideLoopTest::correctionsOnlyOnFreshFrames()
{
    QFETCH(double, error);
    QFETCH(QString, events);
    QFETCH(QString, expected);
    GuideSettings settings;
    settings.maxPulseSeconds = 3.0;
    settings.dec.persistence = 1;
    GuideEngine engine(settings);
    engine.useCalibration(squareCalibration());
    QVERIFY(engine.guide(0.0, QPointF(100, 100)));
    StarMeasurement star;
    star.centre = QPointF(100 + error, 100 - error);
    star.snr = 20.0;
    for (qsizetype i = 0; i < events.size(); ++i) {
        const double time = 2.0 * double(i + 1);
        if (events[i] == u's') {
            engine.cameraSilent();
            QCOMPARE(engine.state(), GuideState::CameraSilent);
            QCOMPARE(engine.stateText(), QStringLiteral("No frames from the camera"));
            continue;
        }
        StarMeasurement frame = star;
        frame.loss = events[i] == u'l' ? StarLoss::NoStar : StarLoss::None;
        GuideRecord record;
        const std::vector<GuidePulse> pulses = engine.onFrame(time, frame, &record);
        QCOMPARE(pulses.empty() ? u'0' : u'1', expected[i]);
        // One pulse per axis at most, each against the error, as the record says.
        QVERIFY(pulses.size() <= 2);
        for (const GuidePulse &p : pulses) {
            QVERIFY(p.direction == GuideDirection::East || p.direction == GuideDirection::South);
            QVERIFY(p.seconds > 0.0 && p.seconds <= settings.maxPulseSeconds);
        }
        QCOMPARE(record.raPulse < 0.0, !pulses.empty());
        const bool lost = events[i] == u'l';
        QCOMPARE(engine.state(), lost ? GuideState::StarLost : GuideState::Guiding);
        QCOMPARE(engine.stateText().startsWith(QStringLiteral("Star lost: ")), lost);
        QCOMPARE(record.stale, !lost && pulses.empty());
    }
}

void GuideLoopTest::simulatedNightHoldsTheStar_data()
{
    QTest::addColumn<bool>("predictive");
    QTest::newRow("hysteresis") << false;
    QTest::newRow("predictive") << true;
}

void GuideLoopTest::simulatedNightHoldsTheStar()
{
    QFETCH(bool, predictive);
    GuideNightSetup setup;
    setup.guide.raAlgorithm = predictive ? GuideSettings::RaAlgorithm::Predictive
                                         : GuideSettings::RaAlgorithm::Hysteresis;
    setup.width = 320;
    setup.settleSeconds = 20.0;
    setup.judgedSeconds = 120.0;
    const GuideNightResult night = runGuideNight(setup);
    QVERIFY2(night.calibrated, qPrintable(night.failure));
    QVERIFY(std::abs(night.calibration.raAngle() - night.trueAngle) < 3.0);
    QVERIFY(std::abs(night.calibration.raRate() / night.trueRates[0] - 1.0) < 0.1);
    QVERIFY(std::abs(night.calibration.decRate() / night.trueRates[2] - 1.0) < 0.1);
    QCOMPARE(night.lost, 0);
    QCOMPARE(night.doubledAxes, 0);
    QCOMPARE(night.overlaps, 0);
    setup.guided = false;
    setup.unguidedFrom = night.judgedFrom;
    const GuideNightResult unguided = runGuideNight(setup);
    const QString figures = QStringLiteral("guided %1\" %2\", unguided %3\" %4\"")
                                .arg(night.rmsRa)
                                .arg(night.rmsDec)
                                .arg(unguided.rmsRa)
                                .arg(unguided.rmsDec);
    QVERIFY2(night.rmsRa < unguided.rmsRa / 2.0 && night.rmsDec < unguided.rmsDec / 2.0,
             qPrintable(figures));
    QVERIFY2(night.total() < 1.5, qPrintable(figures));
}

QTEST_APPLESS_MAIN(GuideLoopTest)
#include "guide_loop.moc"
