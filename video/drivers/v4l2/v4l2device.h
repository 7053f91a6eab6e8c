// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"
#include "video/drivers/v4l2/frameconverter.h"
#include "video/drivers/v4l2/frameworker.h"
#include "video/drivers/v4l2/v4l2syscalls.h"

#include <linux/videodev2.h>

#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;

namespace voruna {

// Whether the node behind `fd` captures video (single- or multi-planar) with memory-mapped
// streaming; fills `cap`.
bool queryCaptureCapability(V4l2Syscalls &sys, int fd, v4l2_capability *cap);
// Whether a node of capabilities `cap` captures through the multi-planar interface only.
bool capturesMultiPlanar(const v4l2_capability &cap);

// A V4L2 camera, streaming through memory-mapped buffers; every format it sends that the
// frame converter knows can be shown.
class V4l2Device final : public CaptureDevice {
    Q_OBJECT
public:
    // Opens the node at `path`; nullptr with the reason in `error` when it cannot be opened,
    // cannot capture or has no format that converts to RGB.
    static std::unique_ptr<V4l2Device> open(std::shared_ptr<V4l2Syscalls> sys, const QString &path,
                                            QString *error);
    ~V4l2Device() override;

    bool hasSourceDialog() const override { return !controls().isEmpty(); }
    bool hasFormatDialog() const override { return true; }
    bool hasDisplayDialog() const override { return true; }

    QList<PixelFormatChoice> pixelFormats() const override;
    QList<QSize> frameSizes(quint32 pixelFormat) const override;
    QList<FrameInterval> frameIntervals(quint32 pixelFormat, QSize size) const override;
    StreamFormat format() const override;
    bool setFormat(const StreamFormat &format) override;

    QList<DeviceControl> controls() const override;
    bool setControl(quint32 id, qint32 value) override;
    // Through V4L2_CID_EXPOSURE_ABSOLUTE (100 us units), rounded to its units; false when the
    // device has no such control, it is inactive or read-only, or the length is outside it.
    bool canSetExposure() const override;
    bool setExposureSeconds(double seconds) override;

    bool start() override;
    QString startError() const override { return m_startError; }
    bool isLost() const override { return m_lost; }
    bool takeFrame(ShownFrame *shown) override;
    void setDisplayView(const DisplayView &view) override { m_worker->setView(view); }
    int sampleBits() const override
    {
        return FrameConverter::sampleBits(m_native.fmt.pix.pixelformat);
    }
    // The card's name; the exposure from exposure_absolute (100 µs units) and the gain, when the
    // device has them. V4L2 tells nothing of the sensor's pixels.
    CameraFacts cameraFacts() const override;
    // The card's name, as the node tells it.
    QString card() const { return m_card; }

private:
    V4l2Device(std::shared_ptr<V4l2Syscalls> sys, UniqueFd fd, const QString &card,
               bool multiPlanar);
    // VIDIOC_G_FMT, VIDIOC_S_FMT or VIDIOC_TRY_FMT in the device's own buffer type. `format` is
    // described single-planar either way (the planes' sizes summed), as the converter reads it.
    int formatCall(unsigned long request, v4l2_format *format);
    // A buffer request for `index` in the device's buffer type, with room for its planes.
    v4l2_buffer bufferRequest(__u32 index, v4l2_plane *planes) const;
    bool chooseFirstFormat();
    // The current format if it can be shown, else the first listed one that can.
    bool chooseListedFormat(QSize size, v4l2_format *native);
    void readInterval();
    void stop();
    // stop() with the system's reason for the failed start kept for startError().
    bool startFailed(int errorNumber);
    void onReadable();
    bool requeue(int index);
    // Hands the held frame to the worker and its buffer back to the driver; false when that
    // failed the device.
    bool convertHeld();
    void fail(int errorNumber);
    DeviceControl describeControl(const v4l2_queryctrl &query) const;
    // The value of control `id`; nullopt when the device has none, or it is not active now.
    std::optional<qint32> controlValue(quint32 id) const;

    std::shared_ptr<V4l2Syscalls> m_sys;
    UniqueFd m_fd;
    std::unique_ptr<FrameConverter> m_converter;
    // Converts the frames away from the windows' thread; it uses m_converter, so it is
    // declared after it and ends before it.
    std::unique_ptr<FrameWorker> m_worker;
    // Per buffer its planes' mappings (one unless the format is multi-planar).
    std::vector<std::vector<UniqueMapping>> m_buffers;
    // The newest frame copied out of its buffer (its planes joined into one), so that the
    // buffer goes back to the driver while the frame is converted.
    std::vector<unsigned char> m_joined;
    QSocketNotifier *m_notifier = nullptr;
    QString m_card;
    QString m_startError;
    v4l2_format m_native{};
    FrameInterval m_interval;
    int m_held = -1;
    std::vector<quint32> m_heldBytes; // per plane
    // Per plane: where the picture starts in it (a multi-planar driver may put a header first).
    std::vector<quint32> m_heldOffset;
    bool m_multiPlanar = false;
    __u32 m_bufferType = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    bool m_streaming = false;
    // The driver holds buffers of this descriptor (REQBUFS granted some).
    bool m_requested = false;
    bool m_lost = false;
};

// The V4L2 cameras: the /dev/video* nodes that capture video, in node-number order.
// A camera's key is its node and its card's name: a camera found on that node later that is
// another one is not opened in its stead.
class V4l2DriverSource final : public DriverSource {
public:
    explicit V4l2DriverSource(std::shared_ptr<V4l2Syscalls> sys) : m_sys(std::move(sys)) {}
    std::vector<DriverDescription> drivers() override;
    std::unique_ptr<CaptureDevice> open(const QString &key, QString *error) override;

private:
    std::shared_ptr<V4l2Syscalls> m_sys;
};

} // namespace voruna
