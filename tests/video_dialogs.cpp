// SPDX-License-Identifier: GPL-3.0-or-later
// The camera's settings dialogs and the display stretch.
#include "video_support/formrig.h"

#include "video/displaydialog.h"
#include "video/capture/displaysettings.h"
#include "video/formatdialog.h"
#include "video/sourcedialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <cmath>

using namespace voruna;
using namespace voruna::test;

Q_DECLARE_METATYPE(voruna::DisplaySettings)

class VideoDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stretch_data();
    void stretch();
    void mirrorAndFlip();
    void stretchEveryPixel_data();
    void stretchEveryPixel();
    void drawnForTheView_data();
    void drawnForTheView();
    void sourceControlsApplyAsTheyChange();
    void exposureInSeconds_data();
    void exposureInSeconds();
    void formatListsWhatTheCameraLists();
    void displayRedrawsStoppedPicture();
    void pictureFollowsTheWindow_data();
    void pictureFollowsTheWindow();
};

namespace {

// Eight upright bars, 8 pixels wide, bar b of level 30 b + 10 in every channel.
QImage barFrame(QImage::Format format)
{
    QImage grey(64, 8, QImage::Format_Grayscale8);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 8; ++y)
            grey.scanLine(y)[x] = uchar(30 * (x / 8) + 10);
    return grey.convertToFormat(format);
}

} // namespace

void VideoDialogsTest::drawnForTheView_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QSize>("view");
    QTest::addColumn<bool>("scaled");
    QTest::addColumn<bool>("mirror");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<int>>("bars"); // the bar at x = 0, 4, 8, ... of the picture
    const auto rgb = QImage::Format_RGB888;
    const auto grey = QImage::Format_Grayscale16;
    QTest::newRow("halved") << rgb << QSize(32, 4) << true << false << QSize(32, 4)
                            << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("halved, mirrored") << grey << QSize(32, 4) << true << true << QSize(32, 4)
                                      << QList<int>{7, 6, 5, 4, 3, 2, 1, 0};
    QTest::newRow("doubled") << QImage::Format_RGB32 << QSize(128, 16) << true << false
                             << QSize(128, 16) << QList<int>{0, 0, 0, 0, 1, 1, 1, 1};
    QTest::newRow("cut to the window") << QImage::Format_RGBX64 << QSize(20, 50) << false << false
                                       << QSize(20, 8) << QList<int>{0, 0, 1, 1, 2};
    QTest::newRow("cut, mirrored") << rgb << QSize(20, 50) << false << true << QSize(20, 8)
                                   << QList<int>{7, 7, 6, 6, 5};
    QTest::newRow("window never shown") << grey << QSize() << true << false << QSize(64, 8)
                                        << QList<int>{0, 0, 1, 1, 2, 2, 3, 3};
}

// The picture is drawn at the size the window shows, each pixel from the nearest sample.
void VideoDialogsTest::drawnForTheView()
{
    QFETCH(QImage::Format, format);
    QFETCH(QSize, view);
    QFETCH(bool, scaled);
    QFETCH(bool, mirror);
    QFETCH(QSize, size);
    QFETCH(QList<int>, bars);
    const QImage frame = barFrame(format);
    DisplayView shown{{.mirror = mirror}, view, scaled};
    QImage out;
    renderView(frame, imageSampleBits(frame), shown, &out);
    QCOMPARE(out.size(), size);
    for (int i = 0; i < bars.size(); ++i) {
        const int level = 30 * bars[i] + 10;
        QCOMPARE(out.pixel(i * 4, size.height() - 1), qRgb(level, level, level));
    }
}

void VideoDialogsTest::stretch_data()
{
    QTest::addColumn<DisplaySettings>("settings");
    QTest::addColumn<int>("in");
    QTest::addColumn<int>("out");
    const DisplaySettings plain;
    DisplaySettings levels;
    levels.blackPoint = 20;
    levels.whitePoint = 120;
    DisplaySettings lifted;
    lifted.gamma = 2.0;
    DisplaySettings crossed; // white below black: kept one above it
    crossed.blackPoint = 100;
    crossed.whitePoint = 50;
    QTest::newRow("identity") << plain << 77 << 77;
    QTest::newRow("below black point") << levels << 10 << 0;
    QTest::newRow("mid range") << levels << 70 << 128;
    QTest::newRow("above white point") << levels << 200 << 255;
    QTest::newRow("gamma lifts faint") << lifted << 64 << 128;
    QTest::newRow("gamma keeps ends") << lifted << 255 << 255;
    QTest::newRow("crossed points") << crossed << 101 << 255;
}

void VideoDialogsTest::stretch()
{
    QFETCH(DisplaySettings, settings);
    QFETCH(int, in);
    QFETCH(int, out);
    QCOMPARE(int(stretchTable(settings)[in]), out);
}

void VideoDialogsTest::mirrorAndFlip()
{
    QImage rgb(3, 2, QImage::Format_RGB888);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            rgb.setPixel(x, y, qRgb(x * 100, y * 100, 7));
    DisplaySettings settings;
    settings.mirror = true;
    settings.flip = true;
    QImage out;
    renderForDisplay(rgb, settings, &out);
    QCOMPARE(out.format(), QImage::Format_RGB32);
    QCOMPARE(out.pixel(0, 0), qRgb(200, 100, 7));
    QCOMPARE(out.pixel(2, 1), qRgb(0, 0, 7));
    settings.mirror = false;
    renderForDisplay(rgb, settings, &out);
    QCOMPARE(out.pixel(0, 0), qRgb(0, 100, 7));
}

void VideoDialogsTest::stretchEveryPixel_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<int>("width");
    QTest::newRow("RGB32, whole blocks of 64 bytes") << QImage::Format_RGB32 << 64;
    QTest::newRow("RGB32, a part block at the row end") << QImage::Format_RGB32 << 37;
    QTest::newRow("RGB888") << QImage::Format_RGB888 << 37;
}

// Every channel of every pixel goes through the stretch table, with the picture kept opaque.
void VideoDialogsTest::stretchEveryPixel()
{
    QFETCH(QImage::Format, format);
    QFETCH(int, width);
    QImage picture(width, 7, format);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y,
                             qRgb((x * 7 + y) & 255, (x * 13 + 90) & 255, (255 - x * 3) & 255));
    DisplaySettings settings;
    settings.blackPoint = 16;
    settings.whitePoint = 180;
    settings.gamma = 1.8;
    settings.mirror = true;
    const auto table = stretchTable(settings);
    QImage out;
    renderForDisplay(picture, settings, &out);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb in = picture.pixel(width - 1 - x, y);
            const QRgb want = qRgb(table[qRed(in)], table[qGreen(in)], table[qBlue(in)]);
            if (out.pixel(x, y) != want)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, not %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(out.pixel(x, y), 8, 16)
                                     .arg(want, 8, 16)));
        }
    }
}

void VideoDialogsTest::exposureInSeconds_data()
{
    // The webcam's exposure time runs from 3 to 2047 units of 100 us, and is inactive unless the
    // exposure is manual.
    QTest::addColumn<bool>("manual");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<qint32>("units");
    QTest::newRow("100 ms") << true << 0.1 << true << 1000;
    QTest::newRow("rounded to its units") << true << 0.01234 << true << 123;
    QTest::newRow("shortest") << true << 0.0003 << true << 3;
    QTest::newRow("longest") << true << 0.2047 << true << 2047;
    QTest::newRow("too short") << true << 0.0002 << false << 156;
    QTest::newRow("too long") << true << 0.5 << false << 156;
    QTest::newRow("not a number") << true << std::nan("") << false << 156;
    QTest::newRow("endless") << true << HUGE_VAL << false << 156;
    QTest::newRow("inactive while automatic") << false << 0.1 << false << 156;
}

void VideoDialogsTest::exposureInSeconds()
{
    QFETCH(bool, manual);
    QFETCH(double, seconds);
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    rig.open();
    CaptureDevice *camera = rig.sub()->device();
    if (manual)
        QVERIFY(camera->setControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL));
    QTEST(camera->setExposureSeconds(seconds), "taken");
    QTEST(rig.fake->controlValues(0).value(V4L2_CID_EXPOSURE_ABSOLUTE), "units");
}

void VideoDialogsTest::sourceControlsApplyAsTheyChange()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    rig.open();
    SourceDialog dialog(*rig.sub()->device());
    auto *form = dialog.findChild<QFormLayout *>();
    QStringList order;
    for (int row = 0; row < form->rowCount(); ++row)
        order
            << qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget())->text();
    QCOMPARE(order, (QStringList{"Auto Exposure", "Exposure Time, Absolute", "Gain", "Brightness",
                                 "Horizontal Flip"}));
    const auto editor = [&dialog](quint32 id) {
        return dialog.findChild<QWidget *>(QStringLiteral("control%1").arg(id));
    };
    // Exposure time is inactive while the camera exposes by itself.
    QVERIFY(!editor(V4L2_CID_EXPOSURE_ABSOLUTE)->isEnabled());
    auto *mode = qobject_cast<QComboBox *>(editor(V4L2_CID_EXPOSURE_AUTO));
    QCOMPARE(mode->count(), 2); // the camera's menu has gaps
    mode->setCurrentIndex(mode->findText(QStringLiteral("Manual Mode")));
    Q_EMIT mode->activated(mode->currentIndex());
    QVERIFY(editor(V4L2_CID_EXPOSURE_ABSOLUTE)->isEnabled());
    editor(V4L2_CID_GAIN)->findChild<QSpinBox *>()->setValue(77);
    editor(V4L2_CID_EXPOSURE_ABSOLUTE)->findChild<QSpinBox *>()->setValue(900);
    qobject_cast<QCheckBox *>(editor(V4L2_CID_HFLIP))->setChecked(true);
    QMap<quint32, qint32> values = rig.fake->controlValues(0);
    QCOMPARE(values[V4L2_CID_GAIN], 77);
    QCOMPARE(values[V4L2_CID_EXPOSURE_ABSOLUTE], 900);
    QCOMPARE(values[V4L2_CID_EXPOSURE_AUTO], qint32(V4L2_EXPOSURE_MANUAL));
    QCOMPARE(values[V4L2_CID_HFLIP], 1);
    dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::RestoreDefaults)->click();
    values = rig.fake->controlValues(0);
    QCOMPARE(values[V4L2_CID_GAIN], 32);
    QCOMPARE(values[V4L2_CID_EXPOSURE_AUTO], 3);
    QCOMPARE(values[V4L2_CID_HFLIP], 0);
    QCOMPARE(editor(V4L2_CID_GAIN)->findChild<QSpinBox *>()->value(), 32);
}

void VideoDialogsTest::formatListsWhatTheCameraLists()
{
    FormRig rig;
    FakeCameraConfig config = webcamConfig();
    config.formats.append({V4L2_PIX_FMT_H264, "H.264", {{1920, 1080}}, {{1, 30}}});
    rig.fake->addCamera(0, config);
    rig.open();
    FormatDialog dialog(*rig.sub()->device());
    auto *formats = dialog.findChild<QComboBox *>(QStringLiteral("pixelFormat"));
    auto *sizes = dialog.findChild<QComboBox *>(QStringLiteral("frameSize"));
    auto *rates = dialog.findChild<QComboBox *>(QStringLiteral("frameRate"));
    QCOMPARE(formats->count(), 2); // H.264 cannot be shown
    QCOMPARE(formats->currentText(), QStringLiteral("YUYV 4:2:2"));
    QCOMPARE(sizes->currentText(), QStringLiteral("320 x 240"));
    QCOMPARE(rates->currentText(), QStringLiteral("30 fps"));
    formats->setCurrentIndex(1);
    QCOMPARE(sizes->count(), 3);
    QCOMPARE(sizes->currentText(), QStringLiteral("320 x 240")); // kept where the camera has it
    sizes->setCurrentIndex(2);
    rates->setCurrentIndex(1);
    QCOMPARE(dialog.chosenFormat(), (StreamFormat{V4L2_PIX_FMT_MJPEG, {1280, 720}, {1, 15}}));
}

void VideoDialogsTest::displayRedrawsStoppedPicture()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    rig.fake->produceFrame(0);
    QTRY_VERIFY(!rig.picture()->frame().isNull());
    form.mnuPreview->trigger(); // stopped: the dialog still redraws the last frame
    const QRgb topLeft = rig.picture()->frame().pixel(0, 0);
    onModal([](QWidget *dialog) {
        dialog->findChild<QCheckBox *>(QStringLiteral("mirror"))->setChecked(true);
        dialog->findChild<QSpinBox *>(QStringLiteral("whitePoint"))->setValue(100);
        qobject_cast<QDialog *>(dialog)->accept();
    });
    form.mnuDisplay->trigger();
    const QImage shown = rig.picture()->frame();
    QVERIFY(shown.pixel(0, 0) != topLeft); // black bar now on the left
    QCOMPARE(QColor(shown.pixel(shown.width() - 5, 5)),
             QColor(Qt::white)); // white bar on the right
    QVERIFY(rig.sub()->displaySettings().mirror);
    QCOMPARE(rig.fake->config(0)->size, QSize(320, 240)); // the camera's picture is untouched
}

void VideoDialogsTest::pictureFollowsTheWindow_data()
{
    QTest::addColumn<bool>("draws");
    QTest::addColumn<QSize>("drawnFor"); // empty: the window's own size
    QTest::addColumn<bool>("mirrored");
    QTest::addColumn<QSize>("resizedTo"); // empty: not resized
    QTest::addColumn<bool>("asDrawn");
    QTest::newRow("drawn for the window") << true << QSize() << false << QSize() << true;
    QTest::newRow("drawn for the size before") << true << QSize(30, 20) << false << QSize() << false;
    QTest::newRow("drawn for other settings") << true << QSize() << true << QSize() << false;
    QTest::newRow("window resized since") << true << QSize() << false << QSize(300, 200) << false;
    QTest::newRow("left to the window") << false << QSize() << false << QSize() << false;
}

// The window blits the picture the camera drew for its view; one drawn for another view, or
// none, it draws itself at the window's size, as it draws the newest frame again at once when
// the window is resized.
void VideoDialogsTest::pictureFollowsTheWindow()
{
    QFETCH(bool, draws);
    QFETCH(QSize, drawnFor);
    QFETCH(bool, mirrored);
    QFETCH(QSize, resizedTo);
    QFETCH(bool, asDrawn);
    StubDriver stub{.name = QStringLiteral("Stub"), .size = {640, 480}, .draws = draws};
    FormRig rig({stub});
    rig.open();
    rig.sub()->setWindowSize(QSize(400, 300));
    CaptureDevice *device = rig.sub()->device();
    QVERIFY(device);
    DisplaySettings settings = rig.sub()->displaySettings();
    settings.mirror = mirrored;
    const QSize size = rig.picture()->size();
    device->setDisplayView({settings, drawnFor.isEmpty() ? size : drawnFor, true});
    Q_EMIT device->frameArrived();
    QTRY_VERIFY(!rig.picture()->frame().isNull());
    if (resizedTo.isValid())
        rig.sub()->setWindowSize(resizedTo);
    const QImage shown = rig.picture()->frame();
    QCOMPARE(shown.size(), rig.picture()->size());
    // The stub camera draws its pictures red; its frames are grey.
    QCOMPARE(shown.pixel(2, 2) == qRgb(255, 0, 0), asDrawn);
}

QTEST_MAIN(VideoDialogsTest)
#include "video_dialogs.moc"
