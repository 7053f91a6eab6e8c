// SPDX-License-Identifier: GPL-3.0-or-later
// The cost of one previewed frame per camera format at 1280 x 720 and 1920 x 1080: conversion
// to the working image and the display render, as the preview opens ("plain") and with a guide
// stretch ("display": flip, black and white points, gamma), beside a plain copy of a YUYV frame
// ("memcpy") and of a shown RGB32 picture ("memcpy32"); "night" is the plain path with the
// picture drawn in red, as the night look shows it.
// "libv4lconvert" and "libyuv" convert the same frames each way alone; "paint" draws a shown
// frame into a window of its size.
#include "video_support/fakev4l2.h"

#include "video/capture/displaysettings.h"
#include "video/drivers/v4l2/directconvert.h"
#include "video/drivers/v4l2/frameconverter.h"

#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>
#include <libyuv.h>

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
        bytes = encodeFrame(fakeTestPicture(size), fourcc);
        native.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        native.fmt.pix.width = size.width();
        native.fmt.pix.height = size.height();
        native.fmt.pix.pixelformat = fourcc;
        native.fmt.pix.field = V4L2_FIELD_NONE;
        const bool packed = fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_NV12
                            || fourcc == V4L2_PIX_FMT_YUV420;
        native.fmt.pix.bytesperline = packed ? 0 : bytes.size() / size.height();
        native.fmt.pix.sizeimage = bytes.size();
    }
    ~Frame()
    {
        converter.reset();
        fake.close(fd);
    }
    const uchar *data() const { return reinterpret_cast<const uchar *>(bytes.constData()); }
};

DisplaySettings guideStretch(int sampleBits)
{
    DisplaySettings settings;
    settings.flip = true;
    settings.blackPoint = 16;
    settings.whitePoint = 180;
    settings.gamma = 1.8;
    return rescaledTo(settings, sampleBits);
}

// A copy of `bytesPerPixel` bytes a pixel: 2 as a YUYV frame, 4 as a shown RGB32 picture.
void plainCopy(benchmark::State &state, QSize size, int bytesPerPixel)
{
    const QByteArray source(size.width() * size.height() * bytesPerPixel, 'x');
    QByteArray target(source.size(), Qt::Uninitialized);
    for (auto _ : state) {
        std::memcpy(target.data(), source.constData(), source.size());
        benchmark::DoNotOptimize(target.data());
    }
}

enum class Look { Plain, Display, Night };

void framePath(benchmark::State &state, quint32 fourcc, QSize size, Look look)
{
    Frame frame(fourcc, size);
    QImage working, shown;
    const int bits = FrameConverter::sampleBits(fourcc);
    const DisplaySettings settings =
        look == Look::Display ? guideStretch(bits) : rescaledTo({}, bits);
    const DisplayView view{settings, {}, false, look == Look::Night};
    for (auto _ : state) {
        if (!frame.converter->convert(frame.native, frame.data(), frame.bytes.size(), &working)) {
            state.SkipWithError("no conversion");
            return;
        }
        renderView(working, bits, view, &shown);
        benchmark::DoNotOptimize(shown.constBits());
    }
}

void libv4lconvert(benchmark::State &state, quint32 fourcc, QSize size)
{
    Frame frame(fourcc, size);
    QImage rgb;
    for (auto _ : state) {
        if (!frame.converter->viaLibv4lconvert(frame.native, frame.data(), frame.bytes.size(),
                                               &rgb)) {
            state.SkipWithError("libv4lconvert cannot");
            return;
        }
    }
}

void libyuv(benchmark::State &state, quint32 fourcc, QSize size)
{
    Frame frame(fourcc, size);
    QImage argb(size, QImage::Format_RGB32);
    for (auto _ : state) {
        if (fourcc == V4L2_PIX_FMT_MJPEG) {
            libyuv::MJPGToARGB(frame.data(), frame.bytes.size(), argb.bits(), argb.bytesPerLine(),
                               size.width(), size.height(), size.width(), size.height());
            continue;
        }
        direct::convert(fourcc, size, frame.native.fmt.pix.bytesperline, frame.data(),
                        frame.bytes.size(), &argb);
    }
}

void paint(benchmark::State &state, QSize size)
{
    QImage shown;
    renderForDisplay(fakeTestPicture(size), DisplaySettings(), &shown);
    QImage window(size, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&window);
        painter.drawImage(window.rect(), shown);
    }
}

struct Named {
    const char *name;
    quint32 fourcc;
};

const Named pathFormats[] = {
    {"YUYV", V4L2_PIX_FMT_YUYV},    {"UYVY", V4L2_PIX_FMT_UYVY},      {"NV12", V4L2_PIX_FMT_NV12},
    {"YU12", V4L2_PIX_FMT_YUV420},  {"RGB3", V4L2_PIX_FMT_RGB24},     {"XR24", V4L2_PIX_FMT_XBGR32},
    {"GREY", V4L2_PIX_FMT_GREY},    {"Y12", V4L2_PIX_FMT_Y12},        {"Y16", V4L2_PIX_FMT_Y16},
    {"RGGB8", V4L2_PIX_FMT_SRGGB8}, {"RGGB12", V4L2_PIX_FMT_SRGGB12}, {"MJPG", V4L2_PIX_FMT_MJPEG},
};
// The formats both libraries convert.
const Named sharedFormats[] = {
    {"YUYV", V4L2_PIX_FMT_YUYV},   {"UYVY", V4L2_PIX_FMT_UYVY},  {"NV12", V4L2_PIX_FMT_NV12},
    {"YU12", V4L2_PIX_FMT_YUV420}, {"RGB3", V4L2_PIX_FMT_RGB24}, {"MJPG", V4L2_PIX_FMT_MJPEG},
};

void registerAll()
{
    const std::pair<const char *, QSize> sizes[] = {{"720p", QSize(1280, 720)},
                                                    {"1080p", QSize(1920, 1080)}};
    for (const auto &[sizeName, size] : sizes) {
        const std::string tail = std::string("/") + sizeName;
        benchmark::RegisterBenchmark(("memcpy" + tail).c_str(), plainCopy, size, 2);
        benchmark::RegisterBenchmark(("memcpy32" + tail).c_str(), plainCopy, size, 4);
        for (const Named &f : pathFormats) {
            const std::pair<Look, const char *> looks[] = {
                {Look::Plain, "/plain"}, {Look::Display, "/display"}, {Look::Night, "/night"}};
            for (const auto &[look, lookName] : looks)
                benchmark::RegisterBenchmark(
                    ("framePath/" + std::string(f.name) + tail + lookName).c_str(), framePath,
                    f.fourcc, size, look);
        }
        for (const Named &f : sharedFormats) {
            benchmark::RegisterBenchmark(("libv4lconvert/" + std::string(f.name) + tail).c_str(),
                                         libv4lconvert, f.fourcc, size);
            benchmark::RegisterBenchmark(("libyuv/" + std::string(f.name) + tail).c_str(), libyuv,
                                         f.fourcc, size);
        }
        benchmark::RegisterBenchmark(("paint" + tail).c_str(), paint, size);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // the JPEG writer of the test picture needs it
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::SetDefaultTimeUnit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
