// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/indi/indiclient.h"

#include "video/drivers/indi/indicamera.h"
#include "video/drivers/indi/indiframe.h"

#include <basedevice.h>
#include <indidevapi.h>

#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <system_error>

namespace voruna {

namespace {

// A number as the server sent it, made safe to turn into an int, also after multiplying by a
// thousand: no camera setting comes near a million, and "nan" or "inf" is no setting at all.
double sane(double number)
{
    return std::isfinite(number) ? std::clamp(number, -1e6, 1e6) : 0.0;
}

IndiProperty copyProperty(INDI::Property property)
{
    IndiProperty copy;
    copy.name = QString::fromUtf8(property.getName());
    copy.state = int(property.getState());
    switch (property.getType()) {
    case INDI_NUMBER:
        for (const auto &element : INDI::PropertyNumber(property))
            copy.numbers.insert(QString::fromUtf8(element.getName()),
                                {sane(element.getValue()), sane(element.getMin()),
                                 sane(element.getMax()), sane(element.getStep())});
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

} // namespace

// Marks a callback of the library's thread under way while the camera is open.
class IndiClient::Callback {
public:
    explicit Callback(Link &link) : m_link(link)
    {
        const std::lock_guard lock(m_link.mutex);
        m_open = m_link.camera != nullptr;
        m_link.busy += m_open ? 1 : 0;
    }
    ~Callback()
    {
        if (!m_open)
            return;
        const std::lock_guard lock(m_link.mutex);
        if (--m_link.busy == 0)
            m_link.idle.notify_all();
    }
    Callback(const Callback &) = delete;
    Callback &operator=(const Callback &) = delete;
    // False once the camera is closed: the callback has nothing to do.
    bool open() const { return m_open; }

private:
    Link &m_link;
    bool m_open = false;
};

IndiClient::IndiClient(IndiCamera *camera, std::string device) : m_device(std::move(device))
{
    m_link->camera = camera;
}

IndiClient::~IndiClient()
{
    // A connect under way ends within the connection timeout.
    if (m_connector.joinable())
        m_connector.join();
    disconnectServer();
}

void IndiClient::close(std::unique_ptr<IndiClient> client)
{
    if (!client)
        return;
    const std::shared_ptr<Link> link = client->m_link;
    bool idle = false;
    {
        const std::lock_guard lock(link->mutex);
        link->camera = nullptr;
        idle = link->busy == 0 && client->m_connectDone;
    }
    // Deleted without the lock: leaving the server waits for the library's thread, which may be
    // about to look at the link.
    if (idle) {
        client.reset();
        return;
    }
    std::shared_ptr<IndiClient> ending(std::move(client));
    auto end = [link, ending]() mutable {
        {
            std::unique_lock lock(link->mutex);
            link->idle.wait(lock, [&link] { return link->busy == 0; });
        }
        ending.reset();
    };
    try {
        std::thread(end).detach();
    } catch (const std::system_error &) {
        end();
    }
}

void IndiClient::post(std::function<void(IndiCamera *)> call)
{
    const std::lock_guard lock(m_link->mutex);
    // Under the lock: the camera cannot be closed, and so deleted, before the call is queued,
    // and Qt drops what is queued to an object deleted after.
    if (IndiCamera *camera = m_link->camera)
        QMetaObject::invokeMethod(
            camera, [camera, call = std::move(call)] { call(camera); }, Qt::QueuedConnection);
}

void IndiClient::startConnecting()
{
    // Everything sent to the server goes from one thread at a time: this one until the server
    // is reached, then the library's (for the camera's first property) and the GUI thread, which
    // sends only once it has heard of the camera.
    m_connectDone = false;
    m_connector = std::thread([this] {
        const bool reached = connectServer();
        if (!reached)
            settle(Progress::Unreachable);
        post([reached](IndiCamera *camera) { camera->onServerReached(reached); });
        m_connectDone = true;
    });
}

void IndiClient::sendNumbers(const char *property,
                             std::initializer_list<std::pair<const char *, double>> values)
{
    INDI::PropertyNumber vector(values.size());
    vector.setDeviceName(m_device.c_str());
    vector.setName(property);
    size_t at = 0;
    for (const auto &[element, value] : values) {
        vector[at].setName(element);
        vector[at++].setValue(value);
    }
    sendNewNumber(vector);
}

void IndiClient::sendSwitch(const char *property, const char *on, const char *off)
{
    INDI::PropertySwitch vector(off ? 2 : 1);
    vector.setDeviceName(m_device.c_str());
    vector.setName(property);
    vector[0].setName(on);
    vector[0].setState(ISS_ON);
    if (off) {
        vector[1].setName(off);
        vector[1].setState(ISS_OFF);
    }
    sendNewSwitch(vector);
}

void IndiClient::setView(const DisplayView &view)
{
    const std::lock_guard lock(m_newest->mutex);
    m_newest->view = view;
}

void IndiClient::letGo(ShownFrame &&spent)
{
    const std::lock_guard lock(m_newest->mutex);
    m_newest->spent = std::move(spent);
}

IndiClient::Progress IndiClient::waitForCamera(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    m_settled.wait_for(lock, limit, [this] { return m_progress != Progress::Pending; });
    return m_progress;
}

void IndiClient::settle(Progress progress)
{
    std::lock_guard lock(m_mutex);
    if (m_progress == Progress::Pending)
        m_progress = progress;
    m_settled.notify_all();
}

void IndiClient::serverDisconnected(int)
{
    post([](IndiCamera *camera) { camera->onServerGone(); });
}

void IndiClient::take(INDI::Property property)
{
    const Callback callback(*m_link);
    if (!callback.open() || m_device != property.getDeviceName())
        return;
    if (!m_blobsAsked) {
        m_blobsAsked = true;
        setBLOBMode(B_ALSO, m_device.c_str(), nullptr);
    }
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
    IndiProperty copy = copyProperty(property);
    // The stream's frames carry no size of their own: it comes just before them.
    if (copy.name == QLatin1String("CCD_STREAM_FRAME"))
        m_streamSize = QSize(int(std::clamp(copy.numbers.value("WIDTH").value, 0.0, 1e6)),
                             int(std::clamp(copy.numbers.value("HEIGHT").value, 0.0, 1e6)));
    post([copy](IndiCamera *camera) { camera->onProperty(copy); });
    // After it is queued: the camera takes what waits for it once this says so.
    // Drivers define the size first and fill it in when the camera is connected.
    const auto *width = property.isNameMatch("CCD_INFO")
                            ? INDI::PropertyNumber(property).findWidgetByName("CCD_MAX_X")
                            : nullptr;
    if (width && width->getValue() > 0)
        settle(Progress::Described);
}

void IndiClient::frame(const INDI::WidgetView<IBLOB> &blob)
{
    QImage image;
    QString error;
    const QString kind = QString::fromUtf8(blob.getFormat());
    // The bytes the library holds. It leaves a zlib-compressed blob as it came, but one whose
    // whole format is ".z" it inflates, noting the inflated size apart from the length: never
    // more than the size the server declared is read, except of what is still compressed.
    const qint64 length = kind.endsWith(QLatin1String(".z"))
                              ? qint64(blob.getBlobLen())
                              : std::min<qint64>(blob.getBlobLen(), blob.getSize());
    if (length <= 0 || !blob.getBlob())
        error = QStringLiteral("an empty frame");
    else if (length > kMaxFrameBytes)
        error = QStringLiteral("a frame of %1 bytes, larger than a camera sends").arg(length);
    else
        // Read where the library holds it: a large frame is never copied.
        decodeIndiFrame(QByteArray::fromRawData(static_cast<const char *>(blob.getBlob()), length),
                        blob.getSize(), kind, m_streamSize, &image, &error);
    // Drawn here for the window, which then only blits it.
    ShownFrame shown{std::move(image), 0, {}, {}};
    shown.sampleBits = imageSampleBits(shown.frame);
    ShownFrame spent; // freed here, on leaving
    if (!shown.frame.isNull()) {
        {
            const std::lock_guard lock(m_newest->mutex);
            shown.view = m_newest->view;
            spent = std::exchange(m_newest->spent, ShownFrame());
        }
        renderView(shown.frame, shown.sampleBits, shown.view, &shown.picture);
    }
    {
        const std::lock_guard lock(m_newest->mutex);
        m_newest->shown = std::move(shown);
        m_newest->error = std::move(error);
        if (std::exchange(m_newest->queued, true))
            return;
    }
    post([slot = m_newest](IndiCamera *camera) {
        ShownFrame shown;
        QString error;
        {
            const std::lock_guard lock(slot->mutex);
            shown = std::exchange(slot->shown, ShownFrame());
            error = std::exchange(slot->error, QString());
            slot->queued = false;
        }
        camera->onFrame(shown, error);
    });
}

} // namespace voruna

namespace {
// The client library's own notes ("creating new connection..."), off unless asked for with
// QT_LOGGING_RULES="voruna.indi.debug=true".
Q_LOGGING_CATEGORY(indiLibraryLog, "voruna.indi", QtInfoMsg)
} // namespace

// The client library writes its notes to standard error through IDLog, with no setting to quiet
// them, and calls it through its procedure linkage table: this definition takes the library's
// place, so that a normal run's terminal stays clean.
extern "C" void IDLog(const char *format, ...)
{
    if (!indiLibraryLog().isDebugEnabled())
        return;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    qCDebug(indiLibraryLog, "%s", text);
}
