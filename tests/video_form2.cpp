// SPDX-License-Identifier: GPL-3.0-or-later
// The video feedback window: layout, the load steps, notifications, commands and the fit.
#include "video_support/formrig.h"

#include "video/crosshaircursor.h"
#include "video/fittovideo.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <linux/videodev2.h>

using namespace voruna;
using namespace voruna::test;

Q_DECLARE_METATYPE(voruna::test::StubDriver)

namespace {

QSize pictureArea(FormRig &rig)
{
    return rig.picture()->size();
}

FakeCameraConfig cameraWithoutControls()
{
    FakeCameraConfig config = webcamConfig("Bare Camera");
    config.controls.clear();
    return config;
}

} // namespace

class VideoForm2Test : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layout();
    void crossHair_data();
    void crossHair();
    void loadSteps_data();
    void loadSteps();
    void loadPreviewsFittedPicture();
    void lateSizeFittedWithFirstPicture_data();
    void lateSizeFittedWithFirstPicture();
    void fitFormula();
    void fitInWindowsStyle();
    void dragStaysInArea();
    void scaleBothWays();
    void previewBothWays();
    void alwaysVisibleBothWays();
    void switchesWithoutDriver();
    void formatChangeRefits();
    void sourceAndDisplayKeepSize();
    void shortcuts();
    void savesPictureAndRecords();
    void navigationSignals();
    void closedByHookDuringLoss();
    void screenshot();
};

void VideoForm2Test::layout()
{
    FormRig rig;
    Form2 &form = rig.open();
    QCOMPARE(form.objectName(), QStringLiteral("Form2"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Voruna Video Feedback"));
    const QList<QAction *> bar = form.menuBar()->actions();
    QCOMPARE(bar.size(), 3);
    QCOMPARE(bar[0], form.mnuclose);
    QCOMPARE(bar[1], form.mnuControl->menuAction());
    QCOMPARE(bar[2], form.mnuguide);
    QStringList items;
    for (QAction *item : form.mnuControl->actions())
        items << (item->isSeparator()
                      ? QStringLiteral("-")
                      : item->text() + QLatin1Char('|') + item->shortcut().toString()
                            + (item->isChecked() ? QStringLiteral("|x") : QString()));
    QCOMPARE(items,
             (QStringList{"&Display|", "&Format|Ctrl+F", "S&ource|", "-", "&Select|Ctrl+S",
                          "Sc&ale|Ctrl+A|x", "&Preview|Ctrl+P|x", "-", "Al&ways Visible|Ctrl+W",
                          "-", "Pick guide sta&r|Ctrl+G", "Re&ticle|Ctrl+R|x",
                          "Reticle o&n star|Ctrl+T", "-", "G&uiding...|Ctrl+U",
                          "Stop gu&iding|Ctrl+I", "-", "Nig&ht mode|Ctrl+N", "-",
                          "Sa&ve picture...|Ctrl+Shift+S", "Re&cord frames...|Ctrl+Shift+R", "-",
                          "Take dar&ks...|Ctrl+Shift+D", "Dark-subtracted pictur&e|"}));
    // No two commands share a shortcut, nor two of the Control menu an access key.
    QStringList shortcuts, keys;
    for (const QAction *item : form.findChildren<QAction *>())
        if (!item->shortcut().isEmpty())
            shortcuts << item->shortcut().toString();
    for (const QAction *item : form.mnuControl->actions())
        if (item->text().contains(QLatin1Char('&')))
            keys << item->text().section(QLatin1Char('&'), 1).left(1).toLower();
    QCOMPARE(QSet<QString>(shortcuts.begin(), shortcuts.end()).size(), shortcuts.size());
    QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
    QCOMPARE(form.mnuclose->text(), QStringLiteral("&Close"));
    QCOMPARE(form.mnuguide->text(), QStringLiteral("&Guide"));
    // Client area below the menu bar: 277 x 196, the status bar its bottom 17 pixels.
    QCOMPARE(form.width(), 277);
    QCOMPARE(form.height() - form.menuBar()->height(), 196);
    QCOMPARE(form.StatusBar->geometry(), QRect(0, form.height() - 17, 277, 17));
    QCOMPARE(form.captureArea->geometry().bottom() + 1, form.StatusBar->y());
    form.resize(420, form.height());
    QTRY_COMPARE(form.StatusBar->geometry(), QRect(0, form.height() - 17, 420, 17));
    QCOMPARE(form.StatusBar->font().family(), QStringLiteral("Arial"));
    QCOMPARE(form.StatusBar->font().pointSizeF(), 8.25);
    QVERIFY(form.windowFlags().testFlag(Qt::Tool));
}

void VideoForm2Test::crossHair_data()
{
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<bool>("black");
    QTest::newRow("hot spot clear") << QPoint(15, 15) << false;
    QTest::newRow("centre 2x2 clear") << QPoint(16, 16) << false;
    QTest::newRow("slit between bars") << QPoint(20, 15) << false;
    QTest::newRow("upper bar left end") << QPoint(2, 12) << true;
    QTest::newRow("before left end") << QPoint(1, 12) << false;
    QTest::newRow("lower bar right end") << QPoint(29, 19) << true;
    QTest::newRow("past right end") << QPoint(30, 19) << false;
    QTest::newRow("below lower bar") << QPoint(20, 20) << false;
    QTest::newRow("vertical arm top") << QPoint(12, 2) << true;
    QTest::newRow("vertical arm bottom") << QPoint(19, 29) << true;
    QTest::newRow("crossing of bars") << QPoint(13, 13) << true;
    QTest::newRow("corner") << QPoint(0, 0) << false;
}

void VideoForm2Test::crossHair()
{
    QFETCH(QPoint, pixel);
    QFETCH(bool, black);
    const QImage image = crossHairImage();
    QCOMPARE(image.size(), QSize(32, 32));
    QCOMPARE(image.pixel(pixel), black ? qRgba(0, 0, 0, 255) : qRgba(0, 0, 0, 0));
    const QCursor cursor = crossHairCursor();
    QCOMPARE(cursor.hotSpot(), QPoint(15, 15));
    FormRig rig;
    QCOMPARE(rig.open().captureArea->cursor().hotSpot(), QPoint(15, 15));
}

void VideoForm2Test::loadSteps_data()
{
    QTest::addColumn<int>("camera");      // 0 none, 1 webcam, 2 without controls, 3 H.264 only
    QTest::addColumn<StubDriver>("stub"); // used when there is no camera and it has a name
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("enabled"); // Source, Format, Display as S/F/D or '-'
    QTest::addColumn<QSize>("size");
    QTest::newRow("no driver") << 0 << StubDriver{} << QString() << "SFD" << QSize(160, 120);
    QTest::newRow("webcam") << 1 << StubDriver{} << "Fake Camera"
                            << "SFD" << QSize();
    QTest::newRow("no source dialog") << 2 << StubDriver{} << "Bare Camera"
                                      << "-FD" << QSize();
    QTest::newRow("connect fails") << 3 << StubDriver{} << "H264 Camera"
                                   << "SFD" << QSize(160, 120);
    QTest::newRow("no format dialog")
        << 0 << StubDriver{"Stub", {200, 100}, true, false, true} << "Stub"
        << "S-D" << QSize();
    QTest::newRow("no display dialog")
        << 0 << StubDriver{"Stub", {200, 100}, true, true, false} << "Stub"
        << "SF-" << QSize();
}

void VideoForm2Test::loadSteps()
{
    QFETCH(int, camera);
    QFETCH(StubDriver, stub);
    QFETCH(QString, caption);
    QFETCH(QString, enabled);
    QFETCH(QSize, size);
    FormRig rig(stub.name.isEmpty() ? std::vector<StubDriver>{} : std::vector<StubDriver>{stub});
    if (camera == 1)
        rig.fake->addCamera(0, webcamConfig());
    if (camera == 2)
        rig.fake->addCamera(0, cameraWithoutControls());
    if (camera == 3) {
        FakeCameraConfig h264 = webcamConfig("H264 Camera");
        h264.formats = {{V4L2_PIX_FMT_H264, "H.264", {{640, 480}}, {{1, 30}}}};
        h264.fourcc = V4L2_PIX_FMT_H264;
        rig.fake->addCamera(0, h264);
    }
    Form2 &form = rig.open();
    QCOMPARE(rig.sub()->windowTitle(), caption);
    const QString state = QString(form.mnuSource->isEnabled() ? "S" : "-")
                          + (form.mnuFormat->isEnabled() ? "F" : "-")
                          + (form.mnuDisplay->isEnabled() ? "D" : "-");
    QCOMPARE(state, enabled);
    QCOMPARE(rig.sub()->pos(), QPoint(0, 0));
    if (size.isValid())
        QCOMPARE(rig.sub()->size(), size);
    QVERIFY(form.mnuScale->isChecked() && form.mnuPreview->isChecked());
    QVERIFY(!form.mnuAlwaysVisible->isChecked());
    QCOMPARE(rig.picture()->isScaled(), size.isEmpty()); // scaling sent only after a connect
    if (camera == 0 && stub.name.isEmpty())
        QVERIFY2(form.StatusBar->currentMessage().isEmpty(),
                 qPrintable(form.StatusBar->currentMessage()));
}

void VideoForm2Test::lateSizeFittedWithFirstPicture_data()
{
    QTest::addColumn<QSize>("told"); // at connecting, empty when the camera does not tell
    QTest::addColumn<QSize>("sent");
    QTest::newRow("size only with its first picture") << QSize() << QSize(300, 200);
    // A remote camera re-selected with a window of its sensor chosen before.
    QTest::newRow("tells another size than it sends") << QSize(640, 480) << QSize(300, 200);
}

// The window keeps the size of connecting until the first picture, then fits the picture.
void VideoForm2Test::lateSizeFittedWithFirstPicture()
{
    QFETCH(QSize, told);
    QFETCH(QSize, sent);
    StubDriver remote{QStringLiteral("Remote"), told.isValid() ? told : sent};
    remote.sizeLate = told.isEmpty();
    remote.sent = sent;
    FormRig rig({remote});
    rig.open();
    QCOMPARE(rig.sub()->size(),
             told.isValid() ? fittedSize(told, rig.sub()->frameMetrics()) : QSize(160, 120));
    QTRY_COMPARE(rig.sub()->size(), fittedSize(sent, rig.sub()->frameMetrics()));
}

void VideoForm2Test::loadPreviewsFittedPicture()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    QCOMPARE(rig.status(), QStringLiteral("320 x 240 YUYV at 30 fps"));
    QCOMPARE(rig.sub()->size(), fittedSize({320, 240}, rig.sub()->frameMetrics()));
    QTRY_COMPARE(pictureArea(rig), QSize(320, 240));
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_VERIFY(!rig.picture()->frame().isNull());
    QVERIFY(form.isVisible());
}

void VideoForm2Test::fitFormula()
{
    QCOMPARE(fittedSize({320, 240}, {18, 4, 4}), QSize(328, 266));
    QCOMPARE(fittedSize({160, 120}, {18, 4, 4}), QSize(168, 146));
}

void VideoForm2Test::fitInWindowsStyle()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    rig.open();
    std::unique_ptr<QStyle> windows(QStyleFactory::create(QStringLiteral("Windows")));
    QVERIFY(windows);
    rig.sub()->setStyle(windows.get());
    const FrameMetrics metrics = rig.sub()->frameMetrics();
    QCOMPARE(metrics.captionHeight, 18);
    QCOMPARE(metrics.frameWidth, 4);
    fitToVideo(rig.sub());
    QCOMPARE(rig.sub()->size(), QSize(328, 266));
    QTRY_COMPARE(pictureArea(rig), QSize(320, 240));
    rig.sub()->setStyle(nullptr);
}

void VideoForm2Test::dragStaysInArea()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    form.resize(500, 400);
    QTest::qWait(250); // the sub-window takes its drag regions some time after a resize
    QWidget *viewport = form.captureArea->viewport();
    const QPoint caption(rig.sub()->width() / 2, rig.sub()->frameMetrics().captionHeight / 2 + 2);
    const QPoint far = rig.sub()->mapFromGlobal(viewport->mapToGlobal(QPoint(2000, 2000)));
    QTest::mouseMove(rig.sub(), caption); // the sub-window picks its drag operation on hover
    QTest::mousePress(rig.sub(), Qt::LeftButton, {}, caption);
    QTest::mouseMove(rig.sub(), caption + QPoint(30, 30));
    QTest::mouseMove(rig.sub(), far);
    QTest::mouseRelease(rig.sub(), Qt::LeftButton, {}, far);
    QVERIFY2(rig.sub()->pos() != QPoint(0, 0), "the drag did not move the window");
    QVERIFY(viewport->rect().contains(rig.sub()->geometry().topLeft()));
    QVERIFY(rig.sub()->x() < viewport->width() && rig.sub()->y() < viewport->height());
}

void VideoForm2Test::scaleBothWays()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    rig.sub()->move(12, 7);
    const FrameMetrics metrics = rig.sub()->frameMetrics();
    form.mnuScale->trigger();
    QVERIFY(!form.mnuScale->isChecked());
    QVERIFY(!rig.picture()->isScaled());
    // The caption with the driver's name stays; the window can no longer be resized.
    QVERIFY(rig.sub()->windowFlags().testFlag(Qt::WindowTitleHint));
    QCOMPARE(rig.sub()->frameMetrics().captionHeight, metrics.captionHeight);
    QCOMPARE(rig.sub()->minimumSize(), rig.sub()->maximumSize());
    QCOMPARE(rig.sub()->size(), fittedSize({320, 240}, metrics));
    QCOMPARE(rig.sub()->pos(), QPoint(12, 7));
    form.mnuScale->trigger();
    QVERIFY(form.mnuScale->isChecked());
    QVERIFY(rig.picture()->isScaled());
    QVERIFY(rig.sub()->minimumSize() != rig.sub()->maximumSize());
    QTRY_COMPARE(pictureArea(rig), QSize(320, 240));
    QCOMPARE(rig.sub()->pos(), QPoint(12, 7));
}

void VideoForm2Test::previewBothWays()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    form.mnuPreview->trigger();
    QVERIFY(!form.mnuPreview->isChecked());
    QCOMPARE(rig.status(), QString());
    rig.fake->produceFrame(0);
    QTest::qWait(100);
    QVERIFY(rig.picture()->frame().isNull());
    form.setStatusText(QStringLiteral("something"));
    form.mnuPreview->trigger();
    QVERIFY(form.mnuPreview->isChecked());
    QCOMPARE(rig.status(), QString());
    rig.fake->produceFrame(0);
    QTRY_VERIFY(!rig.picture()->frame().isNull());
    QCOMPARE(rig.sub()->size(), fittedSize({320, 240}, rig.sub()->frameMetrics()));
}

void VideoForm2Test::alwaysVisibleBothWays()
{
    FormRig rig;
    Form2 &form = rig.open();
    const QSize size = form.size();
    const QPoint place = form.pos();
    form.mnuAlwaysVisible->trigger();
    QVERIFY(form.mnuAlwaysVisible->isChecked());
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form.isVisible());
    form.mnuAlwaysVisible->trigger();
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form.isVisible());
    QCOMPARE(form.size(), size);
    QCOMPARE(form.pos(), place);
}

void VideoForm2Test::switchesWithoutDriver()
{
    FormRig rig;
    Form2 &form = rig.open();
    form.mnuScale->trigger();
    form.mnuPreview->trigger();
    QVERIFY(!form.mnuScale->isChecked() && !form.mnuPreview->isChecked());
    QVERIFY(!rig.picture()->isScaled());
    QCOMPARE(rig.sub()->size(), QSize(160, 120)); // no image size: the fit changes nothing
}

void VideoForm2Test::formatChangeRefits()
{
    FormRig rig;
    FakeCameraConfig config = webcamConfig();
    config.size = QSize(160, 120);
    rig.fake->addCamera(0, config);
    Form2 &form = rig.open();
    const QSize before = rig.sub()->size();
    onModal([](QWidget *dialog) {
        auto *sizes = dialog->findChild<QComboBox *>(QStringLiteral("frameSize"));
        sizes->setCurrentIndex(sizes->findText(QStringLiteral("320 x 240")));
        qobject_cast<QDialog *>(dialog)->accept();
    });
    form.mnuFormat->trigger();
    QCOMPARE(rig.sub()->size(), before + QSize(160, 120));
    QCOMPARE(rig.fake->config(0)->size, QSize(320, 240));
    QCOMPARE(rig.status(), QStringLiteral("320 x 240 YUYV at 30 fps"));
    QTRY_COMPARE(pictureArea(rig), QSize(320, 240));
}

void VideoForm2Test::sourceAndDisplayKeepSize()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    rig.sub()->resize(250, 200); // the user resized it
    for (QAction *item : {form.mnuSource, form.mnuDisplay}) {
        onModal([](QWidget *dialog) { qobject_cast<QDialog *>(dialog)->accept(); });
        item->trigger();
        QCOMPARE(rig.sub()->size(), QSize(250, 200));
    }
}

void VideoForm2Test::shortcuts()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(!form.mnuScale->isChecked());
    QTest::keyClick(&form, Qt::Key_P, Qt::ControlModifier);
    QVERIFY(!form.mnuPreview->isChecked());
    QTest::keyClick(&form, Qt::Key_W, Qt::ControlModifier);
    QVERIFY(form.mnuAlwaysVisible->isChecked());
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (auto [key, title] :
         {std::pair{Qt::Key_F, "Video Format"}, std::pair{Qt::Key_S, "Video Source"}}) {
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QString seen;
        onModal([&seen](QWidget *dialog) {
            seen = dialog->windowTitle();
            qobject_cast<QDialog *>(dialog)->reject();
        });
        QTest::keyClick(&form, key, Qt::ControlModifier);
        QCOMPARE(seen, QString::fromLatin1(title));
    }
}

void VideoForm2Test::savesPictureAndRecords()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    QTemporaryDir dir;
    const QString fits = dir.filePath(QStringLiteral("m42.fits"));
    // Before the first frame: a calm word, and nothing written.
    QVERIFY(!form.savePicture(fits));
    QTRY_VERIFY(form.findChild<QMessageBox *>(QStringLiteral("savingMessage")));
    delete form.findChild<QMessageBox *>(QStringLiteral("savingMessage"));
    QVERIFY(!QFileInfo::exists(fits));

    // Exposure set by hand: exposure_absolute then tells it, in 100 µs steps (156 of them).
    QVERIFY(rig.sub()->device()->setControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL));
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_VERIFY(!rig.picture()->frame().isNull());
    QVERIFY(form.savePicture(fits));
    QFile file(fits);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("SIMPLE  ="));
    QVERIFY(bytes.contains("INSTRUME= 'Fake Camera'"));
    const auto card = [&bytes](const char *key) {
        return bytes.mid(bytes.indexOf(QByteArray(key).leftJustified(8) + "= ") + 10, 20).toDouble();
    };
    QCOMPARE(card("EXPTIME"), 0.0156);
    QCOMPARE(card("GAIN"), 32.0);
    QCOMPARE(bytes.size() % 2880, 0);
    QCOMPARE(QImage(dir.filePath(QStringLiteral("m42.png"))).size(), QSize(320, 240));

    // Recording saves each frame shown until stopped; a folder that goes away ends it with a
    // message.
    const QString folder = dir.filePath(QStringLiteral("night"));
    QVERIFY(QDir().mkpath(folder));
    form.startRecording(folder);
    QVERIFY(form.mnuRecord->isChecked());
    for (int saved = 1; saved <= 3; ++saved) {
        QVERIFY(rig.fake->produceFrame(0));
        QTRY_COMPARE(QDir(folder).entryList(QDir::Files).size(), saved);
    }
    form.stopRecording();
    QVERIFY(!form.mnuRecord->isChecked());
    const QDateTime before = rig.sub()->newestTakenUtc();
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_VERIFY(rig.sub()->newestTakenUtc() != before);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
    form.startRecording(folder);
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_VERIFY(!form.isRecording());
    QTRY_VERIFY(form.findChild<QMessageBox *>(QStringLiteral("savingMessage")));
    QVERIFY2(rig.status().contains(QStringLiteral("0 frames saved")), qPrintable(rig.status()));
}

void VideoForm2Test::navigationSignals()
{
    FormRig rig;
    Form2 &form = rig.open();
    int guide = 0, close = 0, closeBox = 0;
    connect(&form, &Form2::mnuguideClicked, this, [&guide] { ++guide; });
    connect(&form, &Form2::mnucloseClicked, this, [&close] { ++close; });
    connect(&form, &Form2::closeBoxUsed, this, [&closeBox] { ++closeBox; });
    form.mnuguide->trigger();
    form.mnuclose->trigger();
    QCOMPARE(guide, 1);
    QCOMPARE(close, 1);
    QVERIFY(!form.close()); // the owner decides; the window stays
    QCOMPARE(closeBox, 1);
    QVERIFY(form.isVisible());
}

void VideoForm2Test::closedByHookDuringLoss()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    rig.fake->produceFrame(0);
    // The owner closes the window as soon as the loss shows in the status line.
    connect(
        form.StatusBar, &QStatusBar::messageChanged, this,
        [&rig](const QString &text) {
            if (text.startsWith(QLatin1String("Video device lost")))
                rig.close();
        },
        Qt::QueuedConnection);
    rig.fake->unplug(0);
    QTRY_VERIFY(!rig.form);
    QCoreApplication::processEvents();
    QCOMPARE(rig.fake->openDescriptors(), 0);
    QCOMPARE(rig.fake->mappedBuffers(), 0);
}

void VideoForm2Test::screenshot()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig("Guide Camera"));
    *rig.fake->config(0) = [] {
        FakeCameraConfig s = webcamConfig("Guide Camera");
        s.size = {160, 120};
        return s;
    }();
    Form2 &form = rig.open();
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_VERIFY(!rig.picture()->frame().isNull());
    QTest::qWait(50);
    const QImage shot = form.grab().toImage();
    const QString path = QDir(QCoreApplication::applicationDirPath())
                             .filePath(QStringLiteral("video_form2_preview.png"));
    QVERIFY(shot.save(path));
    qInfo("screenshot: %s", qPrintable(path));
    const QPoint picture = rig.picture()->mapTo(&form, QPoint(5, 5));
    QVERIFY(QColor(shot.pixel(picture)).lightness() > 200); // the white bar
}

QTEST_MAIN(VideoForm2Test)
#include "video_form2.moc"
