// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ptypeer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace voruna {

namespace {

// Longest single wait on the terminal, so that the event loop keeps turning in between.
constexpr int kSliceMs = 2;

void turnEventLoop()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

PtyPeer::PtyPeer(const QString &portsFolder, int portNumber)
{
    m_valid = m_pty.open(&m_error)
              && m_link.create(portsFolder, portNumber, m_pty.slavePath(),
                               PortLink::Existing::Replace, &m_error);
}

void PtyPeer::collect(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        turnEventLoop();
        if (m_pty.isOpen()) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(m_pty.masterFd(), buffer, sizeof buffer)) > 0)
                m_received.append(buffer, int(n));
        }
        if (done() || deadline.hasExpired())
            return;
        if (m_pty.isOpen()) {
            pollfd fd{m_pty.masterFd(), POLLIN, 0};
            const qint64 left = deadline.remainingTime();
            ::poll(&fd, 1, left < 0 ? kSliceMs : int(std::min<qint64>(kSliceMs, left)));
        } else {
            ::usleep(kSliceMs * 1000);
        }
    }
}

QByteArray PtyPeer::readFor(int ms)
{
    collect([] { return false; }, ms);
    return std::exchange(m_received, {});
}

QByteArray PtyPeer::readUntil(int count, int timeoutMs)
{
    collect([&] { return m_received.size() >= count; }, timeoutMs);
    const QByteArray first = m_received.left(count);
    m_received.remove(0, first.size());
    return first;
}

QByteArray PtyPeer::readUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs)
{
    collect([&] { return done(m_received); }, timeoutMs);
    return std::exchange(m_received, {});
}

bool PtyPeer::write(const QByteArray &bytes)
{
    const QDeadlineTimer deadline(1000);
    qsizetype sent = 0;
    while (m_pty.isOpen() && sent < bytes.size() && !deadline.hasExpired()) {
        const ssize_t n =
            ::write(m_pty.masterFd(), bytes.constData() + sent, std::size_t(bytes.size() - sent));
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd fd{m_pty.masterFd(), POLLOUT, 0};
            ::poll(&fd, 1, kSliceMs);
        }
    }
    return sent == bytes.size();
}

void PtyPeer::hangUp()
{
    m_pty.close();
}

} // namespace voruna
