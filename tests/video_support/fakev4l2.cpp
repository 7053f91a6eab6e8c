// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakev4l2.h"
#include "fakecamera.h"

#include "video/drivers/v4l2/v4l2device.h"

#include <QBuffer>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

namespace voruna::test {

namespace {

int failWith(int error)
{
    errno = error;
    return -1;
}

FakeControl makeControl(quint32 id, quint32 type, const char *name, qint32 minimum, qint32 maximum,
                        qint32 defaultValue)
{
    FakeControl control;
    control.query.id = id;
    control.query.type = type;
    std::strncpy(reinterpret_cast<char *>(control.query.name), name, sizeof control.query.name - 1);
    control.query.minimum = minimum;
    control.query.maximum = maximum;
    control.query.step = 1;
    control.query.default_value = defaultValue;
    control.value = defaultValue;
    return control;
}

void copyText(__u8 *target, std::size_t size, const QByteArray &text)
{
    std::memset(target, 0, size);
    std::memcpy(target, text.constData(), std::min<std::size_t>(text.size(), size - 1));
}

} // namespace

FakeCameraConfig webcamConfig(const QByteArray &card)
{
    FakeCameraConfig config;
    config.card = card;
    const QList<FrameInterval> rates = {{1, 30}, {1, 15}};
    config.formats = {
        {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", {{160, 120}, {320, 240}, {640, 480}}, rates},
        {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{320, 240}, {640, 480}, {1280, 720}}, rates},
    };
    config.controls = {
        makeControl(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0),
        makeControl(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64, 0),
        makeControl(V4L2_CID_HFLIP, V4L2_CTRL_TYPE_BOOLEAN, "Horizontal Flip", 0, 1, 0),
        makeControl(V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 100, 32),
        makeControl(V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 3),
        makeControl(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute",
                    3, 2047, 156),
    };
    config.controls[4].menu = {"", "Manual Mode", "", "Aperture Priority Mode"};
    config.controls[4].query.flags |= V4L2_CTRL_FLAG_UPDATE; // switches exposure time on and off
    return config;
}

QImage fakeTestPicture(QSize size)
{
    QImage picture(size, QImage::Format_RGB888);
    QPainter painter(&picture);
    const QColor bars[] = {Qt::white,   Qt::yellow, Qt::cyan, Qt::green,
                           Qt::magenta, Qt::red,    Qt::blue, Qt::black};
    const int barHeight = size.height() * 2 / 3;
    for (int i = 0; i < 8; ++i) {
        const int left = size.width() * i / 8;
        painter.fillRect(left, 0, size.width() * (i + 1) / 8 - left, barHeight, bars[i]);
    }
    for (int x = 0; x < size.width(); ++x) {
        const int grey = 255 * x / std::max(1, size.width() - 1);
        painter.fillRect(x, barHeight, 1, size.height() - barHeight, QColor(grey, grey, grey));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const int radius = std::max(2, size.width() / 80);
    painter.drawEllipse(QPoint(size.width() * 5 / 16, barHeight * 5 / 6), radius, radius);
    return picture;
}

QByteArray toYuyv(const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QByteArray out(rgb.width() * rgb.height() * 2, Qt::Uninitialized);
    auto *target = reinterpret_cast<uchar *>(out.data());
    const auto clampByte = [](double v) { return uchar(std::clamp(int(std::lround(v)), 0, 255)); };
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar *in = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); x += 2, in += 6, target += 4) {
            const auto luma = [&](const uchar *p) {
                return clampByte(16 + 0.257 * p[0] + 0.504 * p[1] + 0.098 * p[2]);
            };
            const double r = (in[0] + in[3]) / 2.0, g = (in[1] + in[4]) / 2.0,
                         b = (in[2] + in[5]) / 2.0;
            target[0] = luma(in);
            target[1] = clampByte(128 - 0.148 * r - 0.291 * g + 0.439 * b);
            target[2] = luma(in + 3);
            target[3] = clampByte(128 + 0.439 * r - 0.368 * g - 0.071 * b);
        }
    }
    return out;
}

QByteArray toMjpeg(const QImage &picture)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG", 90);
    return out;
}

FakeV4l2::FakeV4l2() = default;

FakeV4l2::~FakeV4l2()
{
    for (const auto &[fd, camera] : m_files)
        ::close(fd);
}

void FakeV4l2::addCamera(int node, FakeCameraConfig config)
{
    auto camera = std::make_shared<Camera>();
    camera->node = node;
    camera->config = std::move(config);
    m_cameras[node] = camera;
    m_everyCamera.push_back(camera);
}

void FakeV4l2::unplug(int node)
{
    auto found = m_cameras.find(node);
    if (found == m_cameras.end())
        return;
    found->second->present = false;
    m_cameras.erase(found);
    for (const auto &[fd, camera] : m_files) {
        if (!camera->present)
            wake(fd, true);
    }
}

FakeCameraConfig *FakeV4l2::config(int node)
{
    auto found = m_cameras.find(node);
    return found == m_cameras.end() ? nullptr : &found->second->config;
}

QMap<quint32, qint32> FakeV4l2::controlValues(int node) const
{
    QMap<quint32, qint32> values;
    if (auto found = m_cameras.find(node); found != m_cameras.end()) {
        for (const FakeControl &control : found->second->config.controls)
            values.insert(control.query.id, control.value);
    }
    return values;
}

bool FakeV4l2::produceFrame(int node)
{
    auto found = m_cameras.find(node);
    if (found == m_cameras.end())
        return false;
    Camera &camera = *found->second;
    if (!camera.streaming || camera.queued.empty())
        return false;
    const int index = camera.queued.front();
    camera.queued.pop_front();
    const QByteArray &picture = camera.picture();
    const std::size_t bytes = std::min<std::size_t>(picture.size(), camera.buffers[index].size());
    std::memcpy(camera.buffers[index].data(), picture.constData(), bytes);
    camera.used[index] = quint32(bytes);
    camera.done.push_back(index);
    ++m_frames;
    wake(camera.streamFd, true);
    return true;
}

QStringList FakeV4l2::nodes()
{
    ++m_scans;
    QStringList paths;
    for (const auto &[node, camera] : m_cameras)
        paths << QStringLiteral("/dev/video%1").arg(node);
    return paths;
}

int FakeV4l2::open(const char *path, int)
{
    const QByteArray name(path);
    if (!name.startsWith("/dev/video"))
        return failWith(ENOENT);
    auto found = m_cameras.find(name.mid(10).toInt());
    if (found == m_cameras.end())
        return failWith(ENOENT);
    if (found->second->config.openError)
        return failWith(found->second->config.openError);
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        return -1;
    m_files[fd] = found->second;
    return fd;
}

int FakeV4l2::close(int fd)
{
    auto found = m_files.find(fd);
    if (found == m_files.end())
        return failWith(EBADF);
    Camera &camera = *found->second;
    if (camera.streamFd == fd) {
        camera.streaming = false;
        camera.streamFd = -1;
        camera.queued.clear();
        camera.done.clear();
        if (camera.mapped == 0)
            camera.buffers.clear();
    }
    m_files.erase(found);
    return ::close(fd);
}

FakeV4l2::Camera *FakeV4l2::cameraOf(int fd)
{
    auto found = m_files.find(fd);
    return found == m_files.end() ? nullptr : found->second.get();
}

void FakeV4l2::wake(int fd, bool readable)
{
    if (fd < 0)
        return;
    eventfd_t value = 0;
    if (readable)
        eventfd_write(fd, 1);
    else
        eventfd_read(fd, &value);
}

int FakeV4l2::ioctl(int fd, unsigned long request, void *arg)
{
    Camera *camera = cameraOf(fd);
    if (!camera)
        return failWith(EBADF);
    if (!camera->present)
        return failWith(ENODEV);
    if (request == VIDIOC_QUERYCAP) {
        if (camera->config.queryCapFails)
            return failWith(EIO);
        auto *cap = static_cast<v4l2_capability *>(arg);
        *cap = {};
        copyText(cap->driver, sizeof cap->driver, camera->config.driver);
        copyText(cap->card, sizeof cap->card, camera->config.card);
        copyText(cap->bus_info, sizeof cap->bus_info, "fake:" + QByteArray::number(camera->node));
        cap->version = camera->config.version;
        const __u32 capture =
            camera->config.multiPlanar ? V4L2_CAP_VIDEO_CAPTURE_MPLANE : V4L2_CAP_VIDEO_CAPTURE;
        cap->device_caps = camera->config.canCapture ? capture | V4L2_CAP_STREAMING
                                                     : V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    if (int result = formats(*camera, request, arg); result != -2)
        return result;
    if (int result = control(*camera, request, arg); result != -2)
        return result;
    if (int result = streaming(*camera, fd, request, arg); result != -2)
        return result;
    return failWith(ENOTTY);
}

} // namespace voruna::test

namespace voruna {

std::unique_ptr<CaptureLayer> makeV4l2CaptureLayer(std::shared_ptr<V4l2Syscalls> syscalls)
{
    std::vector<std::unique_ptr<DriverSource>> sources;
    sources.push_back(std::make_unique<V4l2DriverSource>(std::move(syscalls)));
    return makeCaptureLayer(std::move(sources));
}

} // namespace voruna
