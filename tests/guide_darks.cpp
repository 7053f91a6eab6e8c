// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/darkframe.h"
#include "guide/starfinder.h"

#include <QLineF>
#include <QTest>

#include <cmath>
#include <random>

using namespace voruna;

namespace {

constexpr int W = 160, H = 120;
const QPointF star(96.3, 70.6);
const QList<QPoint> singles{{40, 30}, {120, 90}, {70, 100}};
const QPoint cluster(50, 80); // 2 x 2 from here, lit like a small star

// A sensor as a frame of `bits` shows it: bias, a glow from the top-left corner and a fixed
// pattern, hot pixels, read noise; the sky and a star when uncovered. 16-bit levels are 8-bit
// ones times 256.
struct Sensor {
    int bits = 8;
    std::vector<quint16> pixels = std::vector<quint16>(size_t(W) * H);
    std::mt19937 random{7};

    FrameView expose(bool covered)
    {
        std::normal_distribution<double> noise(0.0, 1.5);
        const double scale = bits == 16 ? 256.0 : 1.0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                double v = 20.0 + 30.0 * std::exp(-std::hypot(x, y) / 25.0)
                           + 2.0 * ((x * 7 + y * 13) % 5) + noise(random);
                if (!covered) {
                    const double r2 = std::pow(x - star.x(), 2) + std::pow(y - star.y(), 2);
                    v += 10.0 + 60.0 * std::exp(-r2 / (2 * 1.5 * 1.5));
                }
                if (singles.contains(QPoint(x, y)))
                    v += 200.0;
                if (x >= cluster.x() && x <= cluster.x() + 1 && y >= cluster.y()
                    && y <= cluster.y() + 1)
                    v += 150.0;
                pixels[size_t(y) * W + size_t(x)] = quint16(std::clamp(v * scale, 0.0, 255.0 * scale));
            }
        if (bits == 8)
            for (size_t i = 0; i < pixels.size(); ++i)
                reinterpret_cast<uchar *>(pixels.data())[i] = uchar(pixels[i]);
        return {.width = W, .height = H, .stride = W * bits / 8, .bits = bits,
                .pixels = pixels.data(), .time = {}};
    }
};

} // namespace

class GuideDarksTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleaning_data();
    void cleaning();
    void mapsWholeClusters_data();
    void mapsWholeClusters();
    void taking_data();
    void taking();
};

void GuideDarksTest::cleaning_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("subtract");
    QTest::newRow("8-bit, dark and hot pixels") << 8 << true;
    QTest::newRow("8-bit, hot pixels only") << 8 << false;
    QTest::newRow("16-bit, dark and hot pixels") << 16 << true;
    QTest::newRow("16-bit, hot pixels only") << 16 << false;
}

void GuideDarksTest::cleaning()
{
    QFETCH(int, bits);
    QFETCH(bool, subtract);
    Sensor sensor{bits};
    DarkStacker stacker(1.0);
    for (int i = 0; i < 8; ++i)
        QVERIFY(stacker.add(sensor.expose(true)));
    const DarkFrame dark = stacker.result();
    QVERIFY(dark.isValid());

    // Every hot pixel is mapped, cluster included; the glow and the pattern are not.
    const HotPixelMap map = HotPixelMap::fromDark(dark);
    QList<QPoint> hot = singles;
    for (int k = 0; k < 4; ++k)
        hot << cluster + QPoint(k % 2, k / 2);
    for (QPoint p : hot)
        QVERIFY2(map.contains(p), qPrintable(QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y())));
    QCOMPARE(map.pixels().size(), size_t(hot.size()));

    // Without cleaning the finder takes the cluster for the best star: the fault mended here.
    const FrameView raw = sensor.expose(false);
    const StarSettings settings;
    const auto fooled = findGuideStar(raw, settings);
    QVERIFY(fooled && QLineF(fooled->centre, QPointF(cluster) + QPointF(0.5, 0.5)).length() < 1.0);

    DarkCorrection correction;
    correction.setHotPixels(map);
    if (subtract)
        correction.setDark(dark);
    QVERIFY(correction.appliesTo(raw));
    const FrameView clean = correction.apply(raw);
    QVERIFY(clean.pixels != raw.pixels);
    const std::vector<StarMeasurement> stars = findGuideStars(clean, settings);
    QCOMPARE(stars.size(), size_t(1));
    QVERIFY(QLineF(stars.front().centre, star).length() < 0.3);
    const double unit = bits == 16 ? 256.0 : 1.0;
    for (QPoint p : hot)
        QVERIFY(clean.at(p.x(), p.y()) < raw.at(p.x(), p.y()) - 100 * unit);
    // The dark takes the glow off: the corner is as dark as the middle, give or take the noise.
    if (subtract)
        QVERIFY(std::abs(clean.at(2, 2) - clean.at(80, 10)) < 8 * unit);
    // A frame of another size goes through as it is.
    const FrameView other{.width = W / 2, .height = H, .stride = raw.stride, .bits = bits,
                          .pixels = raw.pixels, .time = {}};
    QCOMPARE(correction.apply(other).pixels, raw.pixels);
}

// A bloomed hot spot, and clusters at the edge, whose pixels have few cool neighbours.
void GuideDarksTest::mapsWholeClusters_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("side");
    QTest::newRow("3 x 3 in the middle") << QPoint(30, 30) << 3;
    QTest::newRow("2 x 2 in the corner") << QPoint(0, 0) << 2;
    QTest::newRow("2 x 2 at the left edge") << QPoint(0, 30) << 2;
}

void GuideDarksTest::mapsWholeClusters()
{
    QFETCH(QPoint, at);
    QFETCH(int, side);
    const QSize size(64, 64);
    DarkFrame dark{size, 8, 1.0, 4, std::vector<float>(size_t(size.width() * size.height()))};
    for (size_t i = 0; i < dark.mean.size(); ++i)
        dark.mean[i] = 20.0f + float((i * 7) % 3);
    for (int dy = 0; dy < side; ++dy)
        for (int dx = 0; dx < side; ++dx)
            dark.mean[size_t((at.y() + dy) * size.width() + at.x() + dx)] = 250.0f;
    const HotPixelMap map = HotPixelMap::fromDark(dark);
    QCOMPARE(map.pixels().size(), size_t(side * side));
    for (QPoint p : map.pixels())
        QVERIFY(p.x() >= at.x() && p.y() >= at.y() && p.x() < at.x() + side && p.y() < at.y() + side);
}

void GuideDarksTest::taking_data()
{
    // Frames as (exposure, level, width); the steps the taker gives them; the darks' means.
    QTest::addColumn<QList<QList<double>>>("frames");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QList<double>>("means");
    QTest::newRow("two exposures, the first frame of each passed over")
        << QList<QList<double>>{{0.5, 99, 8}, {0.5, 10, 8}, {0.5, 20, 8}, {1.0, 99, 8},
                                {1.0, 30, 8}, {1.0, 50, 8}, {1.0, 7, 8}}
        << "PAEPAEP" << QList<double>{15, 40};
    QTest::newRow("frames of another exposure never count")
        << QList<QList<double>>{{0.2, 5, 8}, {0.5, 99, 8}, {0.2, 5, 8}, {0.5, 10, 8},
                                {0.51, 20, 8}}
        << "PPPAP" << QList<double>{};
    QTest::newRow("the frame size changes under the darks")
        << QList<QList<double>>{{0.5, 99, 8}, {0.5, 10, 8}, {0.5, 20, 6}}
        << "PAR" << QList<double>{};
}

void GuideDarksTest::taking()
{
    QFETCH(QList<QList<double>>, frames);
    QFETCH(QString, steps);
    QFETCH(QList<double>, means);
    DarkTaker taker({0.5, 1.0}, 2);
    QCOMPARE(taker.framesTotal(), 4);
    QString got;
    QList<double> darks;
    for (const QList<double> &f : frames) {
        const std::vector<uchar> pixels(size_t(f[2]) * 4, uchar(f[1]));
        const FrameView view{.width = int(f[2]), .height = 4, .stride = qsizetype(f[2]),
                             .bits = 8, .pixels = pixels.data(), .time = {}};
        switch (taker.add(view, f[0])) {
        case DarkTaker::Step::Passed: got += 'P'; break;
        case DarkTaker::Step::Added: got += 'A'; break;
        case DarkTaker::Step::Refused: got += 'R'; break;
        case DarkTaker::Step::ExposureDone: {
            got += 'E';
            const DarkFrame dark = taker.takeDark();
            QCOMPARE(dark.frames, 2);
            darks << double(dark.mean.front());
            QCOMPARE(double(dark.mean.back()), darks.back());
            QVERIFY(sameExposure(dark.exposureSeconds, darks.size() == 1 ? 0.5 : 1.0));
            break;
        }
        }
    }
    QCOMPARE(got, steps);
    QCOMPARE(darks, means);
    QCOMPARE(taker.isDone(), means.size() == 2);
    QCOMPARE(taker.framesDone(), means.size() == 2 ? 4 : int(steps.count('A')));
}

QTEST_APPLESS_MAIN(GuideDarksTest)
#include "guide_darks.moc"
