// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/guidestore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace voruna;

using Source = PixelScaleSettings::Source;

namespace {

Calibration calibrationOf(double westX, double westY, double northX, double northY)
{
    Calibration c;
    c.west = QPointF(westX, westY);
    c.north = QPointF(northX, northY);
    c.eastRate = 7.1;
    c.southRate = 6.9;
    c.plateScale = 2.0;
    return c;
}

bool sameCalibration(const Calibration &a, const Calibration &b)
{
    return a.west == b.west && a.north == b.north && a.eastRate == b.eastRate
           && a.southRate == b.southRate && a.plateScale == b.plateScale;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

const QByteArray goodCamera = "[camera sky]\nsource=entered\nfocal_length_mm=400\n"
                              "arcsec_per_pixel=1.5\n";
const QByteArray goodCalibration = "[calibration sky port 3]\nwest_x=7.5\nwest_y=0.5\n"
                                   "north_x=-0.5\nnorth_y=-7.4\n";

} // namespace

class GuideStoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pixelScale_data();
    void pixelScale();
    void roundTrip_data();
    void roundTrip();
    void tornFile_data();
    void tornFile();
    void otherBinning_data();
    void otherBinning();
};

void GuideStoreTest::pixelScale_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<double>("focal");
    QTest::addColumn<double>("entered");
    QTest::addColumn<double>("micronsPerPixel");
    QTest::addColumn<double>("known");
    QTest::addColumn<double>("expected");
    const double fromFocal = 206.265 * 5.2 / 400.0;
    QTest::newRow("camera's own") << int(Source::Camera) << 400.0 << 1.5 << 5.2 << 2.0 << 2.0;
    QTest::newRow("camera knows none: focal length")
        << int(Source::Camera) << 400.0 << 1.5 << 5.2 << 0.0 << fromFocal;
    QTest::newRow("focal length over the camera's own")
        << int(Source::FocalLength) << 400.0 << 0.0 << 5.2 << 2.0 << fromFocal;
    QTest::newRow("no pixel size: the entered one")
        << int(Source::FocalLength) << 400.0 << 1.5 << 0.0 << 0.0 << 1.5;
    QTest::newRow("entered over the others")
        << int(Source::Entered) << 400.0 << 1.5 << 5.2 << 2.0 << 1.5;
    QTest::newRow("nothing entered: the camera's own")
        << int(Source::Entered) << 0.0 << 0.0 << 5.2 << 2.0 << 2.0;
    QTest::newRow("nothing at all") << int(Source::FocalLength) << 0.0 << 0.0 << 5.2 << 0.0 << 0.0;
    QTest::newRow("a typing mistake is no scale")
        << int(Source::Entered) << 0.0 << 5000.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("a pixel size that is not a number")
        << int(Source::FocalLength) << 400.0 << 0.0 << kNoValue << 0.0 << 0.0;
}

void GuideStoreTest::pixelScale()
{
    QFETCH(int, source);
    QFETCH(double, focal);
    QFETCH(double, entered);
    QFETCH(double, micronsPerPixel);
    QFETCH(double, known);
    QFETCH(double, expected);
    const PixelScaleSettings settings{Source(source), focal, entered};
    QCOMPARE(chosenPixelScale(settings, micronsPerPixel, known), expected);
}

void GuideStoreTest::roundTrip_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<int>("source");
    QTest::addColumn<double>("focal");
    QTest::addColumn<double>("entered");
    QTest::newRow("sky") << QStringLiteral("sky") << int(Source::Camera) << 0.0 << 0.0;
    QTest::newRow("INDI camera") << QStringLiteral("indi:localhost:7624/CCD Simulator")
                                 << int(Source::FocalLength) << 480.0 << 0.0;
    QTest::newRow("what ends a section or a line")
        << QStringLiteral("v4l2:/dev/video0 [usb]=%1\nx]") << int(Source::Entered) << 0.0 << 1.93;
    QTest::newRow("no key") << QString() << int(Source::Entered) << 250.0 << 3.25;
}

void GuideStoreTest::roundTrip()
{
    QFETCH(QString, camera);
    QFETCH(int, source);
    QFETCH(double, focal);
    QFETCH(double, entered);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("voruna/guiding.conf"));
    GuideStore store(path);
    const PixelScaleSettings settings{Source(source), focal, entered};
    const Calibration port3 = calibrationOf(7.52, 0.31, -0.29, -7.48);
    const Calibration port5 = calibrationOf(-3.1, 4.2, 4.2, 3.1);
    const Calibration other = calibrationOf(1, 0, 0, -1);
    QCOMPARE(store.savePixelScale(camera, settings), StoreResult::Saved);
    QCOMPARE(store.saveCalibration(camera, 3, port3), StoreResult::Saved);
    QCOMPARE(store.saveCalibration(camera, 5, port5), StoreResult::Saved);
    QCOMPARE(store.saveCalibration(camera + QLatin1Char('2'), 3, other), StoreResult::Saved);
    // Saved again: replaced, not added.
    QCOMPARE(store.saveCalibration(camera, 3, port3), StoreResult::Saved);

    const GuideStore again(path);
    QCOMPARE(again.pixelScale(camera), settings);
    QCOMPARE(again.pixelScale(camera + QLatin1Char('2')), PixelScaleSettings{});
    QVERIFY(sameCalibration(again.calibration(camera, 3).value(), port3));
    QVERIFY(sameCalibration(again.calibration(camera, 5).value(), port5));
    QVERIFY(sameCalibration(again.calibration(camera + QLatin1Char('2'), 3).value(), other));
    QVERIFY(!again.calibration(camera, 4));
    QCOMPARE(readAll(path).count("west_x="), 3);
}

void GuideStoreTest::tornFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("calibrated");
    QTest::addColumn<int>("source"); // what the sky camera's settings read as
    QTest::newRow("well formed") << goodCamera + goodCalibration << true << int(Source::Entered);
    QTest::newRow("empty") << QByteArray() << false << int(Source::Camera);
    QTest::newRow("cut inside the calibration")
        << goodCamera + goodCalibration.left(goodCalibration.indexOf("north_x")) << false
        << int(Source::Entered);
    QTest::newRow("cut inside a line")
        << goodCamera + goodCalibration.left(goodCalibration.size() - 3) << true
        << int(Source::Entered);
    QTest::newRow("CR LF lines, spaces and comments") << QByteArray(goodCamera + goodCalibration)
                                                             .replace("\n", " \r\n")
                                                             .replace("=", " = ")
                                                             .prepend("; written by hand\r\n")
                                                      << true << int(Source::Entered);
    QTest::newRow("a number that is not one")
        << goodCamera + QByteArray(goodCalibration).replace("7.4", "seven") << false
        << int(Source::Entered);
    QTest::newRow("axes that are one")
        << goodCamera + QByteArray(goodCalibration).replace("-7.4", "1").replace("-0.5", "15")
        << false << int(Source::Entered);
    QTest::newRow("an unknown source")
        << QByteArray(goodCamera).replace("entered", "telescope") + goodCalibration << true
        << int(Source::Camera);
    QTest::newRow("binary junk between the sections")
        << goodCamera + QByteArray("\0\xff\xfe[[ ]=\n=\n", 11) + goodCalibration << true
        << int(Source::Entered);
}

void GuideStoreTest::tornFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, calibrated);
    QFETCH(int, source);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("guiding.conf"));
    write(path, content);
    GuideStore store(path);
    QCOMPARE(store.calibration(QStringLiteral("sky"), 3).has_value(), calibrated);
    QCOMPARE(int(store.pixelScale(QStringLiteral("sky")).source), source);

    // Saving another camera's settings keeps every line there was, and what they meant.
    const PixelScaleSettings other{Source::FocalLength, 530.0, 0.0};
    QCOMPARE(store.savePixelScale(QStringLiteral("v4l2"), other), StoreResult::Saved);
    const QString saved = QString::fromUtf8(readAll(path));
    for (const QString &line : QString::fromUtf8(content).split(QLatin1Char('\n')))
        QVERIFY2(saved.contains(line.trimmed()), qPrintable(line));
    QCOMPARE(store.calibration(QStringLiteral("sky"), 3).has_value(), calibrated);
    QCOMPARE(int(store.pixelScale(QStringLiteral("sky")).source), source);
    QCOMPARE(store.pixelScale(QStringLiteral("v4l2")), other);
}

void GuideStoreTest::otherBinning_data()
{
    QTest::addColumn<QSize>("found");
    QTest::addColumn<QSize>("now");
    QTest::addColumn<QPointF>("factor"); // on the rates along x and y
    QTest::newRow("same") << QSize(2, 2) << QSize(2, 2) << QPointF(1, 1);
    QTest::newRow("binned 2x2 since") << QSize(1, 1) << QSize(2, 2) << QPointF(0.5, 0.5);
    QTest::newRow("unbinned since") << QSize(4, 4) << QSize(1, 1) << QPointF(4, 4);
    QTest::newRow("binned along x only") << QSize(1, 1) << QSize(2, 1) << QPointF(0.5, 1);
    QTest::newRow("a camera's nonsense reads as 1") << QSize(1, 1) << QSize(0, -3) << QPointF(1, 1);
}

void GuideStoreTest::otherBinning()
{
    QFETCH(QSize, found);
    QFETCH(QSize, now);
    QFETCH(QPointF, factor);
    QTemporaryDir dir;
    GuideStore store(dir.filePath(QStringLiteral("guiding.conf")));
    Calibration c = calibrationOf(6.0, 8.0, 8.0, -6.0); // 10 px/s on each axis
    c.eastRate = 5.0;
    c.southRate = 20.0;
    QCOMPARE(store.saveCalibration(QStringLiteral("sky"), 1, c, found), StoreResult::Saved);
    const Calibration got = store.calibration(QStringLiteral("sky"), 1, now).value();
    QCOMPARE(got.west, QPointF(6.0 * factor.x(), 8.0 * factor.y()));
    QCOMPARE(got.north, QPointF(8.0 * factor.x(), -6.0 * factor.y()));
    // East and south keep their ratios to west and north; the pixels' scale follows their size.
    QCOMPARE(got.eastRate / got.raRate(), 0.5);
    QCOMPARE(got.southRate / got.decRate(), 2.0);
    QCOMPARE(got.plateScale, 2.0 / std::sqrt(factor.x() * factor.y()));
}

QTEST_APPLESS_MAIN(GuideStoreTest)
#include "guide_store.moc"
