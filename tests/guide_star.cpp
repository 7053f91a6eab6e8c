// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/starfinder.h"
#include "guide/starmeasure.h"
#include "guide/syntheticframe.h"

#include <QLineF>
#include <QTest>

#include <random>

using namespace voruna;

namespace {

constexpr QPointF none(-1.0, -1.0);

// The sky the tests draw on: 20 electrons a pixel, 5 of read noise; an 8-bit camera takes one
// ADU for twenty electrons.
SyntheticExposure exposureFor(int bits, std::uint64_t seed = 1)
{
    SyntheticExposure exposure;
    exposure.sky = 20.0;
    exposure.adusPerElectron = bits == 16 ? 1.0 : 0.05;
    exposure.bias = bits == 16 ? 100.0 : 8.0;
    exposure.seed = seed;
    return exposure;
}

void draw(SyntheticFrame *frame, const QList<QPointF> &stars, const QList<double> &electrons,
          const QList<QPoint> &hotPixels, int bits)
{
    for (qsizetype i = 0; i < stars.size(); ++i)
        frame->addStar(stars[i], 3.0, electrons[i]);
    for (QPoint p : hotPixels)
        frame->addHotPixel(p, bits == 16 ? 60000 : 250);
}

QString where(QPointF p)
{
    return QStringLiteral("(%1, %2)").arg(p.x(), 0, 'f', 3).arg(p.y(), 0, 'f', 3);
}

} // namespace

class GuideStarTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void picksTheGuideStar_data();
    void picksTheGuideStar();
    void measuresAtAClick_data();
    void measuresAtAClick();
    void centreWithinBound_data();
    void centreWithinBound();
};

void GuideStarTest::picksTheGuideStar_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<QList<QPointF>>("stars");
    QTest::addColumn<QList<double>>("electrons");
    QTest::addColumn<QList<QPoint>>("hotPixels");
    QTest::addColumn<QPointF>("expected");
    for (int bits : {16, 8}) {
        const QByteArray depth = bits == 16 ? " (16 bits)" : " (8 bits)";
        QTest::newRow("hot pixel brighter than the star" + depth)
            << bits << QList<QPointF>{{60.3, 50.6}} << QList<double>{30000}
            << QList<QPoint>{{120, 80}} << QPointF(60.3, 50.6);
        QTest::newRow("saturated star beside a fainter one" + depth)
            << bits << QList<QPointF>{{40, 40}, {110.5, 70.2}} << QList<double>{5e6, 30000}
            << QList<QPoint>{} << QPointF(110.5, 70.2);
        QTest::newRow("empty sky" + depth)
            << bits << QList<QPointF>{} << QList<double>{} << QList<QPoint>{} << none;
        QTest::newRow("hot pixels only" + depth)
            << bits << QList<QPointF>{} << QList<double>{}
            << QList<QPoint>{{30, 30}, {90, 70}, {140, 20}} << none;
    }
    QTest::newRow("two hot pixels side by side")
        << 16 << QList<QPointF>{{60.3, 50.6}} << QList<double>{30000}
        << QList<QPoint>{{120, 80}, {121, 80}} << QPointF(60.3, 50.6);
    QTest::newRow("only a saturated star")
        << 16 << QList<QPointF>{{80, 60}} << QList<double>{5e6} << QList<QPoint>{} << none;
    QTest::newRow("bright star at the edge, a fainter one inside")
        << 16 << QList<QPointF>{{5, 60}, {90.2, 60.7}} << QList<double>{200000, 20000}
        << QList<QPoint>{} << QPointF(90.2, 60.7);
    QTest::newRow("the higher signal-to-noise ratio of two")
        << 16 << QList<QPointF>{{50, 40}, {100.4, 80.8}} << QList<double>{8000, 40000}
        << QList<QPoint>{} << QPointF(100.4, 80.8);
    QTest::newRow("a star below the floor")
        << 16 << QList<QPointF>{{80, 60}} << QList<double>{150} << QList<QPoint>{} << none;
}

void GuideStarTest::picksTheGuideStar()
{
    QFETCH(int, bits);
    QFETCH(QList<QPointF>, stars);
    QFETCH(QList<double>, electrons);
    QFETCH(QList<QPoint>, hotPixels);
    QFETCH(QPointF, expected);
    SyntheticFrame frame(160, 120, bits);
    draw(&frame, stars, electrons, hotPixels, bits);
    frame.expose(exposureFor(bits));
    const auto star = findGuideStar(frame.view(), StarSettings{});
    if (expected == none) {
        QVERIFY2(!star, qPrintable(star ? "picked " + where(star->centre) : QString()));
        return;
    }
    QVERIFY(star);
    QVERIFY2(QLineF(star->centre, expected).length() < 0.3,
             qPrintable("picked " + where(star->centre)));
    QVERIFY(!star->saturated);
}

void GuideStarTest::measuresAtAClick_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<QPointF>("star");
    QTest::addColumn<double>("electrons");
    QTest::addColumn<int>("clipLevel");
    QTest::addColumn<bool>("noise");
    QTest::addColumn<QPoint>("hotPixel");
    QTest::addColumn<QPointF>("click");
    QTest::addColumn<StarLoss>("loss");
    const QPointF star(70.4, 55.7);
    const QPoint far(120, 30);
    QTest::newRow("six pixels off a star")
        << 16 << star << 20000.0 << 0 << true << far << QPointF(76, 50) << StarLoss::None;
    QTest::newRow("six pixels off, 8 bits")
        << 8 << star << 20000.0 << 0 << true << far << QPointF(64, 61) << StarLoss::None;
    QTest::newRow("on a hot pixel")
        << 16 << star << 20000.0 << 0 << true << far << QPointF(120, 30) << StarLoss::HotPixel;
    QTest::newRow("a hot pixel beside the star")
        << 16 << star << 20000.0 << 0 << true << QPoint(73, 53) << QPointF(72, 56)
        << StarLoss::None;
    QTest::newRow("on empty sky") << 16 << star << 0.0 << 0 << true << far << QPointF(70, 55)
                                  << StarLoss::NoStar;
    QTest::newRow("the star beyond the search box")
        << 16 << star << 20000.0 << 0 << true << far << QPointF(100, 55) << StarLoss::NoStar;
    QTest::newRow("clipped at the depth's top")
        << 16 << star << 5e6 << 0 << true << far << star << StarLoss::Saturated;
    QTest::newRow("clipped at 255")
        << 8 << star << 5e5 << 0 << true << far << star << StarLoss::Saturated;
    QTest::newRow("flat top below the depth's top")
        << 16 << star << 5e6 << 40000 << true << far << star << StarLoss::Saturated;
    QTest::newRow("four equal middle pixels are no flat top")
        << 16 << QPointF(70.5, 55.5) << 200000.0 << 0 << false << far << star << StarLoss::None;
    QTest::newRow("cut by the edge") << 16 << QPointF(1.2, 55.7) << 20000.0 << 0 << true << far
                                     << QPointF(3, 55) << StarLoss::NearEdge;
    QTest::newRow("outside the frame")
        << 16 << star << 20000.0 << 0 << true << far << QPointF(-40, 55) << StarLoss::NoStar;
    QTest::newRow("too faint") << 16 << star << 250.0 << 0 << true << far << star
                               << StarLoss::TooFaint;
}

void GuideStarTest::measuresAtAClick()
{
    QFETCH(int, bits);
    QFETCH(QPointF, star);
    QFETCH(double, electrons);
    QFETCH(int, clipLevel);
    QFETCH(bool, noise);
    QFETCH(QPoint, hotPixel);
    QFETCH(QPointF, click);
    QFETCH(StarLoss, loss);
    SyntheticFrame frame(160, 120, bits);
    if (electrons > 0)
        frame.addStar(star, 3.0, electrons);
    frame.addHotPixel(hotPixel, bits == 16 ? 60000 : 250);
    SyntheticExposure exposure = exposureFor(bits);
    exposure.clipLevel = clipLevel;
    exposure.noise = noise;
    frame.expose(exposure);
    const StarMeasurement m = measureStar(frame.view(), click, StarSettings{});
    QCOMPARE(m.loss, loss);
    QCOMPARE(m.saturated, loss == StarLoss::Saturated);
    if (loss == StarLoss::None)
        QVERIFY2(QLineF(m.centre, star).length() < 0.2, qPrintable("measured " + where(m.centre)));
}

void GuideStarTest::centreWithinBound_data()
{
    // A centre that snaps to the grid, is off by half a pixel, or averages in the sky cannot
    // stay within these bounds at every place. A neighbour pulls a plain first moment by a
    // pixel; the star's own Gaussian weights keep the pull to a tenth.
    QTest::addColumn<int>("bits");
    QTest::addColumn<double>("fwhm");
    QTest::addColumn<double>("electrons");
    QTest::addColumn<bool>("noise");
    QTest::addColumn<double>("neighbour"); // electrons of a star 5.5 px to the right
    QTest::addColumn<double>("bound");
    QTest::newRow("3 px, noise-free") << 16 << 3.0 << 20000.0 << false << 0.0 << 0.01;
    QTest::newRow("5 px, noise-free, 8 bits") << 8 << 5.0 << 100000.0 << false << 0.0 << 0.02;
    QTest::newRow("3 px, a fainter star beside it")
        << 16 << 3.0 << 20000.0 << false << 6000.0 << 0.15;
    QTest::newRow("3 px, signal-to-noise 50") << 16 << 3.0 << 3500.0 << true << 0.0 << 0.2;
    QTest::newRow("5 px, signal-to-noise 100") << 16 << 5.0 << 13000.0 << true << 0.0 << 0.2;
    QTest::newRow("3 px, 8 bits, bright") << 8 << 3.0 << 40000.0 << true << 0.0 << 0.2;
}

void GuideStarTest::centreWithinBound()
{
    QFETCH(int, bits);
    QFETCH(double, fwhm);
    QFETCH(double, electrons);
    QFETCH(bool, noise);
    QFETCH(double, neighbour);
    QFETCH(double, bound);
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> place(-0.5, 0.5);
    SyntheticFrame frame(64, 64, bits);
    for (int i = 0; i < 40; ++i) {
        const QPointF truth(32 + place(random), 32 + place(random));
        frame.clear();
        frame.addStar(truth, fwhm, electrons);
        if (neighbour > 0)
            frame.addStar(truth + QPointF(5.5, 0), fwhm, neighbour);
        SyntheticExposure exposure = exposureFor(bits, random());
        exposure.noise = noise;
        frame.expose(exposure);
        const StarMeasurement m =
            measureStar(frame.view(), truth + QPointF(2.6, -1.8), StarSettings{});
        QCOMPARE(m.loss, StarLoss::None);
        const QPointF error = m.centre - truth;
        QVERIFY2(std::abs(error.x()) < bound && std::abs(error.y()) < bound,
                 qPrintable("star at " + where(truth) + " measured at " + where(m.centre)));
        if (!noise && neighbour == 0) {
            // A Gaussian's half-flux diameter is its FWHM; the aperture holds all of its flux.
            QVERIFY2(std::abs(m.hfd - fwhm) < 0.3, qPrintable(QString::number(m.hfd)));
            const double adus = electrons * exposure.adusPerElectron;
            QVERIFY2(std::abs(m.flux - adus) < 0.02 * adus, qPrintable(QString::number(m.flux)));
        }
    }
}

QTEST_APPLESS_MAIN(GuideStarTest)
#include "guide_star.moc"
