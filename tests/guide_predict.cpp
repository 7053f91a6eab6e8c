// SPDX-License-Identifier: GPL-3.0-or-later
// The predictive RA algorithm and the fit under it, in simulated time: a sine of periodic
// error, a drift, Gaussian scatter, frames every 2 s, the loop's least move and longest pulse.
#include "guide/axisguider.h"
#include "guide/motionfit.h"

#include <QTest>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace voruna;

namespace {

struct Sky {
    double amplitude = 0.0; // pixels of periodic error
    double period = 230.5;
    double drift = 0.0;                  // pixels per second
    double scatter = 0.0;                // pixels, per frame
    double rateError = 0.0;              // the mount moves this share more than it is asked
    double gapFrom = -1.0, gapTo = -1.0; // seconds without frames
    double second = 0.0;                 // pixels of the periodic error's second harmonic
};

// Guides `seconds` of `sky` with `guider` and returns the RMS of the star's true place over the
// frames of the second half, pixels; `largest` receives the largest move asked.
double guide(AxisGuider &guider, const Sky &sky, double seconds, double *largest = nullptr)
{
    std::mt19937_64 random(7);
    std::normal_distribution<double> air(0.0, sky.scatter);
    const double rate = 3.75, least = 0.15, longest = 2.0;
    double moved = 0.0, pulseEnd = 0.0, previous = -1.0, squares = 0.0;
    int count = 0;
    for (double t = 100.0; t < 100.0 + seconds; t += 2.0) {
        const double phase = 2.0 * std::numbers::pi * t / sky.period;
        const double own =
            sky.amplitude * std::sin(phase) + sky.second * std::sin(2.0 * phase) + sky.drift * t;
        const double star = own + moved + (sky.scatter > 0.0 ? air(random) : 0.0);
        if (t >= sky.gapFrom && t < sky.gapTo)
            continue;
        if (t >= 100.0 + seconds / 2.0)
            squares += star * star, ++count;
        const bool fresh = previous >= pulseEnd;
        previous = t;
        if (!fresh)
            continue;
        const double want = guider.correction(t, star);
        if (largest)
            *largest = std::max(*largest, std::abs(want));
        const double pulse =
            std::abs(want) < least ? 0.0 : std::min(std::abs(want) / rate, longest);
        guider.sent(t, std::copysign(pulse * rate, want));
        moved += std::copysign(pulse * rate, want) * (1.0 + sky.rateError);
        pulseEnd = t + pulse;
    }
    return std::sqrt(squares / count);
}

} // namespace

Q_DECLARE_METATYPE(Sky)
Q_DECLARE_METATYPE(PredictiveSettings)

class GuidePredict : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void learnsTheMotion_data();
    void learnsTheMotion();
    void staysCalmOnScatter_data();
    void staysCalmOnScatter();
    void badInputIsCalm_data();
    void badInputIsCalm();
    void resetForgets_data();
    void resetForgets();
    void fitsAndFindsThePeriod_data();
    void fitsAndFindsThePeriod();
};

void GuidePredict::learnsTheMotion_data()
{
    QTest::addColumn<Sky>("sky");
    QTest::addColumn<double>("period"); // given to the algorithm, 0 for none
    QTest::addColumn<double>("share");  // of the usual algorithm's RMS it reaches at most
    QTest::addColumn<double>("seconds");

    const Sky night{2.5, 230.5, 0.0, 0.125};
    QTest::newRow("the night's sine, period given") << night << 230.5 << 0.7 << 1200.0;
    QTest::newRow("the night's sine, period found") << night << 0.0 << 0.8 << 1200.0;
    QTest::newRow("the night's first minutes, a trend alone") << night << 0.0 << 0.95 << 300.0;
    QTest::newRow("a wrong period given") << night << 180.0 << 0.95 << 1200.0;
    QTest::newRow("a sine and a drift") << Sky{2.5, 230.5, 0.02, 0.125} << 0.0 << 0.8 << 1200.0;
    QTest::newRow("a strong second harmonic")
        << Sky{1.0, 230.5, 0.0, 0.125, 0.0, -1.0, -1.0, 2.0} << 0.0 << 0.8 << 1200.0;
    QTest::newRow("a short worm, no scatter")
        << Sky{1.5, 120.0, 0.0, 0.0} << 120.0 << 0.7 << 1200.0;
    QTest::newRow("a mount 10% faster than calibrated")
        << Sky{2.5, 230.5, 0.0, 0.125, 0.1} << 230.5 << 0.85 << 1200.0;
    QTest::newRow("a minute lost")
        << Sky{2.5, 230.5, 0.0, 0.125, 0.0, 700.0, 760.0} << 0.0 << 0.95 << 1200.0;
}

void GuidePredict::learnsTheMotion()
{
    QFETCH(Sky, sky);
    QFETCH(double, period);
    QFETCH(double, share);
    QFETCH(double, seconds);
    PredictiveSettings settings;
    settings.period = period;
    const auto predictive = makePredictiveGuider(settings);
    const auto usual = makeHysteresisGuider({});
    const double predicted = guide(*predictive, sky, seconds);
    const double reactive = guide(*usual, sky, seconds);
    QVERIFY2(predicted < share * reactive,
             qPrintable(QStringLiteral("%1 against %2").arg(predicted).arg(reactive)));
}

void GuidePredict::staysCalmOnScatter_data()
{
    QTest::addColumn<Sky>("sky");

    QTest::newRow("scatter alone") << Sky{0.0, 230.5, 0.0, 0.125};
    QTest::newRow("large scatter") << Sky{0.0, 230.5, 0.0, 0.5};
    QTest::newRow("scatter and gaps") << Sky{0.0, 230.5, 0.0, 0.125, 0.0, 400.0, 520.0};
}

void GuidePredict::staysCalmOnScatter()
{
    QFETCH(Sky, sky);
    for (const double period : {0.0, 230.5}) {
        PredictiveSettings settings;
        settings.period = period;
        const auto guider = makePredictiveGuider(settings);
        double largest = 0.0;
        const double rms = guide(*guider, sky, 1800.0, &largest);
        // Correcting scatter can at worst add a share of it; a runaway grows without bound.
        QVERIFY2(rms < 1.5 * sky.scatter, qPrintable(QString::number(rms)));
        QVERIFY2(largest < 6.0 * sky.scatter, qPrintable(QString::number(largest)));
    }
}

void GuidePredict::badInputIsCalm_data()
{
    QTest::addColumn<PredictiveSettings>("settings");
    QTest::addColumn<double>("time");
    QTest::addColumn<double>("error");

    const double nan = std::nan("");
    QTest::newRow("no error measured") << PredictiveSettings{} << 2000.0 << nan;
    QTest::newRow("no time") << PredictiveSettings{} << nan << 1.0;
    QTest::newRow("settings that make no sense")
        << PredictiveSettings{nan, -5.0, HUGE_VAL} << 2000.0 << 1.0;
}

void GuidePredict::badInputIsCalm()
{
    QFETCH(PredictiveSettings, settings);
    QFETCH(double, time);
    QFETCH(double, error);
    const auto guider = makePredictiveGuider(settings);
    guide(*guider, Sky{2.5, 230.5, 0.0, 0.125}, 600.0);
    const double move = guider->correction(time, error);
    QVERIFY(std::isfinite(move) && std::abs(move) < 2.0);
    // What follows is guided as before.
    QVERIFY(guide(*guider, Sky{2.5, 230.5, 0.0, 0.125}, 600.0) < 0.3);
}

void GuidePredict::resetForgets_data()
{
    QTest::addColumn<bool>("clockBack"); // the clock going back instead of reset()

    QTest::newRow("reset") << false;
    QTest::newRow("the clock going back") << true;
}

void GuidePredict::resetForgets()
{
    QFETCH(bool, clockBack);
    PredictiveSettings settings;
    settings.period = 120.0;
    const auto guider = makePredictiveGuider(settings);
    guide(*guider, Sky{2.0, 120.0, 0.01, 0.05}, 600.0);
    if (!clockBack)
        guider->reset();
    // A star on the lock position, nothing learnt: nothing to correct.
    QCOMPARE(guider->correction(clockBack ? 50.0 : 702.0, 0.0), 0.0);
    QCOMPARE(guider->correction(clockBack ? 54.0 : 706.0, 1.0), -settings.aggressiveness);
}

void GuidePredict::fitsAndFindsThePeriod_data()
{
    QTest::addColumn<double>("period");    // of the motion; 0 for a bending trend
    QTest::addColumn<double>("scatter");   // pixels
    QTest::addColumn<double>("found");     // the period expected found, 0 for none
    QTest::addColumn<double>("tolerance"); // of the fit's prediction 10 s ahead, pixels
    QTest::addColumn<double>("second");    // pixels of the sine's second harmonic

    QTest::newRow("a sine with a drift") << 230.5 << 0.0 << 230.5 << 1e-6 << 0.0;
    QTest::newRow("a bending trend") << 0.0 << 0.0 << 0.0 << 1e-6 << 0.0;
    QTest::newRow("a sine in scatter") << 230.5 << 0.125 << 230.5 << 0.1 << 0.0;
    QTest::newRow("a short sine in scatter") << 70.0 << 0.125 << 70.0 << 0.1 << 0.0;
    QTest::newRow("a strong second harmonic") << 230.5 << 0.125 << 230.5 << 0.1 << 3.0;
}

void GuidePredict::fitsAndFindsThePeriod()
{
    QFETCH(double, period);
    QFETCH(double, scatter);
    QFETCH(double, found);
    QFETCH(double, tolerance);
    QFETCH(double, second);
    std::mt19937_64 random(3);
    std::normal_distribution<double> air(0.0, 1.0);
    const auto motion = [period, second](double t) {
        const double phase = period > 0.0 ? 2.0 * std::numbers::pi * t / period : 0.0;
        return period > 0.0 ? 2.0 * std::sin(phase) + second * std::sin(2.0 * phase) + 0.01 * t
                            : 0.5 + 0.02 * t - 1e-4 * t * t;
    };
    std::vector<MotionSample> samples;
    for (double t = 0.0; t < 600.0; t += 4.0)
        samples.push_back({t, motion(t) + scatter * air(random)});
    const std::optional<MotionFit> fit = MotionFit::fit(samples, {period, 2, period == 0.0});
    QVERIFY(fit);
    QVERIFY(std::abs(fit->at(606.0) - motion(606.0)) < tolerance);
    const std::optional<double> p = findPeriod(samples, 40.0, 400.0, 0.5);
    QCOMPARE(p.has_value(), found > 0.0);
    if (p)
        QVERIFY2(std::abs(*p - found) < 0.02 * found, qPrintable(QString::number(*p)));
    QVERIFY(!MotionFit::fit(std::span(samples).first(3), {period, 2, false}));
}

QTEST_APPLESS_MAIN(GuidePredict)
#include "guide_predict.moc"
