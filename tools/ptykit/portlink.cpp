// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/ptykit/portlink.h"

#include "link/portowner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace voruna {

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// What the link at path points to, as written; empty when path is no link.
QString readLink(const QString &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(encoded(path).constData(), buffer, sizeof buffer - 1);
    return n < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(n)));
}

} // namespace

bool PortLink::mayReplace(const QString &oldTarget, QString *error) const
{
    struct stat st {};
    if (::stat(encoded(m_path).constData(), &st) != 0)
        return true; // leads nowhere

    const std::optional<PortOwner> owner = readPortOwner(QFileInfo(m_path).path(), m_portNumber);
    const bool noteFits = owner && owner->target == oldTarget;
    const bool madeBySibling = noteFits && owner->program == runningProgramName(::getpid());
    if (madeBySibling && owner->pid != ::getpid() && !portOwnerRuns(*owner))
        return true; // left behind by a simulator that is gone; the device is someone else's now

    if (madeBySibling) {
        *error = QStringLiteral("COM %1 is taken by a simulator that is running (pid %2): %3 -> %4")
                     .arg(m_portNumber)
                     .arg(owner->pid)
                     .arg(m_path, oldTarget);
    } else {
        *error = QStringLiteral("COM %1 is pinned to a device that is present: %2 -> %3; "
                                "remove that link or choose another port")
                     .arg(m_portNumber)
                     .arg(m_path, oldTarget);
    }
    return false;
}

bool PortLink::create(const QString &folder, int portNumber, const QString &target,
                      Existing existing, QString *error)
{
    remove();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot make the ports folder %1").arg(folder);
        return false;
    }
    const QDir dir(folder);
    m_portNumber = portNumber;
    m_path = dir.filePath(QStringLiteral("com%1").arg(portNumber));
    m_notePath = portOwnerNotePath(folder, portNumber);
    m_replaced.clear();
    m_target.clear();

    struct stat st {};
    const bool present = ::lstat(encoded(m_path).constData(), &st) == 0;
    if (present && !S_ISLNK(st.st_mode)) {
        *error =
            QStringLiteral("%1 is there and is not a link; move it away or choose another port")
                .arg(m_path);
        return false;
    }
    const QString oldTarget = present ? readLink(m_path) : QString();
    if (present && existing == Existing::KeepLive && !mayReplace(oldTarget, error))
        return false;

    if (!placeLink(target, present, error)) {
        m_path.clear();
        return false;
    }
    // Written after the link, so that a note never vouches for a link that is not this one's.
    QSaveFile note(m_notePath);
    if (note.open(QIODevice::WriteOnly)) {
        note.write(portOwnerNote({::getpid(), runningProgramName(::getpid()), target}));
        note.commit();
    }
    m_target = target;
    m_replaced = oldTarget;
    return true;
}

bool PortLink::placeLink(const QString &target, bool replacing, QString *error)
{
    const QByteArray path = encoded(m_path);
    const QByteArray to = encoded(target);
    if (!replacing) {
        // Fails when another program made the link since it was looked at.
        if (::symlink(to.constData(), path.constData()) == 0)
            return true;
        *error = QStringLiteral("cannot link %1 -> %2: %3").arg(m_path, target, errnoText());
        return false;
    }
    // A new link under a temporary name renamed over the old one: the port never disappears
    // in between, and a reader never sees a half-made link.
    const QByteArray temporary = encoded(QStringLiteral("%1/.com%2.%3.new")
                                             .arg(QFileInfo(m_path).path())
                                             .arg(m_portNumber)
                                             .arg(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(to.constData(), temporary.constData()) == 0
        && ::rename(temporary.constData(), path.constData()) == 0)
        return true;
    *error = QStringLiteral("cannot link %1 -> %2: %3").arg(m_path, target, errnoText());
    ::unlink(temporary.constData());
    return false;
}

void PortLink::remove()
{
    if (m_target.isEmpty())
        return;
    // Someone may have pinned the port to something else meanwhile: leave theirs alone.
    if (readLink(m_path) == m_target)
        ::unlink(encoded(m_path).constData());
    const std::optional<PortOwner> owner = readPortOwner(QFileInfo(m_path).path(), m_portNumber);
    if (owner && owner->pid == ::getpid())
        QFile::remove(m_notePath);
    m_target.clear();
}

} // namespace voruna
