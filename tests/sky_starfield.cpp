// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/starfinder.h"
#include "support/skypicture.h"
#include "tools/adaptorsim/mountmodel.h"
#include "tools/adaptorsim/simoptions.h"
#include "video/drivers/sky/skycamera.h"
#include "video/drivers/sky/starfield.h"
#include "video/guidestarview.h"

#include <numbers>

#include <QTest>

using namespace voruna;

class SkyStarFieldTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void guideStarFollowsTheSlew_data();
    void guideStarFollowsTheSlew();
    void samePictureForTheSameView();
    void exposureAndGain_data();
    void exposureAndGain();
    void greyHasEqualChannels();
    void driftAndItsCorrection_data();
    void driftAndItsCorrection();
    void pictureFollowsTheTruth_data();
    void pictureFollowsTheTruth();
    void longExposuresKeepTheSky();
    void socketLines_data();
    void socketLines();
    void darksOfOneExposureMisfitAnother_data();
    void darksOfOneExposureMisfitAnother();
    void exposureInSeconds_data();
    void exposureInSeconds();

private:
    StarField m_sky;
};

void SkyStarFieldTest::guideStarFollowsTheSlew_data()
{
    // A slew of `ra`, `dec` arcseconds at 2"/px moves the star by (dx, dy) pixels on screen:
    // west (+RA) right, north (+Dec) up.
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("ra");
    QTest::addColumn<double>("dec");
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::newRow("north 15\" up 7.5 px") << QSize(640, 480) << 0.0 << 15.0 << 0.0 << -7.5;
    QTest::newRow("south 15\" down 7.5 px") << QSize(640, 480) << 0.0 << -15.0 << 0.0 << 7.5;
    QTest::newRow("west 30\" right 15 px") << QSize(640, 480) << 30.0 << 0.0 << 15.0 << 0.0;
    QTest::newRow("east 30\" left 15 px") << QSize(640, 480) << -30.0 << 0.0 << -15.0 << 0.0;
    QTest::newRow("north-west") << QSize(640, 480) << 22.5 << 22.5 << 11.25 << -11.25;
    QTest::newRow("a third of a pixel") << QSize(640, 480) << 0.7 << -0.7 << 0.35 << 0.35;
    QTest::newRow("far, in a large picture")
        << QSize(1280, 720) << -1000.0 << 500.0 << -500.0 << -250.0;
    QTest::newRow("small picture") << QSize(320, 240) << 100.0 << -100.0 << 50.0 << 50.0;
}

void SkyStarFieldTest::guideStarFollowsTheSlew()
{
    QFETCH(QSize, size);
    QFETCH(double, ra);
    QFETCH(double, dec);
    QFETCH(double, dx);
    QFETCH(double, dy);
    SkyView view;
    view.size = size;
    QImage before;
    m_sky.render(view, &before);
    const std::optional<QPointF> start =
        starCentroid(before, QPointF(size.width() / 2, size.height() / 2));
    QVERIFY(start);
    QVERIFY2(std::abs(start->x() - size.width() / 2) < 0.5
                 && std::abs(start->y() - size.height() / 2) < 0.5,
             qPrintable(
                 QStringLiteral("at rest the star is at %1, %2").arg(start->x()).arg(start->y())));

    view.offset = QPointF(ra, dec);
    view.noiseSeed = 2;
    QImage after;
    m_sky.render(view, &after);
    const QPointF expected = *start + QPointF(dx, dy);
    const std::optional<QPointF> moved = starCentroid(after, expected);
    QVERIFY(moved);
    const QString where = QStringLiteral("expected %1, %2, found %3, %4")
                              .arg(expected.x())
                              .arg(expected.y())
                              .arg(moved->x())
                              .arg(moved->y());
    QVERIFY2(std::abs(moved->x() - expected.x()) < 0.5, qPrintable(where));
    QVERIFY2(std::abs(moved->y() - expected.y()) < 0.5, qPrintable(where));
    // The position the camera states agrees with the picture.
    const QPointF stated = StarField::guideStarPosition(view);
    QVERIFY2(std::abs(stated.x() - moved->x()) < 0.5 && std::abs(stated.y() - moved->y()) < 0.5,
             qPrintable(where));
}

void SkyStarFieldTest::samePictureForTheSameView()
{
    SkyView view;
    view.offset = QPointF(123.4, -56.7);
    QImage a;
    QImage b;
    m_sky.render(view, &a);
    m_sky.render(view, &b);
    QCOMPARE(a.format(), QImage::Format_RGB888);
    QCOMPARE(a.size(), QSize(640, 480));
    QCOMPARE(a, b);
    view.noiseSeed = 7;
    m_sky.render(view, &b);
    QVERIFY(a != b); // the noise changes from frame to frame
}

void SkyStarFieldTest::exposureAndGain_data()
{
    QTest::addColumn<int>("exposureMs");
    QTest::addColumn<int>("gain");
    QTest::addColumn<int>("longerExposureMs");
    QTest::addColumn<int>("higherGain");
    QTest::newRow("longer exposure") << 50 << 40 << 400 << 40;
    QTest::newRow("higher gain") << 100 << 20 << 100 << 60;
}

void SkyStarFieldTest::exposureAndGain()
{
    QFETCH(int, exposureMs);
    QFETCH(int, gain);
    QFETCH(int, longerExposureMs);
    QFETCH(int, higherGain);
    SkyView view;
    view.exposureMs = exposureMs;
    view.gain = gain;
    QImage dim;
    m_sky.render(view, &dim);
    view.exposureMs = longerExposureMs;
    view.gain = higherGain;
    QImage bright;
    m_sky.render(view, &bright);
    const Levels a = pictureLevels(dim);
    const Levels b = pictureLevels(bright);
    QVERIFY2(b.mean > a.mean * 1.5, qPrintable(QStringLiteral("%1 -> %2").arg(a.mean).arg(b.mean)));
    QVERIFY2(b.spread > a.spread * 1.5,
             qPrintable(QStringLiteral("%1 -> %2").arg(a.spread).arg(b.spread)));
}

void SkyStarFieldTest::greyHasEqualChannels()
{
    SkyView view;
    view.grey = true;
    QImage picture;
    m_sky.render(view, &picture);
    for (int y = 0; y < picture.height(); y += 7) {
        const uchar *row = picture.constScanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            if (row[3 * x] != row[3 * x + 1] || row[3 * x + 1] != row[3 * x + 2])
                QFAIL(qPrintable(QStringLiteral("pixel %1, %2 is not grey").arg(x).arg(y)));
        }
    }
}

void SkyStarFieldTest::driftAndItsCorrection_data()
{
    // Readings of the mount 100 s apart; the star's move on screen in pixels at 2"/px.
    QTest::addColumn<double>("ra");
    QTest::addColumn<double>("dec");
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::newRow("left alone: down and to the left") << 0.0 << 0.0 << -5.0 << 15.0;
    QTest::newRow("north 30\" takes out the drift in Dec") << 0.0 << 30.0 << -5.0 << 0.0;
    QTest::newRow("and west 10\" the drift in RA") << 10.0 << 30.0 << 0.0 << 0.0;
    QTest::newRow("too far north: above where it was") << 0.0 << 60.0 << -5.0 << -15.0;
}

void SkyStarFieldTest::driftAndItsCorrection()
{
    QFETCH(double, ra);
    QFETCH(double, dec);
    QFETCH(double, dx);
    QFETCH(double, dy);
    // The simulator's mount as it drifts when no option says otherwise, guided west and north
    // between two readings.
    using namespace std::chrono_literals;
    MountSetup setup;
    setup.driftRa = kDefaultDriftRa;
    setup.driftDec = kDefaultDriftDec;
    const MountModel::Clock::time_point origin{};
    MountModel mount(setup, origin);
    const auto lasting = [](double arcsec) {
        return std::chrono::duration_cast<MountModel::Clock::duration>(
            std::chrono::duration<double>(arcsec / MountModel::defaultGuideRate));
    };
    const auto reading = [&](MountModel::Clock::time_point at) {
        const SkyOffset error = mount.trackingErrorAt(at);
        return MountReading{error.ra, error.dec, QString(), mount.secondsAt(at)};
    };
    const MountReading first = reading(origin + 20s); // read in time order, as the feed does
    mount.start('w', origin + 30s);
    mount.stop('w', origin + 30s + lasting(ra));
    mount.start('n', origin + 40s);
    mount.stop('n', origin + 40s + lasting(dec));
    SkyView view;
    const QPointF start = StarField::guideStarPosition(view);
    view.offset = skyOffset(first, reading(origin + 120s));
    const QPointF moved = StarField::guideStarPosition(view) - start;
    // To the nanosecond of the slews' timing.
    QVERIFY2(std::abs(moved.x() - dx) < 1e-6 && std::abs(moved.y() - dy) < 1e-6,
             qPrintable(QStringLiteral("moved %1, %2").arg(moved.x()).arg(moved.y())));
}

void SkyStarFieldTest::pictureFollowsTheTruth_data()
{
    // The tracking error between two readings and the second one's seeing shift (arcseconds),
    // and the camera's angle: the guide star is found where they put it, to a tenth of a pixel.
    QTest::addColumn<double>("errorRa");
    QTest::addColumn<double>("errorDec");
    QTest::addColumn<double>("seeingRa");
    QTest::addColumn<double>("seeingDec");
    QTest::addColumn<double>("angle");
    QTest::newRow("at rest") << 0.0 << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("fractions of a pixel") << 0.7 << -0.3 << 0.0 << 0.0 << 0.0;
    QTest::newRow("error and seeing add up") << 10.3 << -4.1 << 0.4 << -0.9 << 0.0;
    QTest::newRow("seeing alone") << 0.0 << 0.0 << -0.6 << 0.35 << 0.0;
    QTest::newRow("turned a quarter: west goes up") << 10.0 << 0.0 << 0.0 << 0.0 << 90.0;
    QTest::newRow("turned a quarter: north goes left") << 0.0 << 10.0 << 0.0 << 0.0 << 90.0;
    QTest::newRow("a night's camera at 15 degrees") << 7.5 << 3.2 << 0.25 << -0.2 << 15.0;
    QTest::newRow("turned the other way") << -20.0 << 12.0 << 0.1 << 0.1 << -30.0;
}

void SkyStarFieldTest::pictureFollowsTheTruth()
{
    QFETCH(double, errorRa);
    QFETCH(double, errorDec);
    QFETCH(double, seeingRa);
    QFETCH(double, seeingDec);
    QFETCH(double, angle);
    const MountReading first{-3.0, 8.0, QString(), 5.0, 0.5, 0.5, angle};
    const MountReading now{-3.0 + errorRa, 8.0 + errorDec, QString(), 9.0,
                           seeingRa,       seeingDec,      angle};
    SkyView view;
    view.size = QSize(320, 240);
    view.grey = true;
    // A bright star that does not saturate, over little noise.
    view.exposureMs = 500;
    view.gain = 0;
    view.offset = skyOffset(first, now);
    view.angle = now.angle;
    QImage picture;
    m_sky.render(view, &picture);

    const double turn = angle * std::numbers::pi / 180.0;
    const double ra = errorRa + seeingRa;
    const double dec = errorDec + seeingDec;
    const QPointF expected(160 + (ra * std::cos(turn) - dec * std::sin(turn)) / view.plateScale,
                           120 - (ra * std::sin(turn) + dec * std::cos(turn)) / view.plateScale);
    // Light-weighted over 11 x 11 pixels round the expected place, over the mean of their rim.
    const int cx = int(std::lround(expected.x()));
    const int cy = int(std::lround(expected.y()));
    constexpr int r = 5;
    double rim = 0.0;
    int rimCount = 0;
    for (int y = cy - r; y <= cy + r; ++y) {
        for (int x = cx - r; x <= cx + r; ++x) {
            if (std::abs(x - cx) == r || std::abs(y - cy) == r) {
                rim += picture.pixelColor(x, y).green();
                ++rimCount;
            }
        }
    }
    rim /= rimCount;
    double sum = 0.0;
    QPointF weighted;
    for (int y = cy - r; y <= cy + r; ++y) {
        for (int x = cx - r; x <= cx + r; ++x) {
            const double v = picture.pixelColor(x, y).green() - rim;
            sum += v;
            weighted += v * QPointF(x, y);
        }
    }
    QVERIFY(sum > 1000.0);
    const QPointF found = weighted / sum;
    const QString where = QStringLiteral("expected %1, %2, found %3, %4")
                              .arg(expected.x())
                              .arg(expected.y())
                              .arg(found.x())
                              .arg(found.y());
    QVERIFY2(std::abs(found.x() - expected.x()) < 0.1, qPrintable(where));
    QVERIFY2(std::abs(found.y() - expected.y()) < 0.1, qPrintable(where));
    QCOMPARE(StarField::guideStarPosition(view), expected);
}

void SkyStarFieldTest::longExposuresKeepTheSky()
{
    // Past a second the sky stays at the level of one second, never white, and grows smoother.
    SkyView view;
    view.exposureMs = 1000;
    QImage picture;
    m_sky.render(view, &picture);
    const Levels second = pictureLevels(picture);
    view.exposureMs = SkyCamera::maxExposureMs;
    m_sky.render(view, &picture);
    const Levels longest = pictureLevels(picture);
    QVERIFY2(std::abs(longest.mean - second.mean) < 3.0 && longest.spread < second.spread,
             qPrintable(QStringLiteral("%1 +- %2 -> %3 +- %4")
                            .arg(second.mean)
                            .arg(second.spread)
                            .arg(longest.mean)
                            .arg(longest.spread)));
}

void SkyStarFieldTest::socketLines_data()
{
    // Lines a stranger on the sky socket may send; kept from fuzzing the reading parser.
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::newRow("huge") << QByteArray("1e308 -1e308 n 1") << false;
    QTest::newRow("at the bounds") << QByteArray("100000000 -100000000 nswe 100000000") << true;
    QTest::newRow("past the bound") << QByteArray("100000001 0 - 0") << false;
    QTest::newRow("infinite") << QByteArray("inf -inf - 0") << false;
    QTest::newRow("not a number") << QByteArray("0 nan - 0") << false;
    QTest::newRow("time runs backwards") << QByteArray("0 0 - -1") << false;
    QTest::newRow("endless time") << QByteArray("0 0 - 1e300") << false;
    QTest::newRow("tiny") << QByteArray("4.9e-324 -0 - 0") << true;
    QTest::newRow("page of digits") << QByteArray(40, '1') + " 0 - 0" << false;
    QTest::newRow("long direction") << QByteArray("0 0 nnnnnnnnnnnn 0") << false;
    QTest::newRow("empty fields") << QByteArray("0  - 0") << false;
    QTest::newRow("nul inside") << QByteArray("0\0 0 - 0", 9) << false;
    QTest::newRow("decimal comma") << QByteArray("1,5 0 - 0") << false;
}

void SkyStarFieldTest::socketLines()
{
    QFETCH(QByteArray, line);
    const std::optional<MountReading> now = parseMountReading(line);
    QTEST(now.has_value(), "valid");
    if (!now)
        return;
    // From one end of the range to the other: the picture is still made of real pixels.
    const std::optional<MountReading> first = parseMountReading("-100000000 100000000 - 0");
    QVERIFY(first);
    SkyView view;
    view.size = QSize(160, 120);
    view.offset = skyOffset(*first, *now);
    QImage picture;
    m_sky.render(view, &picture);
    QCOMPARE(picture.size(), view.size);
    const QPointF star = StarField::guideStarPosition(view);
    QVERIFY(std::isfinite(star.x()) && std::isfinite(star.y()));
}

namespace {

QImage coveredFrame(const StarField &sky, QSize size, int exposureMs, std::uint64_t seed)
{
    SkyView view;
    view.size = size;
    view.exposureMs = exposureMs;
    view.grey = true;
    view.covered = true;
    view.noiseSeed = seed;
    QImage picture;
    sky.render(view, &picture);
    return picture;
}

int grey(const QImage &picture, int x, int y)
{
    return picture.constScanLine(y)[3 * x];
}

// Mean level over the 6 x 6 pixels whose top left is `x`, `y`.
double blockMean(const QImage &picture, int x, int y)
{
    double sum = 0.0;
    for (int j = y; j < y + 6; ++j)
        for (int i = x; i < x + 6; ++i)
            sum += grey(picture, i, j);
    return sum / 36.0;
}

} // namespace

void SkyStarFieldTest::darksOfOneExposureMisfitAnother_data()
{
    // Exposures a user takes darks at, each with the next longer.
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("shorterMs");
    QTest::addColumn<int>("longerMs");
    // The longer frame has no pixel far above the bias but the hot ones (not yet the glow).
    QTest::addColumn<bool>("onlyHotLit");
    // The star finder takes a hot cluster in the shorter frame (not yet clipped).
    QTest::addColumn<bool>("clusterFound");
    QTest::newRow("100 ms, 200 ms") << QSize(640, 480) << 100 << 200 << false << true;
    QTest::newRow("200 ms, 500 ms") << QSize(320, 240) << 200 << 500 << false << true;
    QTest::newRow("500 ms, 1 s") << QSize(1280, 720) << 500 << 1000 << true << true;
    QTest::newRow("1 s, 2 s") << QSize(320, 240) << 1000 << 2000 << true << false;
    QTest::newRow("2 s, 5 s") << QSize(640, 480) << 2000 << 5000 << false << false;
    QTest::newRow("5 s, 10 s") << QSize(320, 240) << 5000 << 10000 << false << false;
}

void SkyStarFieldTest::darksOfOneExposureMisfitAnother()
{
    QFETCH(QSize, size);
    QFETCH(int, shorterMs);
    QFETCH(int, longerMs);
    QFETCH(bool, onlyHotLit);
    QFETCH(bool, clusterFound);
    const QImage shorter = coveredFrame(m_sky, size, shorterMs, 1);
    const QImage longer = coveredFrame(m_sky, size, longerMs, 2);
    const int w = size.width();
    const int h = size.height();
    // No star where the guide star would be.
    QVERIFY(blockMean(longer, w / 2 - 3, h / 2 - 3) < 12.0);
    const std::vector<SkySensor::HotPixel> hot = SkySensor::hotPixels(size);
    int lit = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            lit += grey(longer, x, y) > 60;
    if (onlyHotLit)
        QCOMPARE(lit, int(hot.size()));
    // They and the amplifier's glow in the top right corner grow with the exposure, enough that
    // the shorter dark leaves a visible residue in the longer frame.
    double hotGrowth = 0.0;
    for (const SkySensor::HotPixel &pixel : hot)
        hotGrowth +=
            grey(longer, pixel.at.x(), pixel.at.y()) - grey(shorter, pixel.at.x(), pixel.at.y());
    hotGrowth /= double(hot.size());
    const double glowGrowth = blockMean(longer, w - 6, 0) - blockMean(shorter, w - 6, 0);
    const QString growth = QStringLiteral("hot pixels %1, glow %2").arg(hotGrowth).arg(glowGrowth);
    QVERIFY2(hotGrowth > -1.0 && glowGrowth > -1.0, qPrintable(growth));
    QVERIFY2(std::max(hotGrowth, glowGrowth) > 10.0, qPrintable(growth));
    // With nothing subtracted the star finder may take a 2 x 2 cluster of hot pixels for a star,
    // but never a single hot pixel.
    QImage store;
    const auto stars = findGuideStars(luminanceView(shorter, &store), StarSettings{});
    QCOMPARE(!stars.empty(), clusterFound);
    for (const StarMeasurement &star : stars) {
        QVERIFY(std::any_of(hot.end() - 8, hot.end(), [&](const SkySensor::HotPixel &pixel) {
            return std::abs(star.centre.x() - pixel.at.x()) <= 1.0
                   && std::abs(star.centre.y() - pixel.at.y()) <= 1.0;
        }));
    }
}

void SkyStarFieldTest::exposureInSeconds_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("exposureMs");
    QTest::newRow("200 ms") << 0.2 << true << 200;
    QTest::newRow("rounded to a millisecond") << 0.0504 << true << 50;
    QTest::newRow("shortest") << 0.001 << true << 1;
    QTest::newRow("longest") << 10.0 << true << 10000;
    QTest::newRow("too short") << 0.0004 << false << 100;
    QTest::newRow("too long") << 10.5 << false << 100;
    QTest::newRow("negative") << -1.0 << false << 100;
    QTest::newRow("not a number") << std::nan("") << false << 100;
    QTest::newRow("endless") << HUGE_VAL << false << 100;
}

void SkyStarFieldTest::exposureInSeconds()
{
    QFETCH(double, seconds);
    QFETCH(bool, taken);
    QFETCH(int, exposureMs);
    SkyCamera camera(std::make_unique<MountFeed>(), 1);
    QCOMPARE(camera.setExposureSeconds(seconds), taken);
    QCOMPARE(camera.view().exposureMs, exposureMs);
    QCOMPARE(camera.cameraFacts().exposureSeconds, exposureMs / 1000.0);
}

QTEST_GUILESS_MAIN(SkyStarFieldTest)
#include "sky_starfield.moc"
