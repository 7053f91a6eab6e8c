// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/startracker.h"
#include "guide/syntheticframe.h"

#include <QLineF>
#include <QTest>

using namespace voruna;

namespace {

constexpr QPointF start(60.3, 50.6);
constexpr double starElectrons = 3000.0; // a signal-to-noise ratio of about 40

// One frame with the star at `at` holding `electrons`, on the tests' sky.
void exposeStar(SyntheticFrame *frame, QPointF at, double electrons, int bits, std::uint64_t seed,
                bool hotPixelThere = false)
{
    frame->clear();
    if (electrons > 0.0)
        frame->addStar(at, 3.0, electrons);
    if (hotPixelThere)
        frame->addHotPixel(at.toPoint(), 60000);
    SyntheticExposure exposure;
    exposure.sky = 20.0;
    exposure.adusPerElectron = bits == 16 ? 1.0 : 0.1;
    exposure.bias = bits == 16 ? 100.0 : 8.0;
    exposure.seed = seed;
    frame->expose(exposure);
}

} // namespace

class GuideTrackerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void followsTheStar_data();
    void followsTheStar();
    void lostAndFoundAgain_data();
    void lostAndFoundAgain();
};

void GuideTrackerTest::followsTheStar_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<QPointF>("drift"); // pixels a frame
    QTest::newRow("still") << 16 << QPointF(0, 0);
    QTest::newRow("slow drift") << 16 << QPointF(0.7, -0.4);
    QTest::newRow("six pixels a frame") << 16 << QPointF(6.0, 3.0);
    QTest::newRow("slow drift, 8 bits") << 8 << QPointF(-0.3, 0.9);
}

void GuideTrackerTest::followsTheStar()
{
    QFETCH(int, bits);
    QFETCH(QPointF, drift);
    SyntheticFrame frame(200, 150, bits);
    exposeStar(&frame, start, starElectrons, bits, 1);
    StarTracker tracker;
    const StarMeasurement first = measureStar(frame.view(), start + QPointF(3, 3), StarSettings{});
    QCOMPARE(first.loss, StarLoss::None);
    tracker.follow(first);
    for (int i = 1; i <= 10; ++i) {
        const QPointF truth = start + i * drift;
        exposeStar(&frame, truth, starElectrons, bits, std::uint64_t(i + 1));
        const StarMeasurement star = tracker.track(frame.view());
        QCOMPARE(star.loss, StarLoss::None);
        QVERIFY2(QLineF(star.centre, truth).length() < 0.3,
                 qPrintable(QStringLiteral("frame %1").arg(i)));
        QCOMPARE(tracker.position(), star.centre);
    }
}

void GuideTrackerTest::lostAndFoundAgain_data()
{
    // Followed from `from` for four frames, the star changes in the fifth and is back as it was
    // in the sixth.
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("moved");
    QTest::addColumn<double>("brightness");
    QTest::addColumn<bool>("hotPixelInItsPlace");
    QTest::addColumn<double>("minSnr");
    QTest::addColumn<StarLoss>("loss");
    QTest::newRow("gone from the box")
        << start << QPointF(40, 0) << 1.0 << false << 6.0 << StarLoss::NoStar;
    QTest::newRow("clouded over") << start << QPointF() << 0.0 << false << 6.0 << StarLoss::NoStar;
    QTest::newRow("a cloud dims it")
        << start << QPointF() << 0.3 << false << 6.0 << StarLoss::BrightnessJump;
    QTest::newRow("an aeroplane crosses it")
        << start << QPointF(1, 1) << 4.0 << false << 6.0 << StarLoss::BrightnessJump;
    QTest::newRow("a thin cloud sinks it below the floor")
        << start << QPointF() << 0.6 << false << 30.0 << StarLoss::TooFaint;
    QTest::newRow("saturated") << start << QPointF() << 400.0 << false << 6.0
                               << StarLoss::Saturated;
    QTest::newRow("a hot pixel in its place")
        << start << QPointF() << 0.0 << true << 6.0 << StarLoss::HotPixel;
    QTest::newRow("drifted to the edge")
        << QPointF(15.3, 50.6) << QPointF(-14.5, 0) << 1.0 << false << 6.0 << StarLoss::NearEdge;
    QTest::newRow("a small change is no jump")
        << start << QPointF(0.5, 0) << 0.7 << false << 6.0 << StarLoss::None;
}

void GuideTrackerTest::lostAndFoundAgain()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, moved);
    QFETCH(double, brightness);
    QFETCH(bool, hotPixelInItsPlace);
    QFETCH(double, minSnr);
    QFETCH(StarLoss, loss);
    StarSettings settings;
    settings.minSnr = minSnr;
    SyntheticFrame frame(200, 150, 16);
    StarTracker tracker(settings);
    exposeStar(&frame, from, starElectrons, 16, 1);
    tracker.follow(measureStar(frame.view(), from, settings));
    for (std::uint64_t seed = 2; seed <= 4; ++seed) {
        exposeStar(&frame, from, starElectrons, 16, seed);
        QCOMPARE(tracker.track(frame.view()).loss, StarLoss::None);
    }
    const QPointF before = tracker.position();

    exposeStar(&frame, from + moved, starElectrons * brightness, 16, 5, hotPixelInItsPlace);
    const StarMeasurement changed = tracker.track(frame.view());
    QCOMPARE(changed.loss, loss);
    if (loss != StarLoss::None) {
        QCOMPARE(tracker.position(), before);
        QVERIFY(!starLossText(loss).isEmpty());
    }

    exposeStar(&frame, from, starElectrons, 16, 6);
    const StarMeasurement back = tracker.track(frame.view());
    QCOMPARE(back.loss, StarLoss::None);
    QVERIFY(QLineF(back.centre, from).length() < 0.3);
}

QTEST_APPLESS_MAIN(GuideTrackerTest)
#include "guide_tracker.moc"
