// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/indi/indiaddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace voruna {

namespace {

// One lookup, shared by the thread that makes it and the caller that may stop waiting for it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QString address;
};

QString ipv4Address(const QByteArray &host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.constData(), nullptr, &hints, &found) != 0 || !found)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    const auto *inet = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    const bool named = inet_ntop(AF_INET, &inet->sin_addr, text, sizeof text) != nullptr;
    freeaddrinfo(found);
    return named ? QString::fromLatin1(text) : QString();
}

std::shared_ptr<Lookup> startLookup(const QString &host)
{
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, name = host.toUtf8()] {
            QString address = ipv4Address(name);
            const std::lock_guard lock(lookup->mutex);
            lookup->address = std::move(address);
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        // No thread to be had: the name counts as not found.
        lookup->finished = true;
    }
    return lookup;
}

} // namespace

QList<IndiAddress> resolveIndiServers(const QList<IndiServer> &servers,
                                      std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    std::vector<std::shared_ptr<Lookup>> lookups;
    for (const IndiServer &server : servers)
        lookups.push_back(startLookup(server.host));
    QList<IndiAddress> resolved;
    for (size_t at = 0; at < lookups.size(); ++at) {
        Lookup &lookup = *lookups[at];
        std::unique_lock lock(lookup.mutex);
        lookup.done.wait_until(lock, end, [&lookup] { return lookup.finished; });
        if (lookup.address.isEmpty())
            continue;
        resolved.append({servers[qsizetype(at)], lookup.address});
    }
    return resolved;
}

QList<IndiAddress> distinctIndiServers(const QList<IndiAddress> &resolved)
{
    QList<IndiAddress> distinct;
    for (const IndiAddress &server : resolved) {
        const bool seen = std::any_of(distinct.cbegin(), distinct.cend(), [&](const auto &other) {
            return other.address == server.address && other.server.port == server.server.port;
        });
        if (!seen)
            distinct.append(server);
    }
    return distinct;
}

} // namespace voruna
