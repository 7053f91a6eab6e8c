// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/indi/indicamera.h"

#include "video/capture/notices.h"
#include "video/drivers/indi/indiframe.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace voruna {

namespace {

QString secondsText(double seconds)
{
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', seconds < 0.1 ? 3 : 1);
}

} // namespace

IndiCamera::IndiCamera(const IndiAddress &server, const QString &device, const QString &label,
                       int timeoutMs, QObject *parent)
    : CaptureDevice(parent)
    , m_device(device)
    , m_label(label)
    , m_retry(new QTimer(this))
    , m_answerDeadline(new QTimer(this))
    , m_quiet(new QTimer(this))
    , m_server(QStringLiteral("%1:%2").arg(server.server.host).arg(server.server.port))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &IndiCamera::maybeExpose);
    m_quiet->setSingleShot(true);
    connect(m_quiet, &QTimer::timeout, this, &IndiCamera::onQuiet);
    m_sincePicture.start();
    m_answerDeadline->setSingleShot(true);
    connect(m_answerDeadline, &QTimer::timeout, this,
            [this] { giveUp(QStringLiteral("The INDI server %1 does not answer").arg(m_server)); });
    auto client = std::make_unique<IndiClient>(this, device.toStdString());
    client->setServer(server.address.toUtf8().constData(), server.server.port);
    client->setConnectionTimeout(uint32_t(timeoutMs / 1000), uint32_t(timeoutMs % 1000) * 1000);
    client->watchDevice(device.toUtf8().constData());
    client->startConnecting();
    // The window sizes itself to the picture when the camera is connected: a moment's wait lets
    // a camera that answers at once tell its size first. A slower one sizes the picture later.
    if (client->waitForCamera(std::chrono::milliseconds(sizeWaitMs))
        == IndiClient::Progress::Unreachable) {
        IndiClient::close(std::move(client));
        return;
    }
    m_client = std::move(client);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!m_properties.contains(QStringLiteral("CONNECTION")))
        m_answerDeadline->start(timeoutMs + answerWaitMs);
}

IndiCamera::~IndiCamera()
{
    // A stream nobody watches would keep the server's computer busy.
    if (m_useStream && m_reached && !m_lost)
        m_client->sendSwitch("CCD_VIDEO_STREAM", "STREAM_OFF", "STREAM_ON");
    // Nothing is queued to this object afterwards; a frame being read is finished without it.
    IndiClient::close(std::move(m_client));
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
    // The video stream has an exposure of its own.
    const auto *streamed = m_useStream ? number(QStringLiteral("STREAMING_EXPOSURE"),
                                                QStringLiteral("STREAMING_EXPOSURE_VALUE"))
                                       : nullptr;
    const auto *limits =
        streamed ? streamed
                 : number(QStringLiteral("CCD_EXPOSURE"), QStringLiteral("CCD_EXPOSURE_VALUE"));
    exposure.minimum = limits ? std::clamp(int(std::ceil(limits->minimum * 1000)), 1, 60000) : 1;
    exposure.maximum =
        limits ? std::clamp(int(limits->maximum * 1000), exposure.minimum, 60000) : 60000;
    exposure.defaultValue = std::clamp(1000, exposure.minimum, exposure.maximum);
    exposure.value = streamed ? std::clamp(int(std::lround(streamed->value * 1000)),
                                           exposure.minimum, exposure.maximum)
                              : m_exposureMs;
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

bool IndiCamera::setExposureSeconds(double seconds)
{
    const double ms = std::round(seconds * 1000.0);
    // The control's own range decides; this only keeps the conversion to int defined.
    if (!(ms >= 1.0 && ms <= 60000.0))
        return false;
    return setControl(exposureControl, int(ms));
}

bool IndiCamera::setControl(quint32 id, qint32 value)
{
    if (m_lost)
        return false;
    for (const DeviceControl &control : controls()) {
        if (control.id != id || value < control.minimum || value > control.maximum)
            continue;
        if (id == exposureControl && m_useStream
            && number(QStringLiteral("STREAMING_EXPOSURE"),
                      QStringLiteral("STREAMING_EXPOSURE_VALUE"))) {
            m_client->sendNumbers("STREAMING_EXPOSURE",
                                  {{"STREAMING_EXPOSURE_VALUE", value / 1000.0}});
            m_properties[QStringLiteral("STREAMING_EXPOSURE")]
                .numbers[QStringLiteral("STREAMING_EXPOSURE_VALUE")]
                .value = value / 1000.0;
            return true;
        }
        if (id == exposureControl) {
            m_exposureMs = value;
            if (m_announced)
                Q_EMIT statusNotice(notice::StreamStarted, description());
            return true;
        }
        const QPair<QString, QString> where = id == gainControl ? gainElement() : offsetElement();
        m_client->sendNumbers(where.first.toUtf8().constData(),
                              {{where.second.toUtf8().constData(), value}});
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
    watchForPictures();
    maybeExpose();
    // Last: whoever hears it may close this camera.
    if (fullSize().isEmpty())
        Q_EMIT statusNotice(notice::StreamStarted, QStringLiteral("%1: connecting").arg(m_label));
    return true;
}

void IndiCamera::maybeExpose()
{
    if (!m_streaming || m_exposing || m_lost || !m_reached || m_useStream)
        return;
    const auto link = m_properties.constFind(QStringLiteral("CONNECTION"));
    if (link == m_properties.constEnd())
        return;
    // A driver defines its camera's properties only once it is connected; the client asks it to
    // connect.
    if (!link->switches.value(QStringLiteral("CONNECT"))) {
        m_connectAsked = true;
        return;
    }
    // The frame may come before the driver has finished the exposure it belongs to: a new one
    // asked for meanwhile would be refused.
    const auto exposure = m_properties.constFind(QStringLiteral("CCD_EXPOSURE"));
    if (exposure == m_properties.constEnd() || exposure->state == IPS_BUSY)
        return;
    m_exposing = true;
    m_client->sendNumbers("CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", m_exposureMs / 1000.0}});
    watchForPictures();
}

void IndiCamera::watchForPictures()
{
    // An exposure's length and then some seconds for the picture to come over the network.
    m_quiet->start((m_useStream ? 0 : m_exposureMs) + quietMs);
}

void IndiCamera::onQuiet()
{
    if (m_lost || !m_streaming)
        return;
    // Said again when pictures come back.
    m_announced = false;
    Q_EMIT statusNotice(notice::StreamStarted, QStringLiteral("%1: no picture for %2 s")
                                                   .arg(m_label)
                                                   .arg(m_sincePicture.elapsed() / 1000));
}

void IndiCamera::onProperty(const IndiProperty &property)
{
    if (m_lost)
        return;
    m_answerDeadline->stop();
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
        m_retry->start(1000);
        Q_EMIT statusNotice(notice::StreamStarted,
                            QStringLiteral("%1: the exposure failed, trying again").arg(m_label));
        return;
    }
    maybeExpose();
}

void IndiCamera::onFrame(const ShownFrame &shown, const QString &error)
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
    const bool stale = !m_staleSize.isEmpty() && shown.frame.size() == m_staleSize;
    m_staleSize = QSize();
    if (stale) {
        maybeExpose();
        return;
    }
    m_shown = shown;
    m_waiting = true;
    m_sincePicture.start();
    watchForPictures();
    const bool resized = shown.frame.size() != m_lastSize;
    m_lastSize = shown.frame.size();
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

void IndiCamera::onServerReached(bool reached)
{
    m_reached = reached;
    if (!reached)
        giveUp(QStringLiteral("The INDI server %1 does not answer").arg(m_server));
    else
        maybeExpose();
}

void IndiCamera::giveUp(const QString &text)
{
    if (m_lost)
        return;
    m_lost = true;
    m_streaming = false;
    m_retry->stop();
    m_quiet->stop();
    m_answerDeadline->stop();
    Q_EMIT failed(notice::ConnectFailed, text);
}

void IndiCamera::lose(const QString &why)
{
    m_lost = true;
    m_streaming = false;
    m_waiting = false;
    m_retry->stop();
    m_quiet->stop();
    m_answerDeadline->stop();
    Q_EMIT failed(notice::DeviceLost, QStringLiteral("%1 lost: %2").arg(m_label, why));
}

QString IndiCamera::description() const
{
    const StreamFormat now = format();
    if (m_useStream)
        return QStringLiteral("%1: %2 x %3, 8-bit video stream")
            .arg(m_label)
            .arg(now.size.width())
            .arg(now.size.height());
    return QStringLiteral("%1: %2 x %3, %4-bit, %5 exposures")
        .arg(m_label)
        .arg(now.size.width())
        .arg(now.size.height())
        .arg(bitDepth())
        .arg(secondsText(m_exposureMs / 1000.0));
}

bool IndiCamera::takeFrame(ShownFrame *shown)
{
    if (!m_waiting || m_lost)
        return false;
    m_waiting = false;
    *shown = std::exchange(m_shown, ShownFrame());
    return true;
}

void IndiCamera::letGo(ShownFrame &&spent)
{
    if (m_client)
        m_client->letGo(std::move(spent));
}

void IndiCamera::setDisplayView(const DisplayView &view)
{
    if (m_client)
        m_client->setView(view);
}

} // namespace voruna
