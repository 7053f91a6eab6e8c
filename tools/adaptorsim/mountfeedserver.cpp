// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/mountfeedserver.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace voruna {

namespace {

// More clients than any number of Voruna windows would open: the rest are turned away.
constexpr std::size_t kMaxClients = 16;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

MountFeedServer::~MountFeedServer()
{
    if (!m_listener.isValid())
        return;
    const QByteArray path = QFile::encodeName(m_path);
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(path.constData());
}

bool MountFeedServer::listen(const QString &path, QString *error)
{
    const QByteArray bytes = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (bytes.size() >= qsizetype(sizeof address.sun_path)) {
        *error = QStringLiteral("the socket path %1 is too long").arg(path);
        return false;
    }
    std::memcpy(address.sun_path, bytes.constData(), std::size_t(bytes.size()));
    struct stat st {};
    if (::lstat(bytes.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = QStringLiteral("%1 is there and is not a socket").arg(path);
            return false;
        }
        if (mountFeedAnswers(path)) {
            *error = QStringLiteral("another simulator publishes its mount on %1").arg(path);
            return false;
        }
        ::unlink(bytes.constData()); // left by a simulator that was killed
    }
    OwnedFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener.isValid()
        || ::bind(listener.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener.get(), 8) != 0 || ::lstat(bytes.constData(), &st) != 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(path, systemError());
        return false;
    }
    m_listener = std::move(listener);
    m_path = path;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return true;
}

void MountFeedServer::addPollFds(std::vector<pollfd> &fds) const
{
    if (!m_listener.isValid())
        return;
    fds.push_back({m_listener.get(), POLLIN, 0});
    for (const OwnedFd &client : m_clients)
        fds.push_back({client.get(), POLLIN, 0});
}

void MountFeedServer::serve(const std::vector<pollfd> &fds, std::size_t first,
                            const std::function<MountReading()> &reading)
{
    if (!m_listener.isValid() || first >= fds.size())
        return;
    // Clients first, by the places addPollFds() gave them; a new client waits for its turn.
    std::vector<int> gone;
    for (std::size_t i = first + 1; i < fds.size(); ++i) {
        if (fds[i].revents && !answer(fds[i].fd, reading))
            gone.push_back(fds[i].fd);
    }
    std::erase_if(m_clients, [&](const OwnedFd &client) {
        return std::find(gone.begin(), gone.end(), client.get()) != gone.end();
    });
    if (fds[first].revents & POLLIN)
        accept();
}

void MountFeedServer::accept()
{
    for (;;) {
        OwnedFd client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!client.isValid())
            return;
        if (m_clients.size() < kMaxClients)
            m_clients.push_back(std::move(client));
    }
}

bool MountFeedServer::answer(int fd, const std::function<MountReading()> &reading)
{
    char buffer[256];
    // A bounded share per turn: a client that keeps writing cannot starve the port.
    for (int turn = 0; turn < 16; ++turn) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        if (n <= 0)
            return false; // the client closed its end
        const qsizetype requests = std::count(buffer, buffer + n, '\n');
        for (qsizetype i = 0; i < requests; ++i) {
            const QByteArray line = mountReadingLine(reading());
            // A client that asks without reading fills its socket: it is dropped, not waited for.
            if (::send(fd, line.constData(), std::size_t(line.size()), MSG_NOSIGNAL | MSG_DONTWAIT)
                != line.size())
                return false;
        }
    }
    return true;
}

} // namespace voruna
