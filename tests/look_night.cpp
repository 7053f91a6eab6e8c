// SPDX-License-Identifier: GPL-3.0-or-later
// The night look's colours: the camera picture drawn in red at every depth and turn, lamps that
// keep their states apart by brightness, and the remembered look read from its file.
#include "look/nightlook.h"
#include "settings/displayfile.h"
#include "video/capture/displaysettings.h"

#include <QtTest>

Q_DECLARE_METATYPE(voruna::DisplayView)

using namespace voruna;

namespace {

// A frame whose pixels differ in every channel, at `format`.
QImage colourFrame(QImage::Format format)
{
    QImage frame(37, 23, QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, qRgb(x * 7 % 256, y * 11 % 256, (x * y * 3 + 40) % 256));
    return frame.convertToFormat(format);
}

} // namespace

class LookNightTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pictureInRedOnly_data();
    void pictureInRedOnly();
    void lampStatesApartByBrightness_data();
    void lampStatesApartByBrightness();
    void rememberedLook_data();
    void rememberedLook();
};

void LookNightTest::pictureInRedOnly_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<DisplayView>("view");
    const DisplaySettings stretch{.flip = true, .blackPoint = 10, .whitePoint = 200, .gamma = 1.5};
    // Plain RGB32 at its own size is the picture that is otherwise shared, not drawn.
    QTest::newRow("rgb32 plain") << QImage::Format_RGB32 << DisplayView{{}, {}, false, true};
    QTest::newRow("rgb32 stretched")
        << QImage::Format_RGB32 << DisplayView{stretch, {}, false, true};
    QTest::newRow("rgb888 mirrored, scaled")
        << QImage::Format_RGB888 << DisplayView{{.mirror = true}, {50, 30}, true, true};
    QTest::newRow("grey16 cut") << QImage::Format_Grayscale16
                                << DisplayView{{}, {20, 10}, false, true};
    QTest::newRow("rgbx64 scaled")
        << QImage::Format_RGBX64 << DisplayView{stretch, {18, 11}, true, true};
}

// Each pixel's brightness goes to red alone: the day's picture, weighed as luma.
void LookNightTest::pictureInRedOnly()
{
    QFETCH(QImage::Format, format);
    QFETCH(DisplayView, view);
    const QImage frame = colourFrame(format);
    QImage day, night;
    DisplayView dayView = view;
    dayView.red = false;
    renderView(frame, imageSampleBits(frame), dayView, &day);
    renderView(frame, imageSampleBits(frame), view, &night);
    QCOMPARE(night.size(), day.size());
    int brightest = 0;
    for (int y = 0; y < night.height(); ++y) {
        for (int x = 0; x < night.width(); ++x) {
            const QRgb d = day.pixel(x, y);
            const QRgb n = night.pixel(x, y);
            const int luma = (qRed(d) * 299 + qGreen(d) * 587 + qBlue(d) * 114) / 1000;
            QCOMPARE(qGreen(n) + qBlue(n), 0);
            QVERIFY2(
                qAbs(qRed(n) - luma) <= 2,
                qPrintable(
                    QStringLiteral("%1,%2: red %3, luma %4").arg(x).arg(y).arg(qRed(n)).arg(luma)));
            brightest = qMax(brightest, qRed(n));
        }
    }
    QVERIFY(brightest > 100);
}

void LookNightTest::lampStatesApartByBrightness_data()
{
    QTest::addColumn<QColor>("brighter");
    QTest::addColumn<QColor>("dimmer");
    QTest::newRow("link: found, failed") << QColor(Qt::green) << QColor(Qt::red);
    QTest::newRow("pad: moving, idle") << QColor(Qt::red) << QColor(128, 128, 128);
}

void LookNightTest::lampStatesApartByBrightness()
{
    QFETCH(QColor, brighter);
    QFETCH(QColor, dimmer);
    const QColor a = nightLampColor(brighter);
    const QColor b = nightLampColor(dimmer);
    QCOMPARE(a.green() + a.blue() + b.green() + b.blue(), 0);
    // Apart enough to tell at a glance, even at a dimmed screen.
    QVERIFY2(a.red() >= b.red() + 50,
             qPrintable(QStringLiteral("%1 against %2").arg(a.red()).arg(b.red())));
}

void LookNightTest::rememberedLook_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("night");
    QTest::newRow("night") << formatNightLook(true) << true;
    QTest::newRow("day") << formatNightLook(false) << false;
    QTest::newRow("torn in the word") << QByteArray("[display]\nnight=tr") << false;
    QTest::newRow("last line unended") << QByteArray("[display]\nnight=true") << true;
    QTest::newRow("spaces, CR LF") << QByteArray("[display]\r\n night = true \r\n") << true;
    QTest::newRow("other section") << QByteArray("[guiding]\nnight=true\n") << false;
    QTest::newRow("binary") << QByteArray("\0\xff[display\0night=true", 20) << false;
}

void LookNightTest::rememberedLook()
{
    QFETCH(QByteArray, content);
    QTEST(parseNightLook(content), "night");
}

QTEST_APPLESS_MAIN(LookNightTest)
#include "look_night.moc"
