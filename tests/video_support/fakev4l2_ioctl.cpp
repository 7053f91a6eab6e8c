// SPDX-License-Identifier: GPL-3.0-or-later
// The format, control and streaming requests of the scripted cameras.
#include "fakecamera.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace voruna::test {

namespace {

constexpr int notHandled = -2;

int failWith(int error)
{
    errno = error;
    return -1;
}

QSize nearest(const QList<QSize> &sizes, QSize wanted)
{
    const auto distance = [wanted](QSize s) {
        return std::abs(s.width() * s.height() - wanted.width() * wanted.height());
    };
    QSize best = sizes.value(0);
    for (QSize size : sizes) {
        if (distance(size) < distance(best))
            best = size;
    }
    return best;
}

// What the camera would take for `pix`: a listed format (else its first) at a listed size.
void adjust(const FakeCameraConfig &config, v4l2_pix_format &pix)
{
    const FakeFormat *chosen = &config.formats.front();
    for (const FakeFormat &format : config.formats) {
        if (format.fourcc == pix.pixelformat)
            chosen = &format;
    }
    const QSize size = nearest(chosen->sizes, QSize(pix.width, pix.height));
    pix.pixelformat = chosen->fourcc;
    pix.width = size.width();
    pix.height = size.height();
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = chosen->fourcc == V4L2_PIX_FMT_YUYV ? pix.width * 2 : 0;
    pix.sizeimage = pix.width * pix.height * 4;
    pix.colorspace = V4L2_COLORSPACE_SRGB;
}

bool isActive(const FakeCameraConfig &config, const FakeControl &control)
{
    if (control.query.id != V4L2_CID_EXPOSURE_ABSOLUTE)
        return true;
    for (const FakeControl &other : config.controls) {
        if (other.query.id == V4L2_CID_EXPOSURE_AUTO)
            return other.value == V4L2_EXPOSURE_MANUAL;
    }
    return true;
}

} // namespace

int FakeV4l2::enumerate(Camera &camera, unsigned long request, void *arg)
{
    FakeCameraConfig &config = camera.config;
    switch (request) {
    case VIDIOC_ENUM_FMT: {
        auto *desc = static_cast<v4l2_fmtdesc *>(arg);
        if (desc->type != camera.bufferType() || desc->index >= __u32(config.formats.size()))
            return failWith(EINVAL);
        const FakeFormat &format = config.formats[desc->index];
        desc->pixelformat = format.fourcc;
        desc->flags = format.fourcc == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
        std::memset(desc->description, 0, sizeof desc->description);
        std::memcpy(desc->description, format.description.constData(),
                    std::min<std::size_t>(format.description.size(), sizeof desc->description - 1));
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto *size = static_cast<v4l2_frmsizeenum *>(arg);
        const FakeFormat *format = camera.format(size->pixel_format);
        if (!format || size->index >= __u32(format->sizes.size()))
            return failWith(EINVAL);
        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size->discrete = {__u32(format->sizes[size->index].width()),
                          __u32(format->sizes[size->index].height())};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto *ival = static_cast<v4l2_frmivalenum *>(arg);
        const FakeFormat *format = camera.format(ival->pixel_format);
        if (!format || !format->sizes.contains(QSize(ival->width, ival->height))
            || ival->index >= __u32(format->intervals.size()))
            return failWith(EINVAL);
        ival->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        ival->discrete = {format->intervals[ival->index].numerator,
                          format->intervals[ival->index].denominator};
        return 0;
    }
    default:
        return notHandled;
    }
}

int FakeV4l2::formats(Camera &camera, unsigned long request, void *arg)
{
    if (int result = enumerate(camera, request, arg); result != notHandled)
        return result;
    FakeCameraConfig &config = camera.config;
    switch (request) {
    case VIDIOC_G_FMT:
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
        auto *format = static_cast<v4l2_format *>(arg);
        if (format->type != camera.bufferType())
            return failWith(EINVAL);
        if (request == VIDIOC_G_FMT) {
            config.multiPlanar ? camera.fill(format->fmt.pix_mp) : camera.fill(format->fmt.pix);
            return 0;
        }
        v4l2_pix_format pix = format->fmt.pix;
        if (config.multiPlanar) {
            pix = {};
            pix.pixelformat = format->fmt.pix_mp.pixelformat;
            pix.width = format->fmt.pix_mp.width;
            pix.height = format->fmt.pix_mp.height;
        }
        adjust(config, pix);
        if (request == VIDIOC_S_FMT && !camera.buffers.empty())
            return failWith(EBUSY);
        const FakeCameraConfig kept = config;
        config.fourcc = pix.pixelformat;
        config.size = QSize(pix.width, pix.height);
        config.multiPlanar ? camera.fill(format->fmt.pix_mp) : camera.fill(format->fmt.pix);
        if (request == VIDIOC_TRY_FMT)
            config = kept;
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto &capture = static_cast<v4l2_streamparm *>(arg)->parm.capture;
        if (request == VIDIOC_S_PARM) {
            const FakeFormat *format = camera.format(config.fourcc);
            const FrameInterval wanted{capture.timeperframe.numerator,
                                       capture.timeperframe.denominator};
            if (format && format->intervals.contains(wanted))
                config.interval = wanted;
        }
        capture.capability = V4L2_CAP_TIMEPERFRAME;
        capture.timeperframe = {config.interval.numerator, config.interval.denominator};
        return 0;
    }
    default:
        return notHandled;
    }
}

int FakeV4l2::control(Camera &camera, unsigned long request, void *arg)
{
    QList<FakeControl> &controls = camera.config.controls;
    const auto find = [&controls](quint32 id) -> FakeControl * {
        for (FakeControl &control : controls) {
            if (control.query.id == id)
                return &control;
        }
        return nullptr;
    };
    switch (request) {
    case VIDIOC_QUERYCTRL: {
        auto *query = static_cast<v4l2_queryctrl *>(arg);
        const FakeControl *found = nullptr;
        if (query->id & V4L2_CTRL_FLAG_NEXT_CTRL) {
            const quint32 after =
                query->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
            for (const FakeControl &control : controls) {
                if (control.query.id > after && (!found || control.query.id < found->query.id))
                    found = &control;
            }
        } else {
            found = find(query->id);
        }
        if (!found)
            return failWith(EINVAL);
        *query = found->query;
        if (!isActive(camera.config, *found))
            query->flags |= V4L2_CTRL_FLAG_INACTIVE;
        return 0;
    }
    case VIDIOC_QUERYMENU: {
        auto *item = static_cast<v4l2_querymenu *>(arg);
        const FakeControl *control = find(item->id);
        const qint32 position = control ? qint32(item->index) - control->query.minimum : -1;
        if (!control || position < 0 || position >= control->menu.size()
            || control->menu[position].isEmpty())
            return failWith(EINVAL);
        std::memset(item->name, 0, sizeof item->name);
        std::memcpy(item->name, control->menu[position].constData(),
                    std::min<std::size_t>(control->menu[position].size(), sizeof item->name - 1));
        return 0;
    }
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        auto *value = static_cast<v4l2_control *>(arg);
        FakeControl *control = find(value->id);
        if (!control || control->query.type == V4L2_CTRL_TYPE_CTRL_CLASS)
            return failWith(EINVAL);
        if (request == VIDIOC_G_CTRL) {
            value->value = control->value;
            return 0;
        }
        if (value->value < control->query.minimum || value->value > control->query.maximum)
            return failWith(ERANGE);
        control->value = value->value;
        return 0;
    }
    default:
        return notHandled;
    }
}

int FakeV4l2::buffer(Camera &camera, int fd, unsigned long request, void *arg)
{
    auto *buffer = static_cast<v4l2_buffer *>(arg);
    if (request == VIDIOC_DQBUF) {
        if (!camera.streaming)
            return failWith(EINVAL);
        if (camera.done.empty())
            return failWith(EAGAIN);
        buffer->index = __u32(camera.done.front());
        camera.done.pop_front();
        if (camera.done.empty())
            wake(fd, false);
    } else if (buffer->index >= camera.buffers.size()) {
        return failWith(EINVAL);
    } else if (request == camera.config.failRequest && buffer->index >= camera.config.failFrom) {
        return failWith(camera.config.failError);
    }
    const int index = int(buffer->index);
    if (request == VIDIOC_QBUF) {
        if (std::find(camera.queued.begin(), camera.queued.end(), index) != camera.queued.end())
            return failWith(EINVAL);
        camera.queued.push_back(index);
    }
    if (camera.config.multiPlanar) {
        // Plane p of buffer i is mapped at offset (i << 16) + p * 4096.
        const std::vector<std::size_t> sizes = camera.planeSizes();
        if (buffer->length < sizes.size() || !buffer->m.planes)
            return failWith(EINVAL);
        quint32 left = request == VIDIOC_DQBUF ? camera.used[index] : 0;
        for (std::size_t p = 0; p < sizes.size(); ++p) {
            v4l2_plane &plane = buffer->m.planes[p];
            plane.length = __u32(sizes[p]);
            plane.m.mem_offset = (__u32(index) << 16) + __u32(p) * 4096;
            plane.bytesused = std::min<quint32>(left, plane.length);
            left -= plane.bytesused;
        }
        buffer->length = __u32(sizes.size());
    } else {
        buffer->length = __u32(camera.buffers[index].size());
        buffer->m.offset = __u32(index) << 16;
        buffer->bytesused = request == VIDIOC_DQBUF ? camera.used[index] : 0;
    }
    buffer->sequence = request == VIDIOC_DQBUF ? camera.sequence++ : 0;
    buffer->flags = V4L2_BUF_FLAG_MAPPED;
    return 0;
}

int FakeV4l2::streaming(Camera &camera, int fd, unsigned long request, void *arg)
{
    switch (request) {
    case VIDIOC_REQBUFS: {
        auto *request = static_cast<v4l2_requestbuffers *>(arg);
        if (request->memory != V4L2_MEMORY_MMAP || request->type != camera.bufferType())
            return failWith(EINVAL);
        if (camera.mapped > 0 || camera.streaming)
            return failWith(EBUSY);
        std::size_t bytes = 0;
        for (std::size_t plane : camera.planeSizes())
            bytes += plane;
        camera.buffers.assign(std::min<__u32>(request->count, camera.config.maxBuffers),
                              std::vector<uchar>(bytes));
        camera.used.assign(camera.buffers.size(), 0);
        camera.queued.clear();
        camera.done.clear();
        camera.streamFd = request->count ? fd : -1;
        request->count = __u32(camera.buffers.size());
        return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF:
        return buffer(camera, fd, request, arg);
    case VIDIOC_STREAMON:
        if (camera.buffers.empty())
            return failWith(EINVAL);
        if (camera.config.failRequest == VIDIOC_STREAMON)
            return failWith(camera.config.failError);
        camera.streaming = true;
        return 0;
    case VIDIOC_STREAMOFF:
        camera.streaming = false;
        camera.queued.clear();
        camera.done.clear();
        wake(fd, false);
        return 0;
    default:
        return notHandled;
    }
}

void *FakeV4l2::mmap(std::size_t length, int, int, int fd, off_t offset)
{
    Camera *camera = cameraOf(fd);
    if (!camera || !camera->present) {
        errno = camera ? ENODEV : EBADF;
        return MAP_FAILED;
    }
    const std::size_t index = std::size_t(offset) >> 16;
    std::size_t start = 0;
    const std::vector<std::size_t> sizes = camera->planeSizes();
    for (std::size_t p = 0; p < (std::size_t(offset) & 0xffff) / 4096 && p < sizes.size(); ++p)
        start += sizes[p];
    if (index >= camera->buffers.size() || start + length > camera->buffers[index].size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    if (camera->config.failRequest == fakeMmap && index >= camera->config.failFrom) {
        errno = camera->config.failError;
        return MAP_FAILED;
    }
    ++camera->mapped;
    ++m_mappings;
    return camera->buffers[index].data() + start;
}

int FakeV4l2::munmap(void *address, std::size_t)
{
    for (const auto &camera : m_everyCamera) {
        for (const auto &buffer : camera->buffers) {
            const auto *at = static_cast<const uchar *>(address);
            if (at >= buffer.data() && at < buffer.data() + buffer.size()) {
                --camera->mapped;
                --m_mappings;
                return 0;
            }
        }
    }
    return failWith(EINVAL);
}

} // namespace voruna::test
