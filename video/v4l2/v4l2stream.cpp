#include "video/v4l2/v4l2device.h"

#include "video/notices.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <sys/mman.h>

namespace voruna {

namespace {

constexpr __u32 bufferCount = 4;

QString fourccText(quint32 fourcc)
{
    QString text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char((fourcc >> shift) & 0xff);
        if (c != ' ' && c != 0)
            text += QLatin1Char(c);
    }
    return text;
}

} // namespace

QString streamDescription(const StreamFormat &format)
{
    QString text = QStringLiteral("%1 x %2 %3")
                       .arg(format.size.width())
                       .arg(format.size.height())
                       .arg(fourccText(format.pixelFormat));
    if (format.interval.numerator)
        text += QStringLiteral(" at %1 fps").arg(format.interval.fps(), 0, 'g', 3);
    return text;
}

QString streamNotStartedText(const QString &reason)
{
    const QString text = QStringLiteral("The camera does not start streaming");
    return reason.isEmpty() ? text : text + QStringLiteral(": ") + reason;
}

bool V4l2Device::startFailed(int errorNumber)
{
    m_startError = errorNumber ? QString::fromLocal8Bit(strerror(errorNumber)) : QString();
    stop();
    return false;
}

bool V4l2Device::start()
{
    if (m_streaming)
        return true;
    m_startError.clear();
    if (!m_fd.isValid())
        return false;
    v4l2_requestbuffers request{};
    request.count = bufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(*m_sys, m_fd.get(), VIDIOC_REQBUFS, &request) != 0)
        return startFailed(errno);
    if (request.count < 2)
        return startFailed(ENOMEM);
    for (__u32 index = 0; index < request.count; ++index) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        void *address = MAP_FAILED;
        if (xioctl(*m_sys, m_fd.get(), VIDIOC_QUERYBUF, &buffer) == 0)
            address = m_sys->mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd.get(),
                                  buffer.m.offset);
        if (address == MAP_FAILED)
            return startFailed(errno);
        m_buffers.emplace_back(*m_sys, address, buffer.length);
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    m_streaming = true;
    for (__u32 index = 0; index < request.count; ++index) {
        if (!requeue(int(index)))
            return startFailed(errno);
    }
    if (xioctl(*m_sys, m_fd.get(), VIDIOC_STREAMON, &type) != 0)
        return startFailed(errno);
    m_notifier = new QSocketNotifier(m_fd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &V4l2Device::onReadable);
    Q_EMIT statusNotice(notice::StreamStarted, streamDescription(format()));
    return true;
}

void V4l2Device::stop()
{
    if (m_notifier) {
        // This may run inside the notifier's own activation: let the event loop delete it.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd.isValid() && m_streaming) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(*m_sys, m_fd.get(), VIDIOC_STREAMOFF, &type);
    }
    m_streaming = false;
    m_held = -1;
    const bool hadBuffers = !m_buffers.empty();
    m_buffers.clear();
    if (m_fd.isValid() && hadBuffers) {
        // Frees the driver's buffers so that the format can change.
        v4l2_requestbuffers request{};
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        xioctl(*m_sys, m_fd.get(), VIDIOC_REQBUFS, &request);
    }
}

bool V4l2Device::requeue(int index)
{
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = __u32(index);
    return xioctl(*m_sys, m_fd.get(), VIDIOC_QBUF, &buffer) == 0;
}

void V4l2Device::onReadable()
{
    bool arrived = false;
    for (;;) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (xioctl(*m_sys, m_fd.get(), VIDIOC_DQBUF, &buffer) != 0) {
            if (errno == EAGAIN)
                break;
            fail(errno);
            return;
        }
        if (buffer.index >= m_buffers.size())
            continue;
        // Only the newest frame is kept; an older one goes straight back to the driver.
        const bool usable = !(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.bytesused > 0;
        const int older = usable ? m_held : int(buffer.index);
        if (usable) {
            m_held = int(buffer.index);
            m_heldBytes = std::min<quint32>(buffer.bytesused, m_buffers[buffer.index].length());
            arrived = true;
        }
        if (older >= 0 && !requeue(older)) {
            fail(errno);
            return;
        }
    }
    if (arrived)
        Q_EMIT frameArrived();
}

void V4l2Device::fail(int errorNumber)
{
    const QString text = (errorNumber == ENODEV || errorNumber == ENXIO || errorNumber == EIO)
        ? QStringLiteral("Video device lost: %1").arg(m_card)
        : QStringLiteral("Video stream stopped: %1")
              .arg(QString::fromLocal8Bit(strerror(errorNumber)));
    stop();
    m_converter.reset();
    m_fd.reset();
    m_lost = true;
    Q_EMIT failed(notice::DeviceLost, text);
}

bool V4l2Device::takeFrame(QImage *image)
{
    if (m_held < 0 || !m_converter)
        return false;
    const int index = m_held;
    m_held = -1;
    const bool converted = m_converter->toRgb(m_native, m_buffers[index].data(), m_heldBytes, image);
    if (!requeue(index)) {
        const int error = errno;
        QPointer<V4l2Device> alive(this);
        fail(error);
        if (!alive)
            return false;
    }
    return converted;
}

bool V4l2Device::setFormat(const StreamFormat &wanted)
{
    if (!m_fd.isValid())
        return false;
    const v4l2_format previous = m_native;
    stop();
    v4l2_format next{};
    next.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    next.fmt.pix.width = wanted.size.width();
    next.fmt.pix.height = wanted.size.height();
    next.fmt.pix.pixelformat = wanted.pixelFormat;
    next.fmt.pix.field = V4L2_FIELD_ANY;
    const bool accepted = xioctl(*m_sys, m_fd.get(), VIDIOC_S_FMT, &next) == 0
        && next.fmt.pix.pixelformat == wanted.pixelFormat;
    if (accepted) {
        m_native = next;
        if (wanted.interval.numerator && wanted.interval.denominator) {
            v4l2_streamparm parm{};
            parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            parm.parm.capture.timeperframe = {wanted.interval.numerator,
                                              wanted.interval.denominator};
            xioctl(*m_sys, m_fd.get(), VIDIOC_S_PARM, &parm);
        }
        readInterval();
    } else {
        m_native = previous;
        xioctl(*m_sys, m_fd.get(), VIDIOC_S_FMT, &m_native);
    }
    // A stream that stays dark says so (the window may end in the notification: nothing of
    // this object is touched after it). One that did not run before gets its chance now.
    if (!start())
        Q_EMIT failed(notice::StreamNotStarted, streamNotStartedText(m_startError));
    return accepted;
}

} // namespace voruna
