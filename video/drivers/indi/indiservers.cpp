// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/indi/indiservers.h"

#include "video/drivers/indi/indiaddress.h"
#include "video/drivers/indi/indicamera.h"

#include <baseclient.h>
#include <basedevice.h>

#include <QDir>
#include <QFile>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace voruna {

namespace {

// A short-lived client that notes the CCD devices a server defines.
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

QStringList listIndiCameras(const IndiAddress &server, int timeoutMs)
{
    if (server.address.isEmpty())
        return {};
    ListingClient client;
    client.setServer(server.address.toUtf8().constData(), server.server.port);
    client.setConnectionTimeout(uint32_t(timeoutMs / 1000), uint32_t(timeoutMs % 1000) * 1000);
    client.started();
    if (!client.connectServer())
        return {};
    client.started();
    return client.cameras(std::chrono::milliseconds(timeoutMs));
}

IndiDriverSource::IndiDriverSource(QList<IndiServer> servers)
    : m_servers(std::move(servers))
    , m_home(std::make_unique<QObject>())
{}

IndiDriverSource::~IndiDriverSource()
{
    for (Asking &asking : m_asking)
        asking.thread.join();
}

QList<IndiServer> IndiDriverSource::servers() const
{
    return m_servers.isEmpty() ? indiServers(indiServersFile()) : m_servers;
}

QList<IndiAddress> IndiDriverSource::addresses() const
{
    return distinctIndiServers(
        resolveIndiServers(servers(), std::chrono::milliseconds(connectTimeoutMs)));
}

std::vector<DriverDescription> IndiDriverSource::describe(const IndiAddress &server,
                                                          const QStringList &devices)
{
    std::vector<DriverDescription> described;
    const IndiServer &named = server.server;
    for (const QString &device : devices) {
        const QString name =
            named.isLocal() ? device : QStringLiteral("%1 on %2").arg(device, named.host);
        // The key names the server as written, its port, the address it was found at and the
        // device, on lines of their own: opening it needs no second look-up.
        const QString key = QStringLiteral("%1\n%2\n%3\n%4")
                                .arg(named.host, QString::number(named.port), server.address,
                                     device);
        described.push_back(
            {name,
             QStringLiteral("INDI camera on %1:%2").arg(named.host).arg(named.port),
             {.key = key}});
    }
    return described;
}

std::vector<DriverDescription> IndiDriverSource::drivers()
{
    // Looks for every driver index in turn (the window's load) share one look.
    if (m_listed.isValid() && m_listed.elapsed() < 2000)
        return m_cameras;
    m_cameras.clear();
    for (const IndiAddress &server : addresses()) {
        const std::vector<DriverDescription> found =
            describe(server, listIndiCameras(server, connectTimeoutMs));
        m_cameras.insert(m_cameras.end(), found.begin(), found.end());
    }
    m_listed.start();
    return m_cameras;
}

void IndiDriverSource::listDrivers(QObject *context, DriverBatch found)
{
    std::erase_if(m_asking, [](Asking &asking) {
        if (!*asking.done)
            return false;
        asking.thread.join();
        return true;
    });
    // Built here, on the GUI thread, and only called there.
    auto deliver = std::make_shared<const std::function<void(int, std::vector<DriverDescription>)>>(
        [context = QPointer<QObject>(context), found](int group,
                                                      std::vector<DriverDescription> cameras) {
            if (context && !cameras.empty())
                found(group, cameras);
        });
    auto done = std::make_shared<std::atomic<bool>>(false);
    QObject *home = m_home.get();
    // The names are looked up together first, so that a server named twice is asked once; then
    // each server is asked on a thread of its own and answers as soon as it can.
    std::thread thread([named = servers(), deliver, home, done] {
        const QList<IndiAddress> servers = distinctIndiServers(
            resolveIndiServers(named, std::chrono::milliseconds(connectTimeoutMs)));
        std::vector<std::thread> asking;
        for (int group = 0; group < servers.size(); ++group) {
            asking.emplace_back([server = servers[group], group, deliver, home] {
                std::vector<DriverDescription> cameras =
                    describe(server, listIndiCameras(server, connectTimeoutMs));
                QMetaObject::invokeMethod(
                    home,
                    [deliver, group, cameras = std::move(cameras)] { (*deliver)(group, cameras); },
                    Qt::QueuedConnection);
            });
        }
        for (std::thread &one : asking)
            one.join();
        *done = true;
    });
    m_asking.push_back({std::move(thread), std::move(done)});
}

std::unique_ptr<CaptureDevice> IndiDriverSource::open(const QString &key, QString *error)
{
    const QStringList parts = key.split(QLatin1Char('\n'));
    bool portRead = false;
    const IndiAddress server{{parts.value(0), quint16(parts.value(1).toUInt(&portRead))},
                             parts.value(2)};
    const QString device = parts.mid(3).join(QLatin1Char('\n'));
    if (parts.size() < 4 || !portRead || server.address.isEmpty() || device.isEmpty()) {
        *error = QStringLiteral("The INDI camera is gone");
        return nullptr;
    }
    const QString label = QStringLiteral("%1 on %2").arg(device, server.server.host);
    auto camera = std::make_unique<IndiCamera>(server, device, label, connectTimeoutMs);
    if (!camera->connected()) {
        *error = QStringLiteral("The INDI server %1:%2 does not answer")
                     .arg(server.server.host)
                     .arg(server.server.port);
        m_listed.invalidate();
        return nullptr;
    }
    return camera;
}

} // namespace voruna
