// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/indi/indicamera.h"

#include "video/indi/indiframe.h"
#include "video/notices.h"

#include <baseclient.h>
#include <basedevice.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace voruna {

namespace {

constexpr quint32 fourcc(char a, char b, char c, char d)
{
    return quint32(quint8(a)) | quint32(quint8(b)) << 8 | quint32(quint8(c)) << 16
           | quint32(quint8(d)) << 24;
}

constexpr quint32 kGrey = fourcc('G', 'R', 'E', 'Y');
constexpr quint32 kGrey16 = fourcc('Y', '1', '6', ' ');
constexpr int kMaxBinning = 4;

IndiProperty copyProperty(INDI::Property property)
{
    IndiProperty copy;
    copy.name = QString::fromUtf8(property.getName());
    copy.state = int(property.getState());
    switch (property.getType()) {
    case INDI_NUMBER:
        for (const auto &element : INDI::PropertyNumber(property))
            copy.numbers.insert(
                QString::fromUtf8(element.getName()),
                {element.getValue(), element.getMin(), element.getMax(), element.getStep()});
        break;
    case INDI_SWITCH:
        for (const auto &element : INDI::PropertySwitch(property))
            copy.switches.insert(QString::fromUtf8(element.getName()),
                                 element.getState() == ISS_ON);
        break;
    case INDI_TEXT:
        for (const auto &element : INDI::PropertyText(property))
            copy.texts.insert(QString::fromUtf8(element.getName()),
                              QString::fromUtf8(element.getText()));
        break;
    default:
        break;
    }
    return copy;
}

QString secondsText(double seconds)
{
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', seconds < 0.1 ? 3 : 1);
}

} // namespace

// The client of one camera on one server. Its callbacks run on the client library's thread:
// they copy what came and queue it to the camera on the GUI thread, never touching it there.
class IndiClient final : public INDI::BaseClient {
public:
    IndiClient(IndiCamera *camera, std::string device)
        : m_camera(camera)
        , m_device(std::move(device))
    {}
    ~IndiClient() override { disconnectServer(); }

    // Waits until the camera has told its size, connecting it first when it is not, or `limit`.
    bool waitForCamera(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_described.wait_for(lock, limit, [this] { return m_known; });
    }

protected:
    void newProperty(INDI::Property property) override { take(property); }
    void updateProperty(INDI::Property property) override { take(property); }
    void serverDisconnected(int) override
    {
        QMetaObject::invokeMethod(
            m_camera, [camera = m_camera] { camera->onServerGone(); }, Qt::QueuedConnection);
    }

private:
    void take(INDI::Property property)
    {
        if (m_device != property.getDeviceName())
            return;
        if (property.isNameMatch("CONNECTION") && !m_connecting) {
            const auto *connect = INDI::PropertySwitch(property).findWidgetByName("CONNECT");
            if (connect && connect->getState() != ISS_ON) {
                m_connecting = true;
                connectDevice(m_device.c_str());
            }
        }
        if (property.getType() == INDI_BLOB) {
            if (property.getState() != IPS_OK)
                return;
            for (const auto &element : INDI::PropertyBlob(property))
                frame(element);
            return;
        }
        QMetaObject::invokeMethod(
            m_camera,
            [camera = m_camera, copy = copyProperty(property)] { camera->onProperty(copy); },
            Qt::QueuedConnection);
        // After it is queued: the camera takes what waits for it once this says so.
        // Drivers define the size first and fill it in when the camera is connected.
        const auto *width = property.isNameMatch("CCD_INFO")
                                ? INDI::PropertyNumber(property).findWidgetByName("CCD_MAX_X")
                                : nullptr;
        if (width && width->getValue() > 0) {
            std::lock_guard lock(m_mutex);
            m_known = true;
            m_described.notify_all();
        }
    }

    void frame(const INDI::WidgetView<IBLOB> &blob)
    {
        QImage image;
        QString error;
        const int length = blob.getBlobLen();
        const QString kind = QString::fromUtf8(blob.getFormat());
        if (length <= 0 || !blob.getBlob())
            error = QStringLiteral("an empty frame");
        else if (length > kMaxFrameBytes)
            error = QStringLiteral("a frame of %1 bytes, larger than a camera sends").arg(length);
        else if (kind != QLatin1String(".fits") && kind != QLatin1String(".fit"))
            error = QStringLiteral("a frame in %1, not FITS").arg(kind.left(16));
        else
            decodeFitsFrame(QByteArray(static_cast<const char *>(blob.getBlob()), length), &image,
                            &error);
        QMetaObject::invokeMethod(
            m_camera, [camera = m_camera, image, error] { camera->onFrame(image, error); },
            Qt::QueuedConnection);
    }

    IndiCamera *m_camera;
    std::string m_device;
    std::mutex m_mutex;
    std::condition_variable m_described;
    bool m_known = false;
    bool m_connecting = false; // touched on the library's thread only
};

bool IndiServer::isLocal() const
{
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1")
           || host == QLatin1String("::1");
}

bool parseIndiServer(const QString &text, IndiServer *server)
{
    const QString line = text.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return false;
    IndiServer parsed;
    const int colon = line.lastIndexOf(QLatin1Char(':'));
    parsed.host = line;
    if (colon > 0 && line.indexOf(QLatin1Char(':')) == colon) {
        bool ok = false;
        const uint port = line.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return false;
        parsed.host = line.left(colon);
        parsed.port = quint16(port);
    }
    if (parsed.host.contains(QLatin1Char(' ')))
        return false;
    *server = parsed;
    return true;
}

QList<IndiServer> indiServers(const QString &file)
{
    QList<IndiServer> servers{{QStringLiteral("localhost"), 7624}};
    QFile named(file);
    if (!named.open(QIODevice::ReadOnly | QIODevice::Text))
        return servers;
    for (int lines = 0; lines < 64 && !named.atEnd(); ++lines) {
        IndiServer server;
        if (parseIndiServer(QString::fromUtf8(named.readLine(1024)), &server)
            && !servers.contains(server))
            servers.append(server);
    }
    return servers;
}

QString indiServersFile()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/voruna/indi-servers");
}

IndiCamera::IndiCamera(const IndiServer &server, const QString &device, const QString &label,
                       int timeoutMs, QObject *parent)
    : CaptureDevice(parent)
    , m_device(device)
    , m_label(label)
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &IndiCamera::maybeExpose);
    auto client = std::make_unique<IndiClient>(this, device.toStdString());
    client->setServer(server.host.toUtf8().constData(), server.port);
    client->setConnectionTimeout(uint32_t(timeoutMs / 1000), uint32_t(timeoutMs % 1000) * 1000);
    client->watchDevice(device.toUtf8().constData());
    if (!client->connectServer())
        return;
    client->setBLOBMode(B_ALSO, device.toUtf8().constData(), nullptr);
    // The window sizes itself to the picture as soon as the camera is connected: wait a moment
    // for the camera to tell its size, then take what has come so far.
    client->waitForCamera(std::chrono::milliseconds(2 * timeoutMs));
    m_client = std::move(client);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

IndiCamera::~IndiCamera()
{
    // Ends the client's thread before this object goes: nothing is queued to it afterwards.
    m_client.reset();
}

const IndiProperty::Number *IndiCamera::number(const QString &property,
                                               const QString &element) const
{
    const auto found = m_properties.constFind(property);
    if (found == m_properties.constEnd())
        return nullptr;
    const auto value = found->numbers.constFind(element);
    return value == found->numbers.constEnd() ? nullptr : &*value;
}

int IndiCamera::bitDepth() const
{
    const auto *bits = number(QStringLiteral("CCD_INFO"), QStringLiteral("CCD_BITSPERPIXEL"));
    return bits && bits->value <= 8 ? 8 : 16;
}

int IndiCamera::binning() const
{
    const auto *bin = number(QStringLiteral("CCD_BINNING"), QStringLiteral("HOR_BIN"));
    return bin ? std::clamp(int(bin->value), 1, kMaxBinning) : 1;
}

QSize IndiCamera::fullSize() const
{
    const auto *width = number(QStringLiteral("CCD_INFO"), QStringLiteral("CCD_MAX_X"));
    const auto *height = number(QStringLiteral("CCD_INFO"), QStringLiteral("CCD_MAX_Y"));
    if (!width || !height)
        return {};
    return {std::clamp(int(width->value), 0, kMaxFrameSide),
            std::clamp(int(height->value), 0, kMaxFrameSide)};
}

QList<PixelFormatChoice> IndiCamera::pixelFormats() const
{
    if (bitDepth() == 8)
        return {{kGrey, QStringLiteral("Mono 8-bit")}};
    return {{kGrey16, QStringLiteral("Mono 16-bit")}};
}

QList<QSize> IndiCamera::frameSizes(quint32 pixelFormat) const
{
    const QSize full = fullSize();
    if (pixelFormat != pixelFormats().front().pixelFormat || full.isEmpty())
        return {};
    const auto *bin = number(QStringLiteral("CCD_BINNING"), QStringLiteral("HOR_BIN"));
    const int most = bin ? std::clamp(int(bin->maximum), 1, kMaxBinning) : 1;
    QList<QSize> sizes;
    for (int b = 1; b <= most; ++b)
        sizes.append(full / b);
    return sizes;
}

QList<FrameInterval> IndiCamera::frameIntervals(quint32 pixelFormat, QSize size) const
{
    if (!frameSizes(pixelFormat).contains(size))
        return {};
    return {{quint32(m_exposureMs), 1000}};
}

StreamFormat IndiCamera::format() const
{
    QSize size = m_lastSize;
    if (size.isEmpty())
        size = fullSize() / binning();
    return {pixelFormats().front().pixelFormat, size, {quint32(m_exposureMs), 1000}};
}

bool IndiCamera::setFormat(const StreamFormat &chosen)
{
    const QList<QSize> sizes = frameSizes(chosen.pixelFormat);
    const int index = int(sizes.indexOf(chosen.size));
    if (m_lost || index < 0)
        return false;
    const QByteArray device = m_device.toUtf8();
    m_client->sendNewNumber(device.constData(), "CCD_BINNING", "HOR_BIN", index + 1);
    m_client->sendNewNumber(device.constData(), "CCD_BINNING", "VER_BIN", index + 1);
    m_lastSize = chosen.size;
    if (m_announced)
        Q_EMIT statusNotice(notice::StreamStarted, description());
    return true;
}

QPair<QString, QString> IndiCamera::gainElement() const
{
    if (number(QStringLiteral("CCD_GAIN"), QStringLiteral("GAIN")))
        return {QStringLiteral("CCD_GAIN"), QStringLiteral("GAIN")};
    return {QStringLiteral("CCD_CONTROLS"), QStringLiteral("Gain")};
}

QPair<QString, QString> IndiCamera::offsetElement() const
{
    if (number(QStringLiteral("CCD_OFFSET"), QStringLiteral("OFFSET")))
        return {QStringLiteral("CCD_OFFSET"), QStringLiteral("OFFSET")};
    return {QStringLiteral("CCD_CONTROLS"), QStringLiteral("Offset")};
}

QList<DeviceControl> IndiCamera::controls() const
{
    QList<DeviceControl> list;
    DeviceControl exposure;
    exposure.id = exposureControl;
    exposure.name = QStringLiteral("Exposure (ms)");
    const auto *limits =
        number(QStringLiteral("CCD_EXPOSURE"), QStringLiteral("CCD_EXPOSURE_VALUE"));
    exposure.minimum = limits ? std::clamp(int(std::ceil(limits->minimum * 1000)), 1, 60000) : 1;
    exposure.maximum =
        limits ? std::clamp(int(limits->maximum * 1000), exposure.minimum, 60000) : 60000;
    exposure.defaultValue = std::clamp(1000, exposure.minimum, exposure.maximum);
    exposure.value = m_exposureMs;
    list.append(exposure);
    const std::pair<quint32, QPair<QString, QString>> others[] = {{gainControl, gainElement()},
                                                                  {offsetControl, offsetElement()}};
    for (const auto &[id, where] : others) {
        const auto *value = number(where.first, where.second);
        if (!value)
            continue;
        DeviceControl control;
        control.id = id;
        control.name = id == gainControl ? QStringLiteral("Gain") : QStringLiteral("Offset");
        control.minimum = int(std::clamp(value->minimum, -1e9, 1e9));
        control.maximum = std::max(control.minimum, int(std::clamp(value->maximum, -1e9, 1e9)));
        control.step = std::max(1, int(value->step));
        control.value = std::clamp(int(std::lround(std::clamp(value->value, -1e9, 1e9))),
                                   control.minimum, control.maximum);
        control.defaultValue = control.value;
        list.append(control);
    }
    return list;
}

bool IndiCamera::setControl(quint32 id, qint32 value)
{
    if (m_lost)
        return false;
    for (const DeviceControl &control : controls()) {
        if (control.id != id || value < control.minimum || value > control.maximum)
            continue;
        if (id == exposureControl) {
            m_exposureMs = value;
            if (m_announced)
                Q_EMIT statusNotice(notice::StreamStarted, description());
            return true;
        }
        const QPair<QString, QString> where = id == gainControl ? gainElement() : offsetElement();
        m_client->sendNewNumber(m_device.toUtf8().constData(), where.first.toUtf8().constData(),
                                where.second.toUtf8().constData(), value);
        // Shown at once; the server's answer follows.
        m_properties[where.first].numbers[where.second].value = value;
        return true;
    }
    return false;
}

bool IndiCamera::start()
{
    if (m_lost || !m_client)
        return false;
    m_streaming = true;
    maybeExpose();
    return true;
}

void IndiCamera::maybeExpose()
{
    if (!m_streaming || m_exposing || m_lost)
        return;
    const auto link = m_properties.constFind(QStringLiteral("CONNECTION"));
    if (link == m_properties.constEnd())
        return;
    // A driver defines its camera's properties only once it is connected.
    if (!link->switches.value(QStringLiteral("CONNECT"))) {
        if (!m_connectAsked) {
            m_connectAsked = true;
            m_client->connectDevice(m_device.toUtf8().constData());
        }
        return;
    }
    // The frame may come before the driver has finished the exposure it belongs to: a new one
    // asked for meanwhile would be refused.
    const auto exposure = m_properties.constFind(QStringLiteral("CCD_EXPOSURE"));
    if (exposure == m_properties.constEnd() || exposure->state == IPS_BUSY)
        return;
    m_exposing = true;
    m_client->sendNewNumber(m_device.toUtf8().constData(), "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE",
                            m_exposureMs / 1000.0);
}

void IndiCamera::onProperty(const IndiProperty &property)
{
    if (m_lost)
        return;
    const bool wasConnected =
        m_properties.value(QStringLiteral("CONNECTION")).switches.value(QStringLiteral("CONNECT"));
    m_properties.insert(property.name, property);
    if (property.name == QLatin1String("CONNECTION")) {
        const bool connectedNow = property.switches.value(QStringLiteral("CONNECT"));
        if (wasConnected && !connectedNow) {
            lose(QStringLiteral("the camera was disconnected"));
            return;
        }
        if (m_connectAsked && !connectedNow && property.state == IPS_ALERT) {
            lose(QStringLiteral("the camera does not connect"));
            return;
        }
    }
    if (property.name == QLatin1String("CCD_EXPOSURE") && property.state == IPS_ALERT
        && m_exposing) {
        m_exposing = false;
        Q_EMIT statusNotice(notice::StreamStarted,
                            QStringLiteral("%1: the exposure failed, trying again").arg(m_label));
        m_retry->start(1000);
        return;
    }
    maybeExpose();
}

void IndiCamera::onFrame(const QImage &frame, const QString &error)
{
    if (m_lost)
        return;
    m_exposing = false;
    const QPointer<IndiCamera> alive(this);
    if (!error.isEmpty()) {
        Q_EMIT statusNotice(notice::StreamStarted,
                            QStringLiteral("%1: refused %2").arg(m_label, error));
        if (alive)
            m_retry->start(1000);
        return;
    }
    m_frame = frame;
    m_waiting = true;
    const bool resized = frame.size() != m_lastSize;
    m_lastSize = frame.size();
    maybeExpose();
    if (!m_announced || resized) {
        m_announced = true;
        Q_EMIT statusNotice(notice::StreamStarted, description());
    }
    if (alive)
        Q_EMIT frameArrived();
}

void IndiCamera::onServerGone()
{
    if (!m_lost)
        lose(QStringLiteral("the INDI server went away"));
}

void IndiCamera::lose(const QString &why)
{
    m_lost = true;
    m_streaming = false;
    m_waiting = false;
    m_retry->stop();
    Q_EMIT failed(notice::DeviceLost, QStringLiteral("%1 lost: %2").arg(m_label, why));
}

QString IndiCamera::description() const
{
    const StreamFormat now = format();
    return QStringLiteral("%1: %2 x %3, %4-bit, %5 exposures")
        .arg(m_label)
        .arg(now.size.width())
        .arg(now.size.height())
        .arg(bitDepth())
        .arg(secondsText(m_exposureMs / 1000.0));
}

bool IndiCamera::takeFrame(QImage *image)
{
    if (!m_waiting || m_lost)
        return false;
    m_waiting = false;
    image->swap(m_frame);
    return true;
}

// A short-lived client that notes the CCD devices a server defines.
namespace {

class ListingClient final : public INDI::BaseClient {
public:
    ~ListingClient() override { disconnectServer(); }

    // Waits until the server has been quiet for a moment after its definitions, or `limit`.
    QStringList cameras(std::chrono::milliseconds limit)
    {
        using namespace std::chrono;
        const auto end = steady_clock::now() + limit;
        std::unique_lock lock(m_mutex);
        for (;;) {
            const auto quietEnd = m_last + milliseconds(250);
            const auto until = std::min(end, quietEnd);
            if (steady_clock::now() >= until)
                break;
            m_changed.wait_until(lock, until);
        }
        QStringList names = m_cameras;
        names.sort();
        return names;
    }

    void started()
    {
        std::lock_guard lock(m_mutex);
        m_last = std::chrono::steady_clock::now();
    }

protected:
    void newProperty(INDI::Property property) override
    {
        std::lock_guard lock(m_mutex);
        m_last = std::chrono::steady_clock::now();
        if (!property.isNameMatch("DRIVER_INFO"))
            return;
        for (const auto &element : INDI::PropertyText(property)) {
            if (element.isNameMatch("DRIVER_INTERFACE")
                && (QByteArray(element.getText()).toUInt() & INDI::BaseDevice::CCD_INTERFACE)) {
                const QString name = QString::fromUtf8(property.getDeviceName());
                if (!m_cameras.contains(name))
                    m_cameras.append(name);
            }
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::chrono::steady_clock::time_point m_last;
    QStringList m_cameras;
};

} // namespace

QStringList listIndiCameras(const IndiServer &server, int timeoutMs)
{
    ListingClient client;
    client.setServer(server.host.toUtf8().constData(), server.port);
    client.setConnectionTimeout(uint32_t(timeoutMs / 1000), uint32_t(timeoutMs % 1000) * 1000);
    client.started();
    if (!client.connectServer())
        return {};
    client.started();
    return client.cameras(std::chrono::milliseconds(timeoutMs));
}

IndiDriverSource::IndiDriverSource(QList<IndiServer> servers) : m_servers(std::move(servers))
{}

void IndiDriverSource::list()
{
    // A listing asks for every driver in turn: one look serves them all.
    if (m_listed.isValid() && m_listed.elapsed() < 2000)
        return;
    m_cameras.clear();
    const QList<IndiServer> servers =
        m_servers.isEmpty() ? indiServers(indiServersFile()) : m_servers;
    for (const IndiServer &server : servers) {
        for (const QString &device : listIndiCameras(server, connectTimeoutMs)) {
            const QString name =
                server.isLocal() ? device : QStringLiteral("%1 on %2").arg(device, server.host);
            m_cameras.push_back({server, device, name});
        }
    }
    m_listed.start();
}

std::vector<DriverDescription> IndiDriverSource::drivers()
{
    list();
    std::vector<DriverDescription> result;
    for (const Camera &camera : m_cameras)
        result.push_back({camera.name, QStringLiteral("INDI camera on %1:%2")
                                           .arg(camera.server.host)
                                           .arg(camera.server.port)});
    return result;
}

std::unique_ptr<CaptureDevice> IndiDriverSource::open(int index, QString *error)
{
    list();
    if (index < 0 || index >= int(m_cameras.size())) {
        *error = QStringLiteral("The INDI camera is gone");
        return nullptr;
    }
    const Camera &camera = m_cameras[size_t(index)];
    const QString label = QStringLiteral("%1 on %2").arg(camera.device, camera.server.host);
    auto device =
        std::make_unique<IndiCamera>(camera.server, camera.device, label, connectTimeoutMs);
    if (!device->connected()) {
        *error = QStringLiteral("The INDI server %1:%2 does not answer")
                     .arg(camera.server.host)
                     .arg(camera.server.port);
        m_listed.invalidate();
        return nullptr;
    }
    return device;
}

} // namespace voruna
