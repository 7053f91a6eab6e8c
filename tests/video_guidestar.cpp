// SPDX-License-Identifier: GPL-3.0-or-later
// The video window's guide star: chosen by a click or picked, followed, lost, and the reticle.
#include "guide/syntheticframe.h"
#include "video_support/starcamera.h"
#include "video/capturesubwindow.h"
#include "video/form2.h"
#include "video/previewwidget.h"
#include "video/save/darklibrary.h"

#include <QAction>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace voruna;
using voruna::test::frameSize;
using voruna::test::StarCamera;
using voruna::test::StarSource;

namespace {

struct Rig {
    StarSource *source = nullptr;
    std::unique_ptr<CaptureLayer> layer;
    std::unique_ptr<Form2> form;

    explicit Rig(bool colour = false)
    {
        auto owned = std::make_unique<StarSource>();
        source = owned.get();
        std::vector<std::unique_ptr<DriverSource>> sources;
        sources.push_back(std::move(owned));
        layer = makeCaptureLayer(std::move(sources));
        form = std::make_unique<Form2>(*layer);
        form->Form2_Form_Load();
        form->show();
        camera().colour = colour;
    }
    ~Rig() { form->Form2_Form_Unload(); }
    StarCamera &camera() const { return *source->camera; }
    CaptureSubWindow *sub() const { return dynamic_cast<CaptureSubWindow *>(form->captureWindow()); }
    PreviewWidget *picture() const { return sub()->picture(); }
    // Sends one frame and waits until the window took it.
    bool show()
    {
        const qint64 before = picture()->frame().cacheKey();
        camera().send();
        return QTest::qWaitFor([&] { return picture()->frame().cacheKey() != before; });
    }
    QString text() const { return picture()->overlay().lines.join(QLatin1Char('|')); }
};

double distance(QPointF a, QPointF b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

} // namespace

class VideoGuideStarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mapping_data();
    void mapping();
    void clickChoosesStar_data();
    void clickChoosesStar();
    void pickAvoidsHotPixel();
    void darksMendHotCluster_data();
    void darksMendHotCluster();
    void followedOrLost_data();
    void followedOrLost();
    void reticle();
    void everyFrameMeasured_data();
    void everyFrameMeasured();
};

void VideoGuideStarTest::mapping_data()
{
    QTest::addColumn<bool>("scaled");
    QTest::addColumn<bool>("mirror");
    QTest::addColumn<bool>("flip");
    QTest::addColumn<QPointF>("frame");
    QTest::addColumn<QPointF>("widget");
    // The widget is 160 x 120 over a 320 x 240 frame.
    QTest::newRow("actual size") << false << false << false << QPointF(10, 20) << QPointF(10.5, 20.5);
    QTest::newRow("scaled") << true << false << false << QPointF(10, 20) << QPointF(5.25, 10.25);
    QTest::newRow("mirrored") << false << true << false << QPointF(10, 20) << QPointF(309.5, 20.5);
    QTest::newRow("scaled, flipped") << true << false << true << QPointF(10, 20) << QPointF(5.25, 109.75);
}

void VideoGuideStarTest::mapping()
{
    QFETCH(bool, scaled);
    QFETCH(bool, mirror);
    QFETCH(bool, flip);
    QFETCH(QPointF, frame);
    QFETCH(QPointF, widget);
    PreviewWidget picture;
    picture.resize(160, 120);
    picture.setScaled(scaled);
    picture.setSource(frameSize, mirror, flip);
    QCOMPARE(picture.toWidget(frame), widget);
    QCOMPARE(picture.toFrame(widget), frame);
}

void VideoGuideStarTest::clickChoosesStar_data()
{
    QTest::addColumn<bool>("scaled");
    QTest::addColumn<bool>("colour");
    QTest::newRow("scaled, grey") << true << false;
    QTest::newRow("actual size, grey") << false << false;
    QTest::newRow("scaled, colour") << true << true;
}

void VideoGuideStarTest::clickChoosesStar()
{
    QFETCH(bool, scaled);
    QFETCH(bool, colour);
    Rig rig(colour);
    if (!scaled)
        rig.form->mnuScale->trigger();
    const QPointF star(100.3, 80.6);
    rig.camera().scene.addStar(star, 3.0, 40000);
    rig.camera().scene.addStar({220, 150}, 3.0, 60000);
    QVERIFY(rig.show());
    // A click a little beside the star takes it, not the brighter one further away.
    const QPoint click = rig.picture()->toWidget(star + QPointF(2, -2)).toPoint();
    QTest::mouseClick(rig.picture(), Qt::LeftButton, {}, click);
    QVERIFY(rig.form->guideStar().isFollowing());
    const auto box = rig.picture()->overlay().box;
    QVERIFY(box);
    QVERIFY2(distance(box->center(), star) < 0.3, qPrintable(rig.text()));
    QVERIFY2(rig.text().contains(QStringLiteral("SNR")), qPrintable(rig.text()));
    // 2"/px: the distance from the centre reticle in arcseconds too.
    QVERIFY2(rig.text().contains(QLatin1Char('"')), qPrintable(rig.text()));
}

void VideoGuideStarTest::pickAvoidsHotPixel()
{
    Rig rig;
    rig.camera().scene.addStar({150, 110}, 3.0, 30000);
    rig.camera().scene.addHotPixel({60, 60}, 60000);
    QVERIFY(rig.show());
    rig.form->mnuPickStar->trigger();
    QVERIFY(rig.form->guideStar().star());
    QVERIFY(distance(rig.form->guideStar().star()->centre, {150, 110}) < 0.3);
}

void VideoGuideStarTest::darksMendHotCluster_data()
{
    QTest::addColumn<double>("exposure"); // the camera's own; 0 tells none
    QTest::addColumn<QList<double>>("darks");
    QTest::addColumn<bool>("lose"); // the camera is lost once the first dark is kept
    QTest::addColumn<QList<double>>("set"); // the exposures the camera is asked for
    QTest::newRow("darks at two exposures") << 2.0 << QList<double>{0.05, 0.1} << false
                                            << QList<double>{0.05, 0.1, 2.0};
    QTest::newRow("the camera is lost under the second exposure's darks")
        << 2.0 << QList<double>{0.05, 0.1} << true << QList<double>{0.05, 0.1};
    QTest::newRow("a camera that tells no exposure") << 0.0 << QList<double>{0.0} << false
                                                     << QList<double>{};
}

void VideoGuideStarTest::darksMendHotCluster()
{
    QFETCH(double, exposure);
    QFETCH(QList<double>, darks);
    QFETCH(bool, lose);
    QFETCH(QList<double>, set);
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    Rig rig;
    StarCamera &camera = rig.camera();
    camera.exposure = exposure;
    // Four hot pixels side by side look like a small star, brighter than the real one.
    const auto addCluster = [&camera] {
        for (QPoint p : {QPoint(60, 60), QPoint(61, 60), QPoint(60, 61), QPoint(61, 61)})
            camera.scene.addHotPixel(p, 9000);
    };
    addCluster();
    camera.scene.addStar({150, 110}, 3.0, 30000);
    QVERIFY(rig.show());
    rig.form->mnuPickStar->trigger();
    QVERIFY(distance(rig.form->guideStar().star()->centre, {60.5, 60.5}) < 0.5);

    camera.scene.clear(); // the telescope covered
    addCluster();
    rig.form->startDarks(std::vector<double>(darks.begin(), darks.end()), 3);
    const DarkLibrary library(QStringLiteral("Star camera"));
    QElapsedTimer waited;
    waited.start();
    while (rig.form->isTakingDarks() && waited.elapsed() < 20000) {
        if (lose && !library.exposures(frameSize, 16).empty())
            camera.fail();
        else
            QVERIFY(rig.show());
    }
    QVERIFY(!rig.form->isTakingDarks());
    QCOMPARE(camera.exposuresSet, set); // and back to its own
    const std::vector<double> kept = library.exposures(frameSize, 16);
    if (lose) {
        QCOMPARE(kept, std::vector<double>{0.05}); // the dark finished before stays
        return;
    }
    QCOMPARE(kept, std::vector<double>(darks.begin(), darks.end()));

    if (exposure > 0.0)
        camera.setExposureSeconds(darks.back());
    camera.scene.addStar({150, 110}, 3.0, 30000);
    rig.form->mnuDarkPicture->setChecked(true);
    QVERIFY(rig.show());
    const DarkCorrection &correction = rig.form->darkCorrection();
    QVERIFY(correction.dark() && sameExposure(correction.dark()->exposureSeconds, darks.back()));
    QVERIFY(correction.hotPixels().contains({61, 61}));
    rig.form->mnuPickStar->trigger();
    QVERIFY(distance(rig.form->guideStar().star()->centre, {150, 110}) < 0.3);
}

void VideoGuideStarTest::followedOrLost_data()
{
    QTest::addColumn<QPointF>("moved");
    QTest::addColumn<double>("electrons");
    QTest::addColumn<int>("loss");
    QTest::newRow("drifts") << QPointF(3.5, -2.0) << 30000.0 << int(StarLoss::None);
    QTest::newRow("gone") << QPointF() << 0.0 << int(StarLoss::NoStar);
    QTest::newRow("cloud") << QPointF() << 3000.0 << int(StarLoss::BrightnessJump);
}

void VideoGuideStarTest::followedOrLost()
{
    QFETCH(QPointF, moved);
    QFETCH(double, electrons);
    QFETCH(int, loss);
    Rig rig;
    const QPointF start(160, 120);
    rig.camera().scene.addStar(start, 3.0, 30000);
    QVERIFY(rig.show());
    rig.form->mnuPickStar->trigger();
    QVERIFY(rig.show()); // a second frame sets the running mean of the flux
    rig.camera().scene.clear();
    if (electrons > 0)
        rig.camera().scene.addStar(start + moved, 3.0, electrons);
    QVERIFY(rig.show());
    QCOMPARE(int(rig.form->guideStar().loss()), loss);
    if (loss == int(StarLoss::None)) {
        QVERIFY(distance(rig.picture()->overlay().box->center(), start + moved) < 0.3);
        QVERIFY(!rig.picture()->overlay().lost);
    } else {
        QVERIFY(rig.picture()->overlay().lost);
        QVERIFY2(rig.text().contains(starLossText(StarLoss(loss))), qPrintable(rig.text()));
    }
}

void VideoGuideStarTest::reticle()
{
    Rig rig;
    rig.camera().scene.addStar({100, 70}, 3.0, 30000);
    QVERIFY(rig.show());
    QCOMPARE(rig.picture()->overlay().reticle, QPointF(159.5, 119.5));
    rig.form->mnuReticle->trigger();
    QVERIFY(!rig.picture()->overlay().reticle);
    rig.form->mnuReticle->trigger();
    rig.form->mnuPickStar->trigger();
    rig.form->mnuReticleOnStar->trigger();
    QVERIFY(distance(*rig.picture()->overlay().reticle, {100, 70}) < 0.3);
    QVERIFY2(rig.text().contains(QStringLiteral("reticle 0.00 px")), qPrintable(rig.text()));
    // A Shift-click puts the reticle where it lands and leaves the star chosen.
    const QPointF aim(40, 30);
    QTest::mouseClick(rig.picture(), Qt::LeftButton, Qt::ShiftModifier,
                      rig.picture()->toWidget(aim).toPoint());
    QVERIFY(distance(*rig.picture()->overlay().reticle, aim) < 1.5);
    QVERIFY(distance(rig.form->guideStar().star()->centre, {100, 70}) < 0.3);
}

void VideoGuideStarTest::everyFrameMeasured_data()
{
    QTest::addColumn<bool>("preview");
    QTest::newRow("preview on") << true;
    QTest::newRow("preview off") << false;
}

void VideoGuideStarTest::everyFrameMeasured()
{
    // The guide loop needs each frame's star, whether the window shows the frame or not.
    QFETCH(bool, preview);
    Rig rig;
    const QPointF start(160, 120);
    rig.camera().scene.addStar(start, 3.0, 30000);
    QVERIFY(rig.show());
    rig.form->mnuPickStar->trigger();
    if (!preview)
        rig.form->mnuPreview->trigger();
    QCOMPARE(rig.form->mnuPreview->isChecked(), preview);
    const qint64 shown = rig.picture()->frame().cacheKey();
    QSignalSpy measured(rig.form.get(), &Form2::starMeasured);
    for (int k = 1; k <= 3; ++k) {
        rig.camera().scene.clear();
        rig.camera().scene.addStar(start + QPointF(k, -k), 3.0, 30000);
        rig.camera().send();
        QTRY_COMPARE(measured.count(), k);
        const auto star = measured.last().at(0).value<StarMeasurement>();
        QVERIFY(star.isUsable());
        QVERIFY(distance(star.centre, start + QPointF(k, -k)) < 0.3);
    }
    QCOMPARE(rig.picture()->frame().cacheKey() != shown, preview);
    rig.camera().scene.clear();
    rig.camera().send();
    QTRY_COMPARE(measured.count(), 4);
    QCOMPARE(int(measured.last().at(0).value<StarMeasurement>().loss), int(StarLoss::NoStar));
}

QTEST_MAIN(VideoGuideStarTest)
#include "video_guidestar.moc"
