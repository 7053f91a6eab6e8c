// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/sky/skycamera.h"

#include "common/ports.h"
#include "video/capture/notices.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>

namespace voruna {

namespace {

constexpr quint32 kRgb = fourccCode('R', 'G', 'B', '3');
constexpr quint32 kGrey = fourccCode('G', 'R', 'E', 'Y');

constexpr std::array<QSize, 4> kSizes{{{320, 240}, {640, 480}, {800, 600}, {1280, 720}}};
constexpr std::array<FrameInterval, 4> kIntervals{{{1, 30}, {1, 15}, {1, 10}, {1, 5}}};

template<typename T, std::size_t N>
bool offers(const std::array<T, N> &list, const T &value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

QString formatName(quint32 pixelFormat)
{
    return pixelFormat == kGrey ? QStringLiteral("Grey (simulated)")
                                : QStringLiteral("RGB (simulated)");
}

} // namespace

QPointF skyOffset(const MountReading &first, const MountReading &now)
{
    return {now.ra - first.ra + now.seeingRa, now.dec - first.dec + now.seeingDec};
}

SkyCamera::SkyCamera(std::unique_ptr<MountFeed> feed, int port, QObject *parent)
    : CaptureDevice(parent)
    , m_feed(std::move(feed))
    , m_timer(new QTimer(this))
    , m_format{kRgb, QSize(320, 240), {1, 15}}
    , m_port(port)
{
    connect(m_timer, &QTimer::timeout, this, &SkyCamera::tick);
    connect(m_feed.get(), &MountFeed::readingArrived, this, &SkyCamera::onReading);
    connect(m_feed.get(), &MountFeed::lost, this, &SkyCamera::onLost);
}

SkyCamera::~SkyCamera() = default;

QList<PixelFormatChoice> SkyCamera::pixelFormats() const
{
    return {{kRgb, formatName(kRgb)}, {kGrey, formatName(kGrey)}};
}

QList<QSize> SkyCamera::frameSizes(quint32 pixelFormat) const
{
    if (pixelFormat != kRgb && pixelFormat != kGrey)
        return {};
    return QList<QSize>(kSizes.begin(), kSizes.end());
}

QList<FrameInterval> SkyCamera::frameIntervals(quint32 pixelFormat, QSize size) const
{
    if (!frameSizes(pixelFormat).contains(size))
        return {};
    return QList<FrameInterval>(kIntervals.begin(), kIntervals.end());
}

bool SkyCamera::setFormat(const StreamFormat &format)
{
    if (m_lost || !frameSizes(format.pixelFormat).contains(format.size))
        return false;
    m_format.pixelFormat = format.pixelFormat;
    m_format.size = format.size;
    // A rate it does not offer leaves the rate as it was, as a camera would.
    if (offers(kIntervals, format.interval))
        m_format.interval = format.interval;
    m_frame = QImage();
    if (m_streaming) {
        m_timer->start(periodMs());
        Q_EMIT statusNotice(notice::StreamStarted, description());
    }
    return true;
}

QList<DeviceControl> SkyCamera::controls() const
{
    DeviceControl exposure;
    exposure.id = exposureControl;
    exposure.name = QStringLiteral("Exposure (ms)");
    exposure.minimum = 1;
    exposure.maximum = maxExposureMs;
    exposure.defaultValue = 100;
    exposure.value = m_exposureMs;
    DeviceControl gain;
    gain.id = gainControl;
    gain.name = QStringLiteral("Gain");
    gain.minimum = 0;
    gain.maximum = 100;
    gain.defaultValue = 40;
    gain.value = m_gain;
    DeviceControl cover;
    cover.id = coverControl;
    cover.kind = DeviceControl::Kind::Boolean;
    cover.name = QStringLiteral("Telescope covered");
    cover.maximum = 1;
    cover.value = m_covered ? 1 : 0;
    return {exposure, gain, cover};
}

bool SkyCamera::setControl(quint32 id, qint32 value)
{
    if (id == exposureControl && value >= 1 && value <= maxExposureMs) {
        m_exposureMs = value;
        if (m_streaming) {
            m_timer->start(periodMs());
            // The rate the status line gives is the exposure's when that is the longer.
            Q_EMIT statusNotice(notice::StreamStarted, description());
        }
        return true;
    }
    if (id == gainControl && value >= 0 && value <= 100) {
        m_gain = value;
        return true;
    }
    if (id == coverControl && (value == 0 || value == 1)) {
        m_covered = value == 1;
        return true;
    }
    return false;
}

bool SkyCamera::setExposureSeconds(double seconds)
{
    const double ms = std::round(seconds * 1000.0);
    // Also refuses what is not a number at all.
    if (!(ms >= 1.0 && ms <= maxExposureMs))
        return false;
    return setControl(exposureControl, int(ms));
}

bool SkyCamera::start()
{
    if (m_lost)
        return false;
    if (m_streaming)
        return true;
    m_streaming = true;
    m_timer->start(periodMs());
    // The first picture as soon as the mount answers, not one period later. Before the notice:
    // a hook that hears it may close the window, and this camera with it.
    const QPointer<SkyCamera> alive(this);
    tick();
    if (alive && !m_lost)
        Q_EMIT statusNotice(notice::StreamStarted, description());
    return true;
}

int SkyCamera::periodMs() const
{
    const FrameInterval &i = m_format.interval;
    const int frameMs = i.denominator ? int(1000 * i.numerator / i.denominator) : 66;
    return std::max(frameMs, m_exposureMs);
}

QString SkyCamera::description() const
{
    return QStringLiteral("Voruna Sky Simulator on COM %1: %2 x %3 %4 at %5 fps, %6\"/px")
        .arg(m_port)
        .arg(m_format.size.width())
        .arg(m_format.size.height())
        .arg(formatName(m_format.pixelFormat))
        .arg(1000.0 / periodMs(), 0, 'g', 3)
        .arg(plateScale, 0, 'f', 1);
}

void SkyCamera::tick()
{
    if (!m_lost)
        m_feed->request();
}

void SkyCamera::onReading(const MountReading &reading)
{
    if (!m_first)
        m_first = reading;
    m_newest = reading;
    m_waiting = true;
    Q_EMIT frameArrived();
}

void SkyCamera::onLost()
{
    m_timer->stop();
    m_streaming = false;
    m_waiting = false;
    m_lost = true;
    Q_EMIT failed(
        notice::DeviceLost,
        QStringLiteral("Sky simulator lost: the simulator of COM %1 stopped").arg(m_port));
}

SkyView SkyCamera::view() const
{
    SkyView v;
    v.size = m_format.size;
    v.plateScale = plateScale;
    v.exposureMs = m_exposureMs;
    v.gain = m_gain;
    v.grey = m_format.pixelFormat == kGrey;
    v.covered = m_covered;
    v.noiseSeed = m_frames + 1;
    if (m_first && m_newest) {
        v.offset = skyOffset(*m_first, *m_newest);
        v.angle = m_newest->angle;
    }
    return v;
}

bool SkyCamera::takeFrame(ShownFrame *shown)
{
    if (!m_waiting || m_lost)
        return false;
    m_waiting = false;
    m_sky.render(view(), &m_frame);
    ++m_frames;
    // The caller's previous picture comes back to be drawn over next time, unless it is still
    // shared elsewhere, in which case the next render makes a fresh one.
    shown->frame.swap(m_frame);
    shown->sampleBits = sampleBits();
    shown->picture = QImage(); // the window draws it
    return true;
}

SkyDriverSource::SkyDriverSource(QString folder) : m_folder(std::move(folder))
{}

int SkyDriverSource::findSimulator(QString *path) const
{
    QString error;
    const QString folder = m_folder.isEmpty() ? mountFeedFolder(false, &error) : m_folder;
    if (folder.isEmpty())
        return 0;
    for (int port = 1; port <= kPortCount; ++port) {
        const QString candidate = mountFeedPath(folder, port);
        if (mountFeedAnswers(candidate)) {
            *path = candidate;
            return port;
        }
    }
    return 0;
}

std::vector<DriverDescription> SkyDriverSource::drivers()
{
    QString path;
    const int port = findSimulator(&path);
    if (port == 0)
        return {};
    return {{driverName(),
             QStringLiteral("mount of the adaptor simulator on COM %1").arg(port),
             {.key = driverName()}}};
}

std::unique_ptr<CaptureDevice> SkyDriverSource::open(const QString &key, QString *error)
{
    QString path;
    const int port = key == driverName() ? findSimulator(&path) : 0;
    if (port == 0) {
        *error = QStringLiteral("No sky simulator runs: start voruna-adaptor-sim");
        return nullptr;
    }
    auto feed = std::make_unique<MountFeed>();
    if (!feed->open(path, error))
        return nullptr;
    return std::make_unique<SkyCamera>(std::move(feed), port);
}

CameraFacts SkyCamera::cameraFacts() const
{
    return {.name = SkyDriverSource::driverName(),
            .exposureSeconds = m_exposureMs / 1000.0,
            .pixelWidthMicrons = pixelMicrons,
            .pixelHeightMicrons = pixelMicrons,
            .gain = double(m_gain)};
}

} // namespace voruna
