// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/syntheticframe.h"
#include "video/capture/capturedevice.h"

#include <cstring>

namespace voruna::test {

inline constexpr QSize frameSize(320, 240);

// A 16-bit grey camera whose frames the test draws: stars and hot pixels at will, sent one
// at a time.
class StarCamera final : public CaptureDevice {
public:
    SyntheticFrame scene{frameSize.width(), frameSize.height(), 16};
    bool colour = false;
    // The exposure the camera tells, which the window may change; every one it was set to.
    double exposure = 2.0;
    QList<double> exposuresSet;

    bool hasSourceDialog() const override { return false; }
    bool hasFormatDialog() const override { return false; }
    bool hasDisplayDialog() const override { return false; }
    QList<PixelFormatChoice> pixelFormats() const override { return {}; }
    QList<QSize> frameSizes(quint32) const override { return {frameSize}; }
    QList<FrameInterval> frameIntervals(quint32, QSize) const override { return {}; }
    StreamFormat format() const override { return {0, frameSize, {}}; }
    bool setFormat(const StreamFormat &) override { return false; }
    QList<DeviceControl> controls() const override { return {}; }
    bool setControl(quint32, qint32) override { return false; }
    bool start() override { return true; }
    bool isLost() const override { return m_lost; }
    int sampleBits() const override { return 16; }
    double arcsecondsPerPixel() const override { return 2.0; }
    CameraFacts cameraFacts() const override
    {
        return {.name = QStringLiteral("Star camera"), .exposureSeconds = exposure};
    }
    bool canSetExposure() const override { return exposure > 0.0; }
    bool setExposureSeconds(double seconds) override
    {
        if (seconds <= 0.0 || seconds > 60.0)
            return false;
        exposure = seconds;
        exposuresSet << seconds;
        return true;
    }
    bool takeFrame(ShownFrame *shown) override
    {
        const FrameView view = scene.view();
        QImage grey(frameSize, QImage::Format_Grayscale16);
        for (int y = 0; y < view.height; ++y)
            std::memcpy(grey.scanLine(y), static_cast<const uchar *>(view.pixels) + y * view.stride,
                        std::size_t(view.width) * 2);
        shown->frame = colour ? grey.convertToFormat(QImage::Format_RGBX64) : grey;
        shown->sampleBits = 16;
        shown->picture = QImage();
        return true;
    }
    // The camera goes away, as a driver reports it.
    void fail()
    {
        m_lost = true;
        Q_EMIT failed(1, QStringLiteral("The camera was unplugged"));
    }
    // Exposes the scene and says a frame waits.
    void send()
    {
        scene.expose({.sky = 200, .readNoise = 5, .bias = 1000, .seed = ++m_seed});
        Q_EMIT frameArrived();
    }

private:
    std::uint64_t m_seed = 0;
    bool m_lost = false;
};

class StarSource final : public DriverSource {
public:
    StarCamera *camera = nullptr;
    std::vector<DriverDescription> drivers() override
    {
        return {{QStringLiteral("Star camera"), QStringLiteral("test"), {.key = "star"}}};
    }
    std::unique_ptr<CaptureDevice> open(const QString &, QString *) override
    {
        auto device = std::make_unique<StarCamera>();
        camera = device.get();
        return device;
    }
};

} // namespace voruna::test
