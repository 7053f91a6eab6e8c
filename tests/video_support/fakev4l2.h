// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"
#include "video/drivers/v4l2/v4l2syscalls.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMap>
#include <QSize>

#include <linux/videodev2.h>

#include <cerrno>

#include <map>
#include <memory>
#include <vector>

namespace voruna::test {

// One pixel format a fake camera offers, with its sizes and rates.
struct FakeFormat {
    quint32 fourcc = V4L2_PIX_FMT_YUYV;
    QByteArray description;
    QList<QSize> sizes;
    QList<FrameInterval> intervals;
};

struct FakeControl {
    v4l2_queryctrl query{};
    QList<QByteArray> menu; // entry i for value minimum + i; empty names are skipped
    qint32 value = 0;
};

// What a scripted camera looks like.
struct FakeCameraConfig {
    QByteArray card = "Fake Camera";
    QByteArray driver = "fakecam";
    quint32 version = 0x060100;
    bool canCapture = true;
    int openError = 0; // errno of open(), 0 = opens
    bool queryCapFails = false;
    QList<FakeFormat> formats;
    QList<FakeControl> controls;
    // Speaks the multi-planar interface only, as many SoC cameras do.
    bool multiPlanar = false;
    quint32 fourcc = V4L2_PIX_FMT_YUYV;
    QSize size{320, 240};
    FrameInterval interval{1, 30};
    // A start that goes wrong: REQBUFS grants at most `maxBuffers`, and `failRequest`
    // (VIDIOC_QUERYBUF, VIDIOC_QBUF, VIDIOC_STREAMON, or fakeMmap for mapping a buffer) fails
    // with `failError` for buffer `failFrom` and those after it.
    quint32 maxBuffers = 8;
    unsigned long failRequest = 0;
    quint32 failFrom = 0;
    int failError = EIO;
};

// Stands for mmap() in FakeCameraConfig::failRequest.
constexpr unsigned long fakeMmap = 1;

// A webcam: YUYV 160x120..640x480 and MJPEG up to 1280x720, exposure, gain, brightness,
// auto exposure and a flip switch.
FakeCameraConfig webcamConfig(const QByteArray &card = "Fake Camera");

// The picture a fake camera shows: colour bars over a grey ramp with one bright star.
QImage fakeTestPicture(QSize size);
QByteArray toYuyv(const QImage &picture);
QByteArray toMjpeg(const QImage &picture);
// The picture as a camera sends it in `fourcc` (packed rows, planes one after another); empty
// for a format this kit cannot make.
QByteArray encodeFrame(const QImage &picture, quint32 fourcc);
// The full-range luminance (0..255) a mono camera would see of `colour`.
double monoLevel(QRgb colour);

// A scripted kernel with cameras on /dev/videoN. Descriptors are eventfds, readable while a
// filled buffer waits.
class FakeV4l2 final : public V4l2Syscalls {
public:
    FakeV4l2();
    ~FakeV4l2() override;

    void addCamera(int node, FakeCameraConfig config);
    // The camera goes away: its node vanishes, open descriptors fail with ENODEV and wake up.
    void unplug(int node);
    // Fills the oldest queued buffer of a streaming camera with its picture; false when the
    // camera is not streaming or has no queued buffer.
    bool produceFrame(int node);
    FakeCameraConfig *config(int node);
    QMap<quint32, qint32> controlValues(int node) const;

    int openDescriptors() const { return int(m_files.size()); }
    int mappedBuffers() const { return m_mappings; }
    int framesProduced() const { return m_frames; }
    // How often the nodes were listed.
    int scans() const { return m_scans; }

    QStringList nodes() override;
    int open(const char *path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
    void *mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override;
    int munmap(void *address, std::size_t length) override;

private:
    struct Camera;
    int control(Camera &camera, unsigned long request, void *arg);
    int formats(Camera &camera, unsigned long request, void *arg);
    int enumerate(Camera &camera, unsigned long request, void *arg);
    int buffer(Camera &camera, int fd, unsigned long request, void *arg);
    int streaming(Camera &camera, int fd, unsigned long request, void *arg);
    Camera *cameraOf(int fd);
    void wake(int fd, bool readable);

    std::map<int, std::shared_ptr<Camera>> m_cameras;
    std::map<int, std::shared_ptr<Camera>> m_files;
    // Also the unplugged ones: their buffers stay until unmapped.
    std::vector<std::shared_ptr<Camera>> m_everyCamera;
    int m_mappings = 0;
    int m_frames = 0;
    int m_scans = 0;
};

} // namespace voruna::test

namespace voruna {

// A capture layer of the V4L2 cameras alone, reaching the kernel through `syscalls` (a test
// hands in the scripted device). It joins the driver to the windows' layer, as main() does, so
// it lives here and not in the driver, which sees no window.
std::unique_ptr<CaptureLayer> makeV4l2CaptureLayer(std::shared_ptr<V4l2Syscalls> syscalls);

} // namespace voruna
