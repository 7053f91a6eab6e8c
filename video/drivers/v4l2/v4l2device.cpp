// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/v4l2/v4l2device.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>

namespace voruna {

namespace {

QString fixedText(const __u8 *text, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(text),
                             int(strnlen(reinterpret_cast<const char *>(text), size)));
}

// Sizes offered for cameras that state a range instead of a list.
const QSize commonSizes[] = {{160, 120},  {320, 240},  {352, 288},  {640, 480},  {800, 600},
                             {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080}};

bool fitsRange(QSize size, const v4l2_frmsize_stepwise &range)
{
    const auto step = [](__u32 value, __u32 minimum, __u32 unit) {
        return unit <= 1 || (value - minimum) % unit == 0;
    };
    return __u32(size.width()) >= range.min_width && __u32(size.width()) <= range.max_width
           && __u32(size.height()) >= range.min_height && __u32(size.height()) <= range.max_height
           && step(size.width(), range.min_width, range.step_width)
           && step(size.height(), range.min_height, range.step_height);
}

} // namespace

bool queryCaptureCapability(V4l2Syscalls &sys, int fd, v4l2_capability *cap)
{
    *cap = {};
    if (xioctl(sys, fd, VIDIOC_QUERYCAP, cap) != 0)
        return false;
    const __u32 caps =
        (cap->capabilities & V4L2_CAP_DEVICE_CAPS) ? cap->device_caps : cap->capabilities;
    return (caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE))
           && (caps & V4L2_CAP_STREAMING);
}

bool capturesMultiPlanar(const v4l2_capability &cap)
{
    const __u32 caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return !(caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_VIDEO_CAPTURE_MPLANE);
}

std::vector<DriverDescription> V4l2DriverSource::drivers()
{
    std::vector<DriverDescription> found;
    for (const QString &path : m_sys->nodes()) {
        UniqueFd fd(*m_sys, m_sys->open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK));
        v4l2_capability cap;
        if (!fd.isValid() || !queryCaptureCapability(*m_sys, fd.get(), &cap))
            continue;
        const QString version = QStringLiteral("%1 %2.%3.%4")
                                    .arg(fixedText(cap.driver, sizeof cap.driver))
                                    .arg(cap.version >> 16)
                                    .arg((cap.version >> 8) & 0xff)
                                    .arg(cap.version & 0xff);
        const QString card = fixedText(cap.card, sizeof cap.card);
        found.push_back({card, version, {.key = path + QLatin1Char('\n') + card}});
    }
    return found;
}

std::unique_ptr<CaptureDevice> V4l2DriverSource::open(const QString &key, QString *error)
{
    const QString path = key.section(QLatin1Char('\n'), 0, 0);
    const QString card = key.section(QLatin1Char('\n'), 1);
    std::unique_ptr<V4l2Device> device = V4l2Device::open(m_sys, path, error);
    if (device && device->card() != card) {
        error->clear(); // the camera chosen is not there any more
        return nullptr;
    }
    return device;
}

std::unique_ptr<V4l2Device> V4l2Device::open(std::shared_ptr<V4l2Syscalls> sys, const QString &path,
                                             QString *error)
{
    UniqueFd fd(*sys, sys->open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK));
    if (!fd.isValid()) {
        *error =
            QStringLiteral("Cannot open %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return nullptr;
    }
    v4l2_capability cap;
    if (!queryCaptureCapability(*sys, fd.get(), &cap)) {
        *error = QStringLiteral("%1 cannot capture video").arg(path);
        return nullptr;
    }
    std::unique_ptr<V4l2Device> device(new V4l2Device(std::move(sys), std::move(fd),
                                                      fixedText(cap.card, sizeof cap.card),
                                                      capturesMultiPlanar(cap)));
    if (!device->chooseFirstFormat()) {
        *error = QStringLiteral("%1 sends no picture format this program can show").arg(path);
        return nullptr;
    }
    return device;
}

V4l2Device::V4l2Device(std::shared_ptr<V4l2Syscalls> sys, UniqueFd fd, const QString &card,
                       bool multiPlanar)
    : m_sys(std::move(sys))
    , m_fd(std::move(fd))
    , m_converter(std::make_unique<FrameConverter>(*m_sys, m_fd.get()))
    , m_worker(std::make_unique<FrameWorker>())
    , m_card(card)
    , m_multiPlanar(multiPlanar)
    , m_bufferType(multiPlanar ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE : V4L2_BUF_TYPE_VIDEO_CAPTURE)
{
    connect(m_worker.get(), &FrameWorker::finished, this, &CaptureDevice::frameArrived);
}

int V4l2Device::formatCall(unsigned long request, v4l2_format *format)
{
    format->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (!m_multiPlanar)
        return xioctl(*m_sys, m_fd.get(), request, format);
    v4l2_format planar{};
    planar.type = V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE;
    v4l2_pix_format &pix = format->fmt.pix;
    v4l2_pix_format_mplane &mp = planar.fmt.pix_mp;
    mp.width = pix.width;
    mp.height = pix.height;
    mp.pixelformat = pix.pixelformat;
    mp.field = pix.field;
    if (xioctl(*m_sys, m_fd.get(), request, &planar) != 0)
        return -1;
    pix = {};
    pix.width = mp.width;
    pix.height = mp.height;
    pix.pixelformat = mp.pixelformat;
    pix.field = mp.field;
    pix.colorspace = mp.colorspace;
    pix.bytesperline = mp.plane_fmt[0].bytesperline;
    for (int plane = 0; plane < std::min<int>(mp.num_planes, VIDEO_MAX_PLANES); ++plane)
        pix.sizeimage += mp.plane_fmt[plane].sizeimage;
    return 0;
}

V4l2Device::~V4l2Device()
{
    stop();
}

bool V4l2Device::chooseFirstFormat()
{
    v4l2_format current{};
    QSize size(640, 480);
    if (formatCall(VIDIOC_G_FMT, &current) == 0 && current.fmt.pix.width > 0)
        size = QSize(current.fmt.pix.width, current.fmt.pix.height);
    v4l2_format native{};
    // libv4lconvert's choice (the one libv4l2 makes) when it has one; it does not know the
    // deep formats nor multi-planar devices, so those are taken in their own format.
    if ((m_multiPlanar || !m_converter->nativeFormatFor(size, &native))
        && !chooseListedFormat(size, &native))
        return false;
    if (formatCall(VIDIOC_S_FMT, &native) != 0
        || !FrameConverter::canConvert(native.fmt.pix.pixelformat))
        return false;
    m_native = native;
    readInterval();
    return true;
}

bool V4l2Device::chooseListedFormat(QSize size, v4l2_format *native)
{
    v4l2_format current{};
    const bool known = formatCall(VIDIOC_G_FMT, &current) == 0;
    const QList<PixelFormatChoice> listed = pixelFormats();
    if (listed.isEmpty())
        return false;
    quint32 fourcc = listed.front().pixelFormat;
    for (const PixelFormatChoice &choice : listed) {
        if (known && choice.pixelFormat == current.fmt.pix.pixelformat)
            fourcc = choice.pixelFormat;
    }
    *native = {};
    native->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    native->fmt.pix.width = size.width();
    native->fmt.pix.height = size.height();
    native->fmt.pix.pixelformat = fourcc;
    native->fmt.pix.field = V4L2_FIELD_ANY;
    return true;
}

void V4l2Device::readInterval()
{
    v4l2_streamparm parm{};
    parm.type = m_bufferType;
    m_interval = {};
    if (xioctl(*m_sys, m_fd.get(), VIDIOC_G_PARM, &parm) == 0)
        m_interval = {parm.parm.capture.timeperframe.numerator,
                      parm.parm.capture.timeperframe.denominator};
}

QList<PixelFormatChoice> V4l2Device::pixelFormats() const
{
    QList<PixelFormatChoice> list;
    for (__u32 index = 0;; ++index) {
        v4l2_fmtdesc desc{};
        desc.index = index;
        desc.type = m_bufferType;
        if (!m_fd.isValid() || xioctl(*m_sys, m_fd.get(), VIDIOC_ENUM_FMT, &desc) != 0)
            break;
        if (FrameConverter::canConvert(desc.pixelformat))
            list.push_back(
                {desc.pixelformat, fixedText(desc.description, sizeof desc.description)});
    }
    return list;
}

QList<QSize> V4l2Device::frameSizes(quint32 pixelFormat) const
{
    QList<QSize> sizes;
    v4l2_frmsizeenum size{};
    size.pixel_format = pixelFormat;
    for (size.index = 0;
         m_fd.isValid() && xioctl(*m_sys, m_fd.get(), VIDIOC_ENUM_FRAMESIZES, &size) == 0;
         ++size.index) {
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.push_back(QSize(size.discrete.width, size.discrete.height));
            continue;
        }
        for (QSize common : commonSizes) {
            if (fitsRange(common, size.stepwise))
                sizes.push_back(common);
        }
        const QSize largest(size.stepwise.max_width, size.stepwise.max_height);
        if (!sizes.contains(largest))
            sizes.push_back(largest);
        break;
    }
    if (sizes.isEmpty() && pixelFormat == m_native.fmt.pix.pixelformat)
        sizes.push_back(format().size);
    return sizes;
}

QList<FrameInterval> V4l2Device::frameIntervals(quint32 pixelFormat, QSize size) const
{
    QList<FrameInterval> intervals;
    v4l2_frmivalenum ival{};
    ival.pixel_format = pixelFormat;
    ival.width = size.width();
    ival.height = size.height();
    for (ival.index = 0;
         m_fd.isValid() && xioctl(*m_sys, m_fd.get(), VIDIOC_ENUM_FRAMEINTERVALS, &ival) == 0;
         ++ival.index) {
        if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            intervals.push_back({ival.discrete.numerator, ival.discrete.denominator});
            continue;
        }
        intervals.push_back({ival.stepwise.min.numerator, ival.stepwise.min.denominator});
        intervals.push_back({ival.stepwise.max.numerator, ival.stepwise.max.denominator});
        break;
    }
    return intervals;
}

StreamFormat V4l2Device::format() const
{
    return {m_native.fmt.pix.pixelformat, QSize(m_native.fmt.pix.width, m_native.fmt.pix.height),
            m_interval};
}

DeviceControl V4l2Device::describeControl(const v4l2_queryctrl &query) const
{
    DeviceControl control;
    control.id = query.id;
    control.name = fixedText(query.name, sizeof query.name);
    control.minimum = query.minimum;
    control.maximum = query.maximum;
    control.step = query.step > 0 ? query.step : 1;
    control.defaultValue = query.default_value;
    control.inactive = query.flags & V4L2_CTRL_FLAG_INACTIVE;
    control.readOnly = query.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED);
    control.changesByItself = query.flags & V4L2_CTRL_FLAG_VOLATILE;
    control.updatesOthers = query.flags & V4L2_CTRL_FLAG_UPDATE;
    switch (query.type) {
    case V4L2_CTRL_TYPE_BOOLEAN:
        control.kind = DeviceControl::Kind::Boolean;
        break;
    case V4L2_CTRL_TYPE_BUTTON:
        control.kind = DeviceControl::Kind::Button;
        break;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        control.kind = DeviceControl::Kind::Menu;
        break;
    default:
        control.kind = DeviceControl::Kind::Integer;
        break;
    }
    // 64 bits so a menu ending at INT32_MAX ends; a driver claiming a huge menu is asked about
    // its first entries only.
    constexpr qint64 kMostMenuEntries = 256;
    const qint64 last =
        std::min<qint64>(query.maximum, qint64(query.minimum) + kMostMenuEntries - 1);
    for (qint64 value = query.minimum; control.kind == DeviceControl::Kind::Menu && value <= last;
         ++value) {
        v4l2_querymenu item{};
        item.id = query.id;
        item.index = __u32(value);
        if (xioctl(*m_sys, m_fd.get(), VIDIOC_QUERYMENU, &item) != 0)
            continue;
        control.menu.push_back({qint32(value), query.type == V4L2_CTRL_TYPE_MENU
                                                   ? fixedText(item.name, sizeof item.name)
                                                   : QString::number(item.value)});
    }
    v4l2_control current{query.id, 0};
    if (control.kind != DeviceControl::Kind::Button
        && xioctl(*m_sys, m_fd.get(), VIDIOC_G_CTRL, &current) == 0)
        control.value = current.value;
    return control;
}

QList<DeviceControl> V4l2Device::controls() const
{
    QList<DeviceControl> list;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (m_fd.isValid() && xioctl(*m_sys, m_fd.get(), VIDIOC_QUERYCTRL, &query) == 0) {
        const bool shown =
            !(query.flags & V4L2_CTRL_FLAG_DISABLED)
            && (query.type == V4L2_CTRL_TYPE_INTEGER || query.type == V4L2_CTRL_TYPE_BOOLEAN
                || query.type == V4L2_CTRL_TYPE_MENU || query.type == V4L2_CTRL_TYPE_BUTTON
                || query.type == V4L2_CTRL_TYPE_INTEGER_MENU);
        if (shown)
            list.push_back(describeControl(query));
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return list;
}

bool V4l2Device::setControl(quint32 id, qint32 value)
{
    v4l2_control control{id, value};
    return m_fd.isValid() && xioctl(*m_sys, m_fd.get(), VIDIOC_S_CTRL, &control) == 0;
}

namespace {

// The absolute exposure control of `fd`, when it is there and can be set now.
bool settableExposure(V4l2Syscalls &sys, int fd, v4l2_queryctrl *query)
{
    query->id = V4L2_CID_EXPOSURE_ABSOLUTE;
    return xioctl(sys, fd, VIDIOC_QUERYCTRL, query) == 0
           && !(query->flags
                & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_READ_ONLY));
}

} // namespace

bool V4l2Device::canSetExposure() const
{
    v4l2_queryctrl query{};
    return m_fd.isValid() && settableExposure(*m_sys, m_fd.get(), &query);
}

bool V4l2Device::setExposureSeconds(double seconds)
{
    v4l2_queryctrl query{};
    if (!m_fd.isValid() || !settableExposure(*m_sys, m_fd.get(), &query))
        return false;
    const double units = std::round(seconds * 1.0e4);
    // Also refuses what is not a number at all.
    if (!(units >= query.minimum && units <= query.maximum))
        return false;
    return setControl(V4L2_CID_EXPOSURE_ABSOLUTE, qint32(units));
}

std::optional<qint32> V4l2Device::controlValue(quint32 id) const
{
    v4l2_queryctrl query{};
    query.id = id;
    if (!m_fd.isValid() || xioctl(*m_sys, m_fd.get(), VIDIOC_QUERYCTRL, &query) != 0
        || (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_INACTIVE)))
        return std::nullopt;
    v4l2_control current{id, 0};
    if (xioctl(*m_sys, m_fd.get(), VIDIOC_G_CTRL, &current) != 0)
        return std::nullopt;
    return current.value;
}

CameraFacts V4l2Device::cameraFacts() const
{
    CameraFacts facts;
    facts.name = m_card;
    if (const std::optional<qint32> exposure = controlValue(V4L2_CID_EXPOSURE_ABSOLUTE))
        facts.exposureSeconds = *exposure * 100e-6;
    if (const std::optional<qint32> gain = controlValue(V4L2_CID_GAIN))
        facts.gain = *gain;
    return facts;
}

} // namespace voruna
