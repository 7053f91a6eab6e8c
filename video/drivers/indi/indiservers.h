// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace voruna {

// An INDI server, as named in the servers file: "host" or "host:port".
struct IndiServer {
    QString host;
    quint16 port = 7624;
    bool isLocal() const;
    friend bool operator==(const IndiServer &, const IndiServer &) = default;
};

// A server once its name is looked up: the client library is only ever given `address`, the
// host's numeric IPv4 address.
struct IndiAddress {
    IndiServer server;
    QString address;
};

// Reads one line of the servers file; false for a blank line, a comment (#) or a bad port.
bool parseIndiServer(const QString &line, IndiServer *server);
// The servers to look at: this computer's first, then those of `file` (one a line) in their order,
// each once.
QList<IndiServer> indiServers(const QString &file);
// The user's servers file: $XDG_CONFIG_HOME/voruna/indi-servers.
QString indiServersFile();

// The CCD devices `server` (looked up) offers, within about `timeoutMs` for connecting and as
// much again for its answer; empty when it does not answer.
QStringList listIndiCameras(const IndiAddress &server, int timeoutMs);

// The INDI cameras of the servers named by the servers file (or `servers`, when given), and of
// this computer's. A listing looks all the names up together, within the connect timeout, then
// asks each server for its devices: one that refuses costs nothing, one that is silent a quarter
// of a second, one that cannot be reached the connect timeout; a server named twice (by name and
// by address) is asked once. drivers() waits for them all, and its listings within two seconds of
// each other share one look; listDrivers() does the same on threads of its own and hands each
// server's cameras over as it answers. A camera is opened by its server and device, never by its
// place in a list.
class IndiDriverSource final : public DriverSource {
public:
    explicit IndiDriverSource(QList<IndiServer> servers = {});
    // Waits for the listings still asking their servers.
    ~IndiDriverSource() override;
    std::vector<DriverDescription> drivers() override;
    // The cameras of the n-th server come as group n.
    void listDrivers(QObject *context, DriverBatch found) override;
    // The camera comes back at once, connecting in the background when its server is slow to
    // answer; nullptr when the server refuses.
    std::unique_ptr<CaptureDevice> open(const QString &key, QString *error) override;

    // How long connecting to a server may take, in milliseconds.
    static constexpr int connectTimeoutMs = 1000;

private:
    struct Asking {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    QList<IndiServer> servers() const;
    static std::vector<DriverDescription> describe(const IndiAddress &server,
                                                   const QStringList &devices);
    // The servers, looked up and each once, within the connect timeout.
    QList<IndiAddress> addresses() const;

    QList<IndiServer> m_servers;
    std::vector<DriverDescription> m_cameras;
    QElapsedTimer m_listed;
    // Lives on the GUI thread: the listings' threads hand their answers to it.
    std::unique_ptr<QObject> m_home;
    std::vector<Asking> m_asking;
};

} // namespace voruna
