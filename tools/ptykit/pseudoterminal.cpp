// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/ptykit/pseudoterminal.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace voruna {

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

bool PseudoTerminal::open(QString *error)
{
    close();
    OwnedFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.isValid()) {
        *error = systemError("cannot open a pseudo-terminal (posix_openpt)");
        return false;
    }
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
        *error = systemError("cannot unlock the pseudo-terminal (grantpt/unlockpt)");
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(master.get(), name, sizeof name) != 0) {
        *error = systemError("cannot name the pseudo-terminal (ptsname)");
        return false;
    }
    OwnedFd slave(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slave.isValid()) {
        *error = systemError("cannot open the pseudo-terminal's device");
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave.get(), &tio) != 0) {
        *error = systemError("cannot read the terminal settings");
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(slave.get(), TCSANOW, &tio) != 0) {
        *error = systemError("cannot put the terminal in raw mode");
        return false;
    }
    const int flags = ::fcntl(master.get(), F_GETFL);
    if (flags < 0 || ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = systemError("cannot make the pseudo-terminal non-blocking");
        return false;
    }
    m_master = std::move(master);
    m_slave = std::move(slave);
    m_slavePath = QFile::decodeName(name);
    return true;
}

void PseudoTerminal::close()
{
    m_master.reset();
    m_slave.reset();
}

int PseudoTerminal::pendingForDevice() const
{
    int count = 0;
    if (!m_slave.isValid() || ::ioctl(m_slave.get(), FIONREAD, &count) != 0)
        return 0;
    return count;
}

void PseudoTerminal::dropPendingForDevice()
{
    if (m_slave.isValid())
        ::tcflush(m_slave.get(), TCIFLUSH);
}

namespace {

// Whether a process other than this one has `device` open, by its descriptors in /proc.
bool heldByAnotherProcess(const QString &device)
{
    const QByteArray wanted = QFile::encodeName(device);
    const QString self = QString::number(::getpid());
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        if (pid == self || pid.front() < QLatin1Char('0') || pid.front() > QLatin1Char('9'))
            continue;
        const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fdFolder).entryList(QDir::Files | QDir::System)) {
            char target[PATH_MAX];
            const QByteArray link = QFile::encodeName(fdFolder + QLatin1Char('/') + fd);
            const ssize_t n = ::readlink(link.constData(), target, sizeof target);
            if (n > 0 && QByteArray(target, int(n)) == wanted)
                return true;
        }
    }
    return false;
}

} // namespace

bool PseudoTerminal::releaseAbandonedExclusivity()
{
    int exclusive = 0;
    if (!m_slave.isValid() || ::ioctl(m_slave.get(), TIOCGEXCL, &exclusive) != 0 || !exclusive)
        return false;
    if (heldByAnotherProcess(m_slavePath))
        return false;
    return ::ioctl(m_slave.get(), TIOCNXCL) == 0;
}

} // namespace voruna
