// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/guidestats.h"

#include <QTest>

#include <cmath>

using namespace voruna;

namespace {

constexpr double none = kNoValue;

// Offsets along the axes, one frame a second from time 0.
struct Axes {
    QList<double> ra, dec;
};

std::deque<GuideRecord> records(const Axes &axes)
{
    std::deque<GuideRecord> out;
    for (int i = 0; i < axes.ra.size(); ++i) {
        GuideRecord r;
        r.time = i;
        r.raPixels = axes.ra[i];
        r.decPixels = axes.dec[i];
        out.push_back(r);
    }
    return out;
}

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::abs(a - b) < 1e-9;
}

} // namespace

Q_DECLARE_METATYPE(Axes)

class GuideStatsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void overTheWindow_data();
    void overTheWindow();
};

void GuideStatsTest::overTheWindow_data()
{
    QTest::addColumn<Axes>("axes");
    QTest::addColumn<double>("now");
    QTest::addColumn<double>("window");
    QTest::addColumn<double>("scale");
    // RMS RA, RMS Dec, total, peak RA, peak Dec, frames on each axis
    QTest::addColumn<QList<double>>("expected");

    QTest::newRow("about the lock position, not the mean")
        << Axes{{2, 2, 2, 2}, {0, 0, 0, 0}} << 3.0 << 10.0 << 1.0
        << QList<double>{2, 0, 2, 2, 0, 4, 4};
    QTest::newRow("population, not sample")
        << Axes{{3, -4}, {0, 0}} << 1.0 << 10.0 << 1.0
        << QList<double>{std::sqrt(12.5), 0, std::sqrt(12.5), 4, 0, 2, 2};
    QTest::newRow("total from both axes")
        << Axes{{3, -3}, {4, -4}} << 1.0 << 10.0 << 1.0 << QList<double>{3, 4, 5, 3, 4, 2, 2};
    QTest::newRow("lost frames skipped on their axis")
        << Axes{{1, none, -1}, {none, 2, none}} << 2.0 << 10.0 << 1.0
        << QList<double>{1, 2, std::sqrt(5.0), 1, 2, 2, 1};
    QTest::newRow("nothing measured") << Axes{{none, none}, {none, none}} << 1.0 << 10.0 << 1.0
                                      << QList<double>{none, none, none, none, none, 0, 0};
    QTest::newRow("no calibration on Dec: no total")
        << Axes{{1, -1}, {none, none}} << 1.0 << 10.0 << 1.0
        << QList<double>{1, none, none, 1, none, 2, 0};
    QTest::newRow("window's edges both in")
        << Axes{{0, 1, 2, 3, 4, 5}, {0, 0, 0, 0, 0, 0}} << 4.0 << 2.0 << 1.0
        << QList<double>{std::sqrt(29.0 / 3), 0, std::sqrt(29.0 / 3), 4, 0, 3, 3};
    QTest::newRow("arcseconds") << Axes{{1, -1}, {0.5, -0.25}} << 1.0 << 10.0 << 2.0
                                << QList<double>{2, std::sqrt(0.625), std::sqrt(4.625), 2, 1, 2, 2};
    QTest::newRow("empty") << Axes{} << 0.0 << 10.0 << 1.0
                           << QList<double>{none, none, none, none, none, 0, 0};
}

void GuideStatsTest::overTheWindow()
{
    QFETCH(Axes, axes);
    QFETCH(double, now);
    QFETCH(double, window);
    QFETCH(double, scale);
    QFETCH(QList<double>, expected);
    const GuideStats s = guideStats(records(axes), now, window, scale);
    const QList<double> got{s.raRms,
                            s.decRms,
                            s.totalRms,
                            s.raPeak,
                            s.decPeak,
                            double(s.raSamples),
                            double(s.decSamples)};
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(
            same(got[i], expected[i]),
            qPrintable(
                QStringLiteral("figure %1: %2, expected %3").arg(i).arg(got[i]).arg(expected[i])));
}

QTEST_APPLESS_MAIN(GuideStatsTest)
#include "guide_stats.moc"
