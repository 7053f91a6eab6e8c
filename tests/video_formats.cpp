// SPDX-License-Identifier: GPL-3.0-or-later
// The camera formats with real frames: colour bars in each format checked pixel by pixel after
// conversion, deep mono frames whose faint low bits the display stretch brings out, short
// frames, and a camera that sends deep formats only.
#include "video_support/capturerig.h"

#include "video/capturesubwindow.h"
#include "video/capture/displaysettings.h"
#include "video/drivers/v4l2/frameconverter.h"
#include "video/previewwidget.h"

#include <QTest>

#include <fcntl.h>

using namespace voruna;
using namespace voruna::test;

namespace {

const QColor barColours[] = {Qt::white,   Qt::yellow, Qt::cyan, Qt::green,
                             Qt::magenta, Qt::red,    Qt::blue, Qt::black};
constexpr int barWidth = 8;
const QSize barsSize(8 * barWidth, 8);

QImage barsPicture()
{
    QImage bars(barsSize, QImage::Format_RGB32);
    for (int x = 0; x < bars.width(); ++x)
        for (int y = 0; y < bars.height(); ++y)
            bars.setPixel(x, y, barColours[x / barWidth].rgb());
    return bars;
}

// The format as a driver states it: rows of 8-bit Bayer and packed YUV are given.
v4l2_format nativeFormat(quint32 fourcc, QSize size, int bytes)
{
    v4l2_format native{};
    const bool bayer8 = fourcc == V4L2_PIX_FMT_SRGGB8 || fourcc == V4L2_PIX_FMT_SBGGR8;
    const bool packed = fourcc == V4L2_PIX_FMT_YUYV || fourcc == V4L2_PIX_FMT_YVYU;
    native.fmt.pix.bytesperline = bayer8 ? size.width() : packed ? 2 * size.width() : 0;
    native.fmt.pix.sizeimage = bytes;
    native.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    native.fmt.pix.width = size.width();
    native.fmt.pix.height = size.height();
    native.fmt.pix.pixelformat = fourcc;
    native.fmt.pix.field = V4L2_FIELD_NONE;
    return native;
}

// A converter on a scripted camera, as a connected device has one.
struct Converter {
    FakeV4l2 fake;
    int fd;
    std::unique_ptr<FrameConverter> converter;
    Converter()
    {
        fake.addCamera(0, webcamConfig());
        fd = fake.open("/dev/video0", O_RDWR);
        converter = std::make_unique<FrameConverter>(fake, fd);
    }
    ~Converter()
    {
        converter.reset();
        fake.close(fd);
    }
    // The frame as the preview paints it with `settings`; null when it did not convert.
    QImage shown(quint32 fourcc, QSize size, const QByteArray &bytes, DisplaySettings settings = {})
    {
        QImage working, out;
        if (!converter->convert(nativeFormat(fourcc, size, bytes.size()),
                                reinterpret_cast<const uchar *>(bytes.constData()),
                                std::size_t(bytes.size()), &working))
            return QImage();
        renderForDisplay(working, rescaledTo(settings, FrameConverter::sampleBits(fourcc)), &out);
        return out;
    }
};

} // namespace

class VideoFormatsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void colourBars_data();
    void colourBars();
    void faintRampStretched_data();
    void faintRampStretched();
    void shortFrameRefused();
    void cameraWithDeepFormatsOnly();
    void multiPlanarCamera_data();
    void multiPlanarCamera();
};

void VideoFormatsTest::colourBars_data()
{
    QTest::addColumn<quint32>("fourcc");
    QTest::addColumn<bool>("mono");
    QTest::addColumn<int>("tolerance");
    const auto row = [](const char *name, quint32 fourcc, bool mono, int tolerance) {
        QTest::newRow(name) << fourcc << mono << tolerance;
    };
    row("YUYV", V4L2_PIX_FMT_YUYV, false, 6);
    row("UYVY", V4L2_PIX_FMT_UYVY, false, 6);
    row("YVYU", V4L2_PIX_FMT_YVYU, false, 6);
    row("VYUY", V4L2_PIX_FMT_VYUY, false, 6);
    row("NV12", V4L2_PIX_FMT_NV12, false, 6);
    row("NV21", V4L2_PIX_FMT_NV21, false, 6);
    row("NV16", V4L2_PIX_FMT_NV16, false, 6);
    row("NV61", V4L2_PIX_FMT_NV61, false, 6);
    row("YU12", V4L2_PIX_FMT_YUV420, false, 6);
    row("YV12", V4L2_PIX_FMT_YVU420, false, 6);
    row("422P", V4L2_PIX_FMT_YUV422P, false, 6);
    row("RGB3", V4L2_PIX_FMT_RGB24, false, 0);
    row("BGR3", V4L2_PIX_FMT_BGR24, false, 0);
    row("RGBP", V4L2_PIX_FMT_RGB565, false, 8);
    row("XR24", V4L2_PIX_FMT_XBGR32, false, 0);
    row("BX24", V4L2_PIX_FMT_XRGB32, false, 0);
    row("AB24", V4L2_PIX_FMT_RGBA32, false, 0);
    row("RX24", V4L2_PIX_FMT_BGRX32, false, 0);
    row("MJPG", V4L2_PIX_FMT_MJPEG, false, 24);
    row("GREY", V4L2_PIX_FMT_GREY, true, 1);
    row("Y10", V4L2_PIX_FMT_Y10, true, 1);
    row("Y12", V4L2_PIX_FMT_Y12, true, 1);
    row("Y16", V4L2_PIX_FMT_Y16, true, 1);
    row("Y16 big-endian", V4L2_PIX_FMT_Y16_BE, true, 1);
    row("RGGB 8", V4L2_PIX_FMT_SRGGB8, false, 2);
    row("BGGR 8", V4L2_PIX_FMT_SBGGR8, false, 2);
    row("RGGB 10", V4L2_PIX_FMT_SRGGB10, false, 1);
    row("GRBG 10", V4L2_PIX_FMT_SGRBG10, false, 1);
    row("GBRG 12", V4L2_PIX_FMT_SGBRG12, false, 1);
    row("BGGR 12", V4L2_PIX_FMT_SBGGR12, false, 1);
    row("GRBG 16", V4L2_PIX_FMT_SGRBG16, false, 1);
    row("BGGR 16", V4L2_PIX_FMT_SBGGR16, false, 1);
}

void VideoFormatsTest::colourBars()
{
    QFETCH(quint32, fourcc);
    QFETCH(bool, mono);
    QFETCH(int, tolerance);
    QVERIFY(FrameConverter::canConvert(fourcc));
    Converter rig;
    const QImage shown = rig.shown(fourcc, barsSize, encodeFrame(barsPicture(), fourcc));
    QVERIFY2(!shown.isNull(), qPrintable(rig.converter->errorText()));
    QCOMPARE(shown.size(), barsSize);
    // Every pixel away from a bar's edge, where interpolation may mix two bars.
    for (int x = 0; x < shown.width(); ++x) {
        if (x % barWidth < 2 || x % barWidth > barWidth - 3)
            continue;
        const QColor bar = barColours[x / barWidth];
        const int grey = int(std::lround(monoLevel(bar.rgb())));
        const QColor expected = mono ? QColor(grey, grey, grey) : bar;
        for (int y = 2; y < shown.height() - 2; ++y) {
            const QColor got(shown.pixel(x, y));
            const int off = std::max({std::abs(got.red() - expected.red()),
                                      std::abs(got.green() - expected.green()),
                                      std::abs(got.blue() - expected.blue())});
            QVERIFY2(off <= tolerance, qPrintable(QStringLiteral("(%1, %2) is %3, not %4")
                                                      .arg(x)
                                                      .arg(y)
                                                      .arg(got.name(), expected.name())));
        }
    }
}

void VideoFormatsTest::faintRampStretched_data()
{
    QTest::addColumn<quint32>("fourcc");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("bigEndian");
    QTest::newRow("Y10") << quint32(V4L2_PIX_FMT_Y10) << 10 << false;
    QTest::newRow("Y12") << quint32(V4L2_PIX_FMT_Y12) << 12 << false;
    QTest::newRow("Y16") << quint32(V4L2_PIX_FMT_Y16) << 16 << false;
    QTest::newRow("Y16 big-endian") << quint32(V4L2_PIX_FMT_Y16_BE) << 16 << true;
}

// A sky of a quarter of full scale with a ramp of 16 levels in its low bits: invisible as shot,
// spread over the whole grey scale once the black and white points frame it.
void VideoFormatsTest::faintRampStretched()
{
    QFETCH(quint32, fourcc);
    QFETCH(int, bits);
    QFETCH(bool, bigEndian);
    const int sky = (1 << bits) / 4;
    const QSize size(16, 2);
    QByteArray frame;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const char low = char((sky + x) & 0xff), high = char((sky + x) >> 8);
            frame.append(bigEndian ? high : low).append(bigEndian ? low : high);
        }
    }
    Converter rig;
    const QImage plain = rig.shown(fourcc, size, frame);
    QVERIFY(!plain.isNull());
    QVERIFY(qAbs(qGray(plain.pixel(0, 0)) - qGray(plain.pixel(15, 0))) <= 4);
    DisplaySettings framed;
    framed.sampleBits = bits;
    framed.blackPoint = sky;
    framed.whitePoint = sky + 15;
    const QImage stretched = rig.shown(fourcc, size, frame, framed);
    for (int x = 0; x < size.width(); ++x)
        QCOMPARE(qGray(stretched.pixel(x, 1)), x * 17);
}

void VideoFormatsTest::shortFrameRefused()
{
    Converter rig;
    for (quint32 fourcc :
         {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_NV12, V4L2_PIX_FMT_Y12, V4L2_PIX_FMT_SBGGR16}) {
        QByteArray frame = encodeFrame(barsPicture(), fourcc);
        frame.chop(1);
        QVERIFY(rig.shown(fourcc, barsSize, frame).isNull());
        QVERIFY(!rig.converter->errorText().isEmpty());
    }
}

// A guide camera that sends 12-bit mono and 12-bit Bayer only: it connects, lists both, and
// its picture shows.
void VideoFormatsTest::cameraWithDeepFormatsOnly()
{
    CaptureRig rig;
    FakeCameraConfig config;
    const QList<FrameInterval> rates = {{1, 10}};
    config.formats = {{V4L2_PIX_FMT_Y12, "12-bit Greyscale", {{64, 48}}, rates},
                      {V4L2_PIX_FMT_SRGGB12, "12-bit Bayer RGRG/GBGB", {{64, 48}}, rates}};
    config.fourcc = V4L2_PIX_FMT_Y12;
    config.size = QSize(64, 48);
    rig.fake->addCamera(0, config);
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    auto *sub = dynamic_cast<CaptureSubWindow *>(window);
    QList<quint32> listed;
    for (const PixelFormatChoice &choice : sub->device()->pixelFormats())
        listed << choice.pixelFormat;
    QCOMPARE(listed, (QList<quint32>{V4L2_PIX_FMT_Y12, V4L2_PIX_FMT_SRGGB12}));
    QCOMPARE(sub->device()->sampleBits(), 12);
    window->setPreview(true);
    QVERIFY(rig.fake->produceFrame(0));
    const auto *picture = dynamic_cast<QWidget *>(window)->findChild<PreviewWidget *>();
    QTRY_VERIFY(!picture->frame().isNull());
    // The fake camera's picture starts with a white bar.
    QVERIFY(qGray(picture->frame().pixel(2, 2)) >= 254);
}

void VideoFormatsTest::multiPlanarCamera_data()
{
    QTest::addColumn<quint32>("fourcc");
    QTest::newRow("one plane") << quint32(V4L2_PIX_FMT_YUYV);
    QTest::newRow("luma and chroma planes") << quint32(V4L2_PIX_FMT_NV12M);
    QTest::newRow("three planes") << quint32(V4L2_PIX_FMT_YUV420M);
}

// A camera of the multi-planar interface only lists its formats and streams its colour bars,
// also when a frame comes in several planes.
void VideoFormatsTest::multiPlanarCamera()
{
    QFETCH(quint32, fourcc);
    CaptureRig rig;
    FakeCameraConfig config;
    config.multiPlanar = true;
    const QList<FrameInterval> rates = {{1, 30}};
    config.formats = {{V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", {{64, 48}}, rates},
                      {V4L2_PIX_FMT_NV12M, "Y/UV 4:2:0 (N-C)", {{64, 48}}, rates},
                      {V4L2_PIX_FMT_YUV420M, "Planar YUV 4:2:0 (N-C)", {{64, 48}}, rates}};
    config.fourcc = fourcc;
    config.size = QSize(64, 48);
    rig.fake->addCamera(0, config);
    QCOMPARE(rig.layer->drivers().size(), std::size_t(1));
    CaptureWindow *window = rig.createWindow();
    QVERIFY(window->driverConnect(0));
    auto *sub = dynamic_cast<CaptureSubWindow *>(window);
    QCOMPARE(sub->device()->pixelFormats().size(), 3);
    QCOMPARE(sub->device()->format().pixelFormat, fourcc);
    window->setPreview(true);
    QVERIFY(rig.fake->produceFrame(0));
    const auto *picture = dynamic_cast<QWidget *>(window)->findChild<PreviewWidget *>();
    QTRY_VERIFY(!picture->frame().isNull());
    for (int bar = 0; bar < 8; ++bar) {
        const QColor got(picture->frame().pixel(bar * 8 + 4, 4));
        const QColor expected = barColours[bar];
        QVERIFY2(std::abs(got.red() - expected.red()) <= 8
                     && std::abs(got.green() - expected.green()) <= 8
                     && std::abs(got.blue() - expected.blue()) <= 8,
                 qPrintable(got.name()));
    }
    QVERIFY(!rig.errors.size());
}

QTEST_MAIN(VideoFormatsTest)
#include "video_formats.moc"
