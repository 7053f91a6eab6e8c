// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/indi/indiservers.h"

#include "video/indi/indiaddress.h"
#include "video/indi/indicamera.h"

#include <baseclient.h>
#include <basedevice.h>

#include <QDir>
#include <QFile>

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

IndiDriverSource::IndiDriverSource(QList<IndiServer> servers) : m_servers(std::move(servers))
{}

void IndiDriverSource::list()
{
    // A listing asks for every driver in turn: one look serves them all.
    if (m_listed.isValid() && m_listed.elapsed() < 2000)
        return;
    m_cameras.clear();
    const QList<IndiAddress> servers = distinctIndiServers(
        resolveIndiServers(m_servers.isEmpty() ? indiServers(indiServersFile()) : m_servers,
                           std::chrono::milliseconds(connectTimeoutMs)));
    for (const IndiAddress &server : servers) {
        for (const QString &device : listIndiCameras(server, connectTimeoutMs)) {
            const QString name = server.server.isLocal()
                                     ? device
                                     : QStringLiteral("%1 on %2").arg(device, server.server.host);
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
                                           .arg(camera.server.server.host)
                                           .arg(camera.server.server.port)});
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
    const QString label = QStringLiteral("%1 on %2").arg(camera.device, camera.server.server.host);
    auto device =
        std::make_unique<IndiCamera>(camera.server, camera.device, label, connectTimeoutMs);
    if (!device->connected()) {
        *error = QStringLiteral("The INDI server %1:%2 does not answer")
                     .arg(camera.server.server.host)
                     .arg(camera.server.server.port);
        m_listed.invalidate();
        return nullptr;
    }
    return device;
}

} // namespace voruna
