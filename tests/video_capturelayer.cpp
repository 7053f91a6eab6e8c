// SPDX-License-Identifier: GPL-3.0-or-later
// The V4L2 capture layer against the scripted kernel: enumeration, connect, capabilities,
// frames, the preview period and a camera unplugged while streaming.
#include "video_support/capturerig.h"
#include "video_support/formrig.h"

#include "video/capture/notices.h"
#include "video/capturesubwindow.h"
#include "video/previewwidget.h"

#include <QCheckBox>
#include <QSpinBox>
#include <QTest>

#include <cerrno>

using namespace voruna;
using namespace voruna::test;

Q_DECLARE_METATYPE(voruna::DisplayView)

namespace {

PreviewWidget *pictureOf(CaptureWindow *window)
{
    return dynamic_cast<QWidget *>(window)->findChild<PreviewWidget *>();
}

// The colour of the frame shown at `point`, as painted (RGB32).
QColor shownColour(CaptureWindow *window, QPoint point)
{
    return QColor(pictureOf(window)->frame().pixel(point));
}

bool near(QColor a, QColor b, int tolerance = 24)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class VideoCaptureLayerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void enumeration_data();
    void enumeration();
    void connectFailing();
    void capabilities();
    void framesArriveAsRgb_data();
    void framesArriveAsRgb();
    void previewShowsAtMostOncePerPeriod();
    void previewOffShowsNothing();
    void unplugMidStream();
    void startFailureFreesBuffers_data();
    void startFailureFreesBuffers();
    void windowClosedWithFramePending();
    void formatRefusedKeepsPrevious();
    void formatChangeAndCloseWhileConverting();
    void frameDuringConversionShown();
    void workerDrawsForTheView_data();
    void workerDrawsForTheView();
    void switchingLetsGoOfThePicture();
    void hookClosesWindowDuringLoss();
    void realCamera();
};

void VideoCaptureLayerTest::enumeration_data()
{
    QTest::addColumn<QList<int>>("nodes");
    QTest::addColumn<int>("notCapturing"); // node that is a metadata node, -1 for none
    QTest::addColumn<int>("unreadable");   // node whose capabilities cannot be read
    QTest::addColumn<QStringList>("names");
    QTest::newRow("three cameras")
        << QList<int>{0, 1, 2} << -1 << -1 << QStringList{"cam0", "cam1", "cam2"};
    QTest::newRow("gap in node numbers")
        << QList<int>{0, 2} << -1 << -1 << QStringList{"cam0", "cam2"};
    QTest::newRow("metadata node skipped")
        << QList<int>{0, 1, 2} << 1 << -1 << QStringList{"cam0", "cam2"};
    QTest::newRow("capabilities unreadable") << QList<int>{0, 1} << -1 << 0 << QStringList{"cam1"};
    QTest::newRow("no camera") << QList<int>{} << -1 << -1 << QStringList{};
}

void VideoCaptureLayerTest::enumeration()
{
    QFETCH(QList<int>, nodes);
    QFETCH(int, notCapturing);
    QFETCH(int, unreadable);
    QFETCH(QStringList, names);
    CaptureRig rig;
    for (int node : nodes) {
        FakeCameraConfig config = webcamConfig("cam" + QByteArray::number(node));
        config.canCapture = node != notCapturing;
        config.queryCapFails = node == unreadable;
        rig.fake->addCamera(node, config);
    }
    QStringList listed;
    for (int index = 0; auto driver = rig.layer->driverDescription(index); ++index) {
        listed << driver->name;
        QCOMPARE(driver->version, QStringLiteral("fakecam 6.1.0"));
    }
    QCOMPARE(listed, names);
    QVERIFY(!rig.layer->driverDescription(-1));
    QCOMPARE(rig.fake->openDescriptors(), 0);
}

void VideoCaptureLayerTest::connectFailing()
{
    CaptureRig rig;
    FakeCameraConfig h264Only = webcamConfig();
    h264Only.formats = {{V4L2_PIX_FMT_H264, "H.264", {{640, 480}}, {{1, 30}}}};
    h264Only.fourcc = V4L2_PIX_FMT_H264;
    rig.fake->addCamera(0, h264Only);
    CaptureWindow *window = rig.createWindow();
    QVERIFY(!window->driverConnect(0));
    QVERIFY(!window->driverConnect(1)); // no driver there: a failure, but nothing to tell
    QCOMPARE(rig.errors.size(), 1);
    QCOMPARE(rig.errors[0].first, notice::ConnectFailed);
    QCOMPARE(rig.errors[0].second,
             QStringLiteral("/dev/video0 sends no picture format this program can show"));
    QCOMPARE(rig.fake->openDescriptors(), 0);
    DriverCaps caps;
    QSize size;
    QVERIFY(!window->driverGetCaps(&caps));
    QVERIFY(!window->getStatus(&size));
    *rig.fake->config(0) = webcamConfig();
    QVERIFY(window->driverConnect(0));
}

void VideoCaptureLayerTest::capabilities()
{
    CaptureRig rig;
    rig.fake->addCamera(0, webcamConfig("with controls"));
    FakeCameraConfig bare = webcamConfig("no controls");
    bare.controls.clear();
    rig.fake->addCamera(3, bare);
    CaptureWindow *window = rig.createWindow();
    DriverCaps caps;
    QVERIFY(window->driverConnect(1));
    QVERIFY(window->driverGetCaps(&caps));
    QCOMPARE(caps.deviceIndex, 1);
    QVERIFY(!caps.hasDlgVideoSource);
    QVERIFY(caps.hasDlgVideoFormat && caps.hasDlgVideoDisplay);
    QVERIFY(window->driverConnect(0));
    QVERIFY(window->driverGetCaps(&caps));
    QCOMPARE(caps.deviceIndex, 0);
    QVERIFY(caps.hasDlgVideoSource);
    QSize size;
    QVERIFY(window->getStatus(&size));
    QCOMPARE(size, QSize(320, 240));
    // The second connect let go of the first camera.
    QCOMPARE(rig.fake->openDescriptors(), 1);
    QCOMPARE(rig.statuses.last(),
             qMakePair(notice::StreamStarted, QStringLiteral("320 x 240 YUYV at 30 fps")));
}

void VideoCaptureLayerTest::framesArriveAsRgb_data()
{
    QTest::addColumn<quint32>("fourcc");
    QTest::addColumn<QSize>("size");
    QTest::newRow("YUYV") << quint32(V4L2_PIX_FMT_YUYV) << QSize(320, 240);
    QTest::newRow("MJPEG") << quint32(V4L2_PIX_FMT_MJPEG) << QSize(640, 480);
}

void VideoCaptureLayerTest::framesArriveAsRgb()
{
    QFETCH(quint32, fourcc);
    QFETCH(QSize, size);
    CaptureRig rig;
    FakeCameraConfig config = webcamConfig();
    config.fourcc = fourcc;
    config.size = size;
    rig.fake->addCamera(0, config);
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    window->setPreview(true);
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_VERIFY(!pictureOf(window)->frame().isNull());
    QCOMPARE(pictureOf(window)->frame().size(), size);
    const int bar = size.width() / 8;
    QVERIFY(near(shownColour(window, {bar / 2, 10}), Qt::white));
    QVERIFY(near(shownColour(window, {bar * 3 / 2, 10}), Qt::yellow));
    QVERIFY(near(shownColour(window, {bar * 13 / 2, 10}), Qt::blue));
    QVERIFY(near(shownColour(window, {2, size.height() - 2}), Qt::black));
}

void VideoCaptureLayerTest::previewShowsAtMostOncePerPeriod()
{
    CaptureRig rig;
    rig.fake->addCamera(0, webcamConfig());
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    window->setPreviewRate(300);
    window->setPreview(true);
    rig.fake->produceFrame(0);
    QTRY_VERIFY(!pictureOf(window)->frame().isNull());
    const qint64 first = pictureOf(window)->frame().cacheKey();
    for (int i = 0; i < 3; ++i) {
        rig.fake->produceFrame(0);
        QCoreApplication::processEvents();
    }
    QCOMPARE(pictureOf(window)->frame().cacheKey(), first);
    // The newest of the three shows once the period is over.
    QTRY_VERIFY_WITH_TIMEOUT(pictureOf(window)->frame().cacheKey() != first, 2000);
}

void VideoCaptureLayerTest::previewOffShowsNothing()
{
    CaptureRig rig;
    rig.fake->addCamera(0, webcamConfig());
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    for (int i = 0; i < 6; ++i) { // more frames than buffers: the stream must keep going
        QVERIFY(rig.fake->produceFrame(0));
        QCoreApplication::processEvents();
    }
    QVERIFY(pictureOf(window)->frame().isNull());
    window->setPreview(true);
    rig.fake->produceFrame(0);
    QTRY_VERIFY(!pictureOf(window)->frame().isNull());
}

void VideoCaptureLayerTest::unplugMidStream()
{
    CaptureRig rig;
    rig.fake->addCamera(0, webcamConfig());
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    window->setPreview(true);
    rig.fake->produceFrame(0);
    QTRY_VERIFY(!pictureOf(window)->frame().isNull());
    rig.fake->unplug(0);
    QTRY_COMPARE(rig.errors.size(), 1);
    QCOMPARE(rig.errors[0],
             qMakePair(notice::DeviceLost, QStringLiteral("Video device lost: Fake Camera")));
    QCOMPARE(rig.fake->openDescriptors(), 0);
    QCOMPARE(rig.fake->mappedBuffers(), 0);
    QVERIFY(!pictureOf(window)->frame().isNull()); // the last picture stays
    QSize size;
    DriverCaps caps;
    QVERIFY(!window->getStatus(&size));
    QVERIFY(!window->driverGetCaps(&caps));
    rig.fake->addCamera(0, webcamConfig());
    QVERIFY(window->driverConnect(0));
    QVERIFY(window->getStatus(&size));
}

void VideoCaptureLayerTest::startFailureFreesBuffers_data()
{
    QTest::addColumn<quint32>("maxBuffers");
    QTest::addColumn<qulonglong>("failRequest");
    QTest::addColumn<quint32>("failFrom");
    QTest::newRow("one buffer granted") << 1u << 0ull << 0u;
    QTest::newRow("first buffer not described") << 8u << qulonglong(VIDIOC_QUERYBUF) << 0u;
    QTest::newRow("second buffer not described") << 8u << qulonglong(VIDIOC_QUERYBUF) << 1u;
    QTest::newRow("first buffer not mapped") << 8u << qulonglong(fakeMmap) << 0u;
    QTest::newRow("third buffer not mapped") << 8u << qulonglong(fakeMmap) << 2u;
    QTest::newRow("buffer not queued") << 8u << qulonglong(VIDIOC_QBUF) << 0u;
    QTest::newRow("stream not switched on") << 8u << qulonglong(VIDIOC_STREAMON) << 0u;
}

// A stream that does not start hands the driver's buffers back, wherever it failed: another
// format can then be chosen without opening the camera again.
void VideoCaptureLayerTest::startFailureFreesBuffers()
{
    QFETCH(quint32, maxBuffers);
    QFETCH(qulonglong, failRequest);
    QFETCH(quint32, failFrom);
    CaptureRig rig;
    FakeCameraConfig config = webcamConfig();
    config.maxBuffers = maxBuffers;
    config.failRequest = failRequest;
    config.failFrom = failFrom;
    rig.fake->addCamera(0, config);
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    QCOMPARE(rig.errors.size(), 1);
    QCOMPARE(rig.errors[0].first, notice::StreamNotStarted);
    QCOMPARE(rig.fake->mappedBuffers(), 0);
    rig.fake->config(0)->maxBuffers = 8;
    rig.fake->config(0)->failRequest = 0;
    CaptureDevice *device = dynamic_cast<CaptureSubWindow *>(window)->device();
    QVERIFY(device->setFormat({V4L2_PIX_FMT_MJPEG, {640, 480}, {1, 30}}));
    QCOMPARE(rig.errors.size(), 1);
    window->setPreview(true);
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_COMPARE(pictureOf(window)->frame().size(), QSize(640, 480));
}

void VideoCaptureLayerTest::windowClosedWithFramePending()
{
    CaptureRig rig;
    rig.fake->addCamera(0, webcamConfig());
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    window->setPreview(true);
    rig.fake->produceFrame(0);
    rig.fake->produceFrame(0);
    delete dynamic_cast<QWidget *>(window);
    QCoreApplication::processEvents();
    QCOMPARE(rig.fake->openDescriptors(), 0);
    QCOMPARE(rig.fake->mappedBuffers(), 0);
}

void VideoCaptureLayerTest::formatRefusedKeepsPrevious()
{
    CaptureRig rig;
    rig.fake->addCamera(0, webcamConfig());
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    CaptureDevice *device = dynamic_cast<CaptureSubWindow *>(window)->device();
    QVERIFY(device);
    QVERIFY(!device->setFormat({V4L2_PIX_FMT_H264, {640, 480}, {}}));
    QCOMPARE(device->format().size, QSize(320, 240));
    QCOMPARE(device->format().pixelFormat, quint32(V4L2_PIX_FMT_YUYV));
    QVERIFY(device->setFormat({V4L2_PIX_FMT_MJPEG, {1280, 720}, {1, 15}}));
    QCOMPARE(device->format(), (StreamFormat{V4L2_PIX_FMT_MJPEG, {1280, 720}, {1, 15}}));
    window->setPreview(true);
    QVERIFY(rig.fake->produceFrame(0)); // streaming again after the change
    QTRY_COMPARE(pictureOf(window)->frame().size(), QSize(1280, 720));
}

// Frames are converted away from the window's thread: a format change drops the picture of
// the old format still being converted, and closing the window waits for the conversion.
void VideoCaptureLayerTest::formatChangeAndCloseWhileConverting()
{
    CaptureRig rig;
    FakeCameraConfig camera = webcamConfig();
    camera.fourcc = V4L2_PIX_FMT_MJPEG;
    camera.size = QSize(1280, 720);
    rig.fake->addCamera(0, camera);
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    window->setPreview(true);
    CaptureDevice *device = dynamic_cast<CaptureSubWindow *>(window)->device();
    QVERIFY(rig.fake->produceFrame(0));
    QCoreApplication::processEvents(); // the frame goes to be converted
    const qint64 before = pictureOf(window)->frame().cacheKey();
    QVERIFY(device->setFormat({V4L2_PIX_FMT_YUYV, {640, 480}, {}}));
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(pictureOf(window)->frame().cacheKey(), before);
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_COMPARE(pictureOf(window)->frame().size(), QSize(640, 480));
    QVERIFY(device->setFormat({V4L2_PIX_FMT_MJPEG, {1280, 720}, {}}));
    QVERIFY(rig.fake->produceFrame(0));
    QCoreApplication::processEvents();
    delete dynamic_cast<QWidget *>(window);
    QCoreApplication::processEvents();
    QCOMPARE(rig.fake->openDescriptors(), 0);
    QCOMPARE(rig.fake->mappedBuffers(), 0);
}

// A frame that comes while the one before is converted, or before that one is taken, goes to
// be converted next: it is not left waiting for another frame of the camera.
void VideoCaptureLayerTest::frameDuringConversionShown()
{
    auto fake = std::make_shared<FakeV4l2>();
    FakeCameraConfig camera = webcamConfig();
    camera.fourcc = V4L2_PIX_FMT_MJPEG;
    camera.size = QSize(1280, 720);
    fake->addCamera(0, camera);
    V4l2DriverSource source(fake);
    QString error;
    std::unique_ptr<CaptureDevice> device = source.open(source.drivers().at(0).id.key, &error);
    QVERIFY(device && device->start());
    int pictures = 0;
    ShownFrame picture;
    connect(device.get(), &CaptureDevice::frameArrived, this,
            [&] { pictures += device->takeFrame(&picture); });
    for (int frame = 0; frame < 2; ++frame) {
        QVERIFY(fake->produceFrame(0));
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(pictures, 2);
}

void VideoCaptureLayerTest::workerDrawsForTheView_data()
{
    QTest::addColumn<quint32>("fourcc");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<DisplayView>("view");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("bits");
    QTest::newRow("scaled down") << quint32(V4L2_PIX_FMT_YUYV) << QSize(640, 480)
                                 << DisplayView{{}, {160, 120}, true} << QSize(160, 120) << 8;
    QTest::newRow("deep, cut to the window")
        << quint32(V4L2_PIX_FMT_Y12) << QSize(64, 48) << DisplayView{{}, {32, 100}, false}
        << QSize(32, 48) << 12;
    QTest::newRow("window never shown") << quint32(V4L2_PIX_FMT_MJPEG) << QSize(320, 240)
                                        << DisplayView{} << QSize(320, 240) << 8;
}

// The camera's worker draws each frame for the window's view, and hands the converted frame
// beside it at the camera's own depth.
void VideoCaptureLayerTest::workerDrawsForTheView()
{
    QFETCH(quint32, fourcc);
    QFETCH(QSize, frame);
    QFETCH(DisplayView, view);
    QFETCH(QSize, picture);
    QFETCH(int, bits);
    auto fake = std::make_shared<FakeV4l2>();
    FakeCameraConfig camera = webcamConfig();
    if (fourcc == V4L2_PIX_FMT_Y12) // a mono camera of this one format
        camera.formats = {{V4L2_PIX_FMT_Y12, "12-bit Greyscale", {{64, 48}}, {{1, 30}}}};
    camera.fourcc = fourcc;
    camera.size = frame;
    fake->addCamera(0, camera);
    V4l2DriverSource source(fake);
    QString error;
    std::unique_ptr<CaptureDevice> device = source.open(source.drivers().at(0).id.key, &error);
    QVERIFY(device && device->start());
    device->setDisplayView(view);
    ShownFrame shown;
    bool taken = false;
    connect(device.get(), &CaptureDevice::frameArrived, this,
            [&] { taken = taken || device->takeFrame(&shown); });
    QVERIFY(fake->produceFrame(0));
    QTRY_VERIFY(taken);
    QCOMPARE(shown.picture.size(), picture);
    QCOMPARE(shown.view, view);
    QCOMPARE(shown.frame.size(), frame);
    QCOMPARE(shown.sampleBits, bits);
    QCOMPARE(shown.frame.format() == QImage::Format_Grayscale16, bits > 8);
}

// Choosing another camera lets go of the picture and the stretch of the one before, also when
// the chosen one has gone since the list was made; mirroring stays.
void VideoCaptureLayerTest::switchingLetsGoOfThePicture()
{
    CaptureRig rig;
    rig.fake->addCamera(0, webcamConfig());
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    window->setPreview(true);
    QVERIFY(rig.fake->produceFrame(0));
    QTRY_VERIFY(!pictureOf(window)->frame().isNull());
    onModal([](QWidget *dialog) {
        dialog->findChild<QCheckBox *>(QStringLiteral("mirror"))->setChecked(true);
        dialog->findChild<QSpinBox *>(QStringLiteral("whitePoint"))->setValue(100);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    window->dlgVideoDisplay();
    QVERIFY(!window->driverConnect(1));
    QVERIFY(pictureOf(window)->frame().isNull());
    QCOMPARE(rig.errors.last().second, QStringLiteral("The chosen camera is no longer there"));
    rig.fake->addCamera(1, webcamConfig());
    QVERIFY(window->driverConnect(1));
    const DisplaySettings &display = dynamic_cast<CaptureSubWindow *>(window)->displaySettings();
    QVERIFY(display.mirror);
    QCOMPARE(display.whitePoint, 255);
}

void VideoCaptureLayerTest::hookClosesWindowDuringLoss()
{
    CaptureRig rig;
    rig.fake->addCamera(0, webcamConfig());
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    window->setPreview(true);
    rig.fake->produceFrame(0);
    // The error hook ends the window's owner while the loss is being delivered.
    window->setErrorHook([&rig](CaptureWindow *, int, const char *) {
        rig.area.reset();
        return 0;
    });
    rig.fake->unplug(0);
    QTRY_VERIFY(!rig.area);
    QCoreApplication::processEvents();
    QCOMPARE(rig.fake->openDescriptors(), 0);
    QCOMPARE(rig.fake->mappedBuffers(), 0);
}

// With a camera attached: VORUNA_VIDEO_DEVICE=1 runs this against the real kernel.
void VideoCaptureLayerTest::realCamera()
{
    if (qEnvironmentVariableIsEmpty("VORUNA_VIDEO_DEVICE"))
        QSKIP("set VORUNA_VIDEO_DEVICE to test with the cameras of this computer");
    std::unique_ptr<CaptureLayer> layer = makeV4l2CaptureLayer(makeKernelSyscalls());
    const std::optional<DriverDescription> driver = layer->driverDescription(0);
    QVERIFY2(driver, "no camera found");
    QMdiArea area;
    area.resize(1400, 900);
    CaptureWindow *window = layer->createCaptureWindow(&area, driver->name, QRect(0, 0, 160, 120));
    QVERIFY(window->driverConnect(0));
    window->setPreview(true);
    QTRY_VERIFY_WITH_TIMEOUT(!pictureOf(window)->frame().isNull(), 5000);
    QSize size;
    QVERIFY(window->getStatus(&size));
    QCOMPARE(pictureOf(window)->frame().size(), size);
}

QTEST_MAIN(VideoCaptureLayerTest)
#include "video_capturelayer.moc"
