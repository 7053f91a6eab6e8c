// The cost of one previewed frame: conversion to RGB, display stretch, painting into the
// capture window, beside a plain copy of the same frame. "plain" is the display as it opens
// (no mirror, no stretch); "stretched"/"guide" flips and stretches with a gamma.
#include "video_support/fakev4l2.h"

#include "video/displaysettings.h"
#include "video/v4l2/frameconverter.h"

#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstring>
#include <fcntl.h>

using namespace voruna;
using namespace voruna::test;

namespace {

struct Frame {
    FakeV4l2 fake;
    int fd = -1;
    v4l2_format native{};
    QByteArray bytes;
    std::unique_ptr<FrameConverter> converter;

    Frame(quint32 fourcc, QSize size)
    {
        fake.addCamera(0, webcamConfig());
        fd = fake.open("/dev/video0", O_RDWR);
        converter = std::make_unique<FrameConverter>(fake, fd);
        native.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        native.fmt.pix.width = size.width();
        native.fmt.pix.height = size.height();
        native.fmt.pix.pixelformat = fourcc;
        native.fmt.pix.field = V4L2_FIELD_NONE;
        native.fmt.pix.bytesperline = fourcc == V4L2_PIX_FMT_YUYV ? size.width() * 2 : 0;
        native.fmt.pix.sizeimage = size.width() * size.height() * 2;
        const QImage picture = fakeTestPicture(size);
        bytes = fourcc == V4L2_PIX_FMT_YUYV ? toYuyv(picture) : toMjpeg(picture);
    }
    ~Frame()
    {
        converter.reset();
        fake.close(fd);
    }
};

DisplaySettings guideStretch()
{
    DisplaySettings settings;
    settings.flip = true;
    settings.blackPoint = 16;
    settings.whitePoint = 180;
    settings.gamma = 1.8;
    return settings;
}

void plainCopy(benchmark::State &state, QSize size)
{
    const QByteArray source(size.width() * size.height() * 2, 'x');
    QByteArray target(source.size(), Qt::Uninitialized);
    for (auto _ : state) {
        std::memcpy(target.data(), source.constData(), source.size());
        benchmark::DoNotOptimize(target.data());
    }
}

void convert(benchmark::State &state, quint32 fourcc, QSize size)
{
    Frame frame(fourcc, size);
    QImage rgb;
    for (auto _ : state) {
        const bool ok = frame.converter->toRgb(frame.native,
            reinterpret_cast<const unsigned char *>(frame.bytes.constData()), frame.bytes.size(), &rgb);
        benchmark::DoNotOptimize(ok);
    }
}

void stretch(benchmark::State &state, QSize size, bool plain)
{
    const QImage rgb = fakeTestPicture(size);
    QImage shown;
    const DisplaySettings settings = plain ? DisplaySettings() : guideStretch();
    for (auto _ : state) {
        renderForDisplay(rgb, settings, &shown);
        benchmark::DoNotOptimize(shown.constBits());
    }
}

// Painting into a window the size of the image (after a fit) and into a smaller one.
void paint(benchmark::State &state, QSize size, double windowScale)
{
    QImage shown;
    renderForDisplay(fakeTestPicture(size), DisplaySettings(), &shown);
    QImage window((QSizeF(size) * windowScale).toSize(), QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&window);
        painter.drawImage(window.rect(), shown);
    }
}

void wholePath(benchmark::State &state, quint32 fourcc, QSize size, bool plain)
{
    Frame frame(fourcc, size);
    QImage rgb, shown;
    QImage window(size, QImage::Format_RGB32);
    const DisplaySettings settings = plain ? DisplaySettings() : guideStretch();
    for (auto _ : state) {
        frame.converter->toRgb(frame.native,
            reinterpret_cast<const unsigned char *>(frame.bytes.constData()), frame.bytes.size(), &rgb);
        renderForDisplay(rgb, settings, &shown);
        QPainter painter(&window);
        painter.drawImage(window.rect(), shown);
    }
}

const QSize vga(640, 480);
const QSize hd(1280, 720);

} // namespace

BENCHMARK_CAPTURE(plainCopy, vga, vga)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(plainCopy, hd, hd)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(convert, yuyv_vga, V4L2_PIX_FMT_YUYV, vga)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(convert, yuyv_hd, V4L2_PIX_FMT_YUYV, hd)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(convert, mjpeg_vga, V4L2_PIX_FMT_MJPEG, vga)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(convert, mjpeg_hd, V4L2_PIX_FMT_MJPEG, hd)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(stretch, plain_vga, vga, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(stretch, plain_hd, hd, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(stretch, guide_vga, vga, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(stretch, guide_hd, hd, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(paint, vga_fitted, vga, 1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(paint, hd_fitted, hd, 1.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(paint, hd_shrunk, hd, 0.6)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(wholePath, yuyv_vga_plain, V4L2_PIX_FMT_YUYV, vga, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(wholePath, yuyv_vga_stretched, V4L2_PIX_FMT_YUYV, vga, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(wholePath, yuyv_hd_plain, V4L2_PIX_FMT_YUYV, hd, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(wholePath, yuyv_hd_stretched, V4L2_PIX_FMT_YUYV, hd, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(wholePath, mjpeg_vga_plain, V4L2_PIX_FMT_MJPEG, vga, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(wholePath, mjpeg_vga_stretched, V4L2_PIX_FMT_MJPEG, vga, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(wholePath, mjpeg_hd_plain, V4L2_PIX_FMT_MJPEG, hd, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(wholePath, mjpeg_hd_stretched, V4L2_PIX_FMT_MJPEG, hd, false)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // the JPEG writer of the test picture needs it
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
