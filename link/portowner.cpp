// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/portowner.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>

namespace voruna {

QString portOwnerNotePath(const QString &folder, int portNumber)
{
    return QDir(folder).filePath(QStringLiteral(".com%1.owner").arg(portNumber));
}

QByteArray portOwnerNote(const PortOwner &owner)
{
    return QByteArray::number(owner.pid) + '\n' + owner.program + '\n'
           + QFile::encodeName(owner.target) + '\n';
}

std::optional<PortOwner> readPortOwner(const QString &folder, int portNumber)
{
    QFile note(portOwnerNotePath(folder, portNumber));
    // A note is three short lines; anything larger is not one.
    if (!note.open(QIODevice::ReadOnly) || note.size() > 8192)
        return std::nullopt;
    const QList<QByteArray> fields = note.readAll().split('\n');
    bool numeric = false;
    PortOwner owner;
    if (fields.size() >= 3)
        owner.pid = fields.at(0).toLongLong(&numeric);
    if (!numeric || owner.pid <= 0 || fields.at(1).isEmpty() || fields.at(2).isEmpty())
        return std::nullopt;
    owner.program = fields.at(1);
    owner.target = QFile::decodeName(fields.at(2));
    return owner;
}

QByteArray runningProgramName(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return {};
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return {};
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return comm.readAll().trimmed();
}

bool portOwnerRuns(const PortOwner &owner)
{
    const QByteArray name = runningProgramName(owner.pid);
    return !name.isEmpty() && name == owner.program;
}

bool isPseudoTerminal(const QString &device)
{
    return device.startsWith(QLatin1String("/dev/pts/"));
}

bool isStaleOwnedLink(const QString &folder, int portNumber, const QString &linkTarget,
                      const QString &device)
{
    if (!isPseudoTerminal(device))
        return false;
    const std::optional<PortOwner> owner = readPortOwner(folder, portNumber);
    return owner && owner->target == linkTarget && !portOwnerRuns(*owner);
}

} // namespace voruna
