// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/v4l2/v4l2device.h"

#include "video/capture/notices.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <utility>

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
    request.type = m_bufferType;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(*m_sys, m_fd.get(), VIDIOC_REQBUFS, &request) != 0)
        return startFailed(errno);
    // From here on the driver holds buffers, also when none is mapped yet: stop() frees them.
    m_requested = true;
    if (request.count < 2)
        return startFailed(ENOMEM);
    for (__u32 index = 0; index < request.count; ++index) {
        v4l2_plane planes[VIDEO_MAX_PLANES]{};
        v4l2_buffer buffer = bufferRequest(index, planes);
        if (xioctl(*m_sys, m_fd.get(), VIDIOC_QUERYBUF, &buffer) != 0)
            return startFailed(errno);
        std::vector<UniqueMapping> mapped;
        const __u32 count = m_multiPlanar ? std::min<__u32>(buffer.length, VIDEO_MAX_PLANES) : 1;
        for (__u32 plane = 0; plane < count; ++plane) {
            const __u32 length = m_multiPlanar ? planes[plane].length : buffer.length;
            const __u32 offset = m_multiPlanar ? planes[plane].m.mem_offset : buffer.m.offset;
            void *address =
                m_sys->mmap(length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd.get(), offset);
            if (address == MAP_FAILED)
                return startFailed(errno);
            mapped.emplace_back(*m_sys, address, length);
        }
        m_buffers.push_back(std::move(mapped));
    }
    int type = int(m_bufferType);
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
    // A picture of the stream that ends is not shown any more.
    m_worker->cancel();
    if (m_notifier) {
        // This may run inside the notifier's own activation: let the event loop delete it.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd.isValid() && m_streaming) {
        int type = int(m_bufferType);
        xioctl(*m_sys, m_fd.get(), VIDIOC_STREAMOFF, &type);
    }
    m_streaming = false;
    m_held = -1;
    m_buffers.clear();
    const bool requested = std::exchange(m_requested, false);
    if (m_fd.isValid() && requested) {
        // Frees the driver's buffers so that the format can change.
        v4l2_requestbuffers request{};
        request.type = m_bufferType;
        request.memory = V4L2_MEMORY_MMAP;
        xioctl(*m_sys, m_fd.get(), VIDIOC_REQBUFS, &request);
    }
}

v4l2_buffer V4l2Device::bufferRequest(__u32 index, v4l2_plane *planes) const
{
    v4l2_buffer buffer{};
    buffer.type = m_bufferType;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    if (m_multiPlanar) {
        buffer.m.planes = planes;
        buffer.length = VIDEO_MAX_PLANES;
    }
    return buffer;
}

bool V4l2Device::requeue(int index)
{
    v4l2_plane planes[VIDEO_MAX_PLANES]{};
    v4l2_buffer buffer = bufferRequest(__u32(index), planes);
    return xioctl(*m_sys, m_fd.get(), VIDIOC_QBUF, &buffer) == 0;
}

void V4l2Device::onReadable()
{
    bool arrived = false;
    for (;;) {
        v4l2_plane planes[VIDEO_MAX_PLANES]{};
        v4l2_buffer buffer = bufferRequest(0, planes);
        if (xioctl(*m_sys, m_fd.get(), VIDIOC_DQBUF, &buffer) != 0) {
            if (errno == EAGAIN)
                break;
            fail(errno);
            return;
        }
        if (buffer.index >= m_buffers.size())
            continue;
        // Only the newest frame is kept; an older one goes straight back to the driver.
        const std::vector<UniqueMapping> &mapped = m_buffers[buffer.index];
        const quint32 firstBytes = m_multiPlanar ? planes[0].bytesused : buffer.bytesused;
        const bool usable = !(buffer.flags & V4L2_BUF_FLAG_ERROR) && firstBytes > 0;
        const int older = usable ? m_held : int(buffer.index);
        if (usable) {
            m_held = int(buffer.index);
            m_heldBytes.assign(mapped.size(), 0);
            m_heldOffset.assign(mapped.size(), 0);
            for (std::size_t plane = 0; plane < mapped.size(); ++plane) {
                const quint32 used = m_multiPlanar ? planes[plane].bytesused : buffer.bytesused;
                m_heldBytes[plane] = std::min<quint32>(used, mapped[plane].length());
                if (m_multiPlanar)
                    m_heldOffset[plane] = std::min(planes[plane].data_offset, m_heldBytes[plane]);
            }
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

bool V4l2Device::takeFrame(ShownFrame *shown)
{
    if (!m_converter)
        return false;
    const bool taken = m_worker->take(shown);
    // Whenever the worker is free the newest frame goes to it, also a frame that arrived while
    // it converted the one taken now; frameArrived() follows when the conversion ends.
    if (m_held >= 0 && !m_worker->isBusy() && !convertHeld())
        return false; // the device failed, and may be gone
    return taken;
}

bool V4l2Device::convertHeld()
{
    const int index = m_held;
    m_held = -1;
    const std::vector<UniqueMapping> &planes = m_buffers[index];
    m_joined.clear();
    for (std::size_t plane = 0; plane < planes.size(); ++plane)
        m_joined.insert(m_joined.end(), planes[plane].data() + m_heldOffset[plane],
                        planes[plane].data() + m_heldBytes[plane]);
    if (!requeue(index)) {
        fail(errno);
        return false;
    }
    m_worker->convert(m_converter.get(), m_native, m_joined);
    return true;
}

bool V4l2Device::setFormat(const StreamFormat &wanted)
{
    if (!m_fd.isValid())
        return false;
    const v4l2_format previous = m_native;
    stop();
    v4l2_format next{};
    next.fmt.pix.width = wanted.size.width();
    next.fmt.pix.height = wanted.size.height();
    next.fmt.pix.pixelformat = wanted.pixelFormat;
    next.fmt.pix.field = V4L2_FIELD_ANY;
    const bool accepted =
        formatCall(VIDIOC_S_FMT, &next) == 0 && next.fmt.pix.pixelformat == wanted.pixelFormat;
    if (accepted) {
        m_native = next;
        if (wanted.interval.numerator && wanted.interval.denominator) {
            v4l2_streamparm parm{};
            parm.type = m_bufferType;
            parm.parm.capture.timeperframe = {wanted.interval.numerator,
                                              wanted.interval.denominator};
            xioctl(*m_sys, m_fd.get(), VIDIOC_S_PARM, &parm);
        }
        readInterval();
    } else {
        m_native = previous;
        formatCall(VIDIOC_S_FMT, &m_native);
    }
    // A stream that stays dark says so (the window may end in the notification: nothing of
    // this object is touched after it). One that did not run before gets its chance now.
    if (!start())
        Q_EMIT failed(notice::StreamNotStarted, streamNotStartedText(m_startError));
    return accepted;
}

} // namespace voruna
