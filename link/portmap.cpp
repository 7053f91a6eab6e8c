// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/portmap.h"

#include "link/portowner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>
#include <tuple>

#include <sys/stat.h>

// How a port number becomes a device.
//
// Port n (1 to 16) is, in this order:
//  1. the entry "comN" (lower case) in the ports folder, when there is one. It is normally a
//     symbolic link to a device, the way Windows compatibility layers name COM ports, and it is
//     how a user pins a port. The link is followed to the end (links to links, such as
//     /dev/serial/by-id/...) so that every name of one device gives the same path, and so the
//     same lock. An entry that points nowhere means there is no port n: a pinned port never
//     falls back to a system port, or an unplugged adaptor would silently become another device.
//     Nor does a link to a pseudo-terminal that a simulator made and left behind when it was
//     killed: the terminal's number may have gone to someone's shell since.
//  2. otherwise the n-th serial port the system reports, counted in this order: ttyUSB* by
//     number, ttyACM* by number, ttyS* by number, then any other by name (numbers inside a name
//     compare as numbers, so ttyUSB10 comes after ttyUSB2). Pins do not renumber system ports.
//  3. otherwise there is no port n. Port 0 and ports above 16 never exist.

namespace voruna {

namespace {

QString pinnedEntry(const QString &folder, int portNumber)
{
    return QDir(folder).filePath(QStringLiteral("com%1").arg(portNumber));
}

bool entryExists(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Sort key of a port: its group, the name without its trailing number, the number, the name.
std::tuple<int, QString, qlonglong, QString> portKey(const PortCandidate &port)
{
    static const QRegularExpression numbered(QStringLiteral("^(.*?)(\\d+)$"));
    const QString name = QFileInfo(port.device).fileName();
    QString stem = name;
    qlonglong number = -1;
    const QRegularExpressionMatch match = numbered.match(name);
    if (match.hasMatch()) {
        stem = match.captured(1);
        number = match.captured(2).toLongLong();
    }
    int group = 3;
    if (stem == QLatin1String("ttyUSB"))
        group = 0;
    else if (stem == QLatin1String("ttyACM"))
        group = 1;
    else if (stem == QLatin1String("ttyS"))
        group = 2;
    return {group, stem, number, name};
}

QString canonicalOrAsGiven(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString descriptionOf(const QString &device, const QList<PortCandidate> &system)
{
    for (const PortCandidate &candidate : system) {
        if (candidate.device == device || canonicalOrAsGiven(candidate.device) == device)
            return candidate.description;
    }
    return {};
}

} // namespace

QString portsFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as for every XDG base directory.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/voruna/ports"));
}

void sortPorts(QList<PortCandidate> &ports)
{
    std::stable_sort(
        ports.begin(), ports.end(),
        [](const PortCandidate &a, const PortCandidate &b) { return portKey(a) < portKey(b); });
}

QList<PortCandidate> systemPorts()
{
    QList<PortCandidate> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.systemLocation(), info.description()});
    sortPorts(ports);
    return ports;
}

PortAssignment assignPort(int portNumber, const QString &folder, const QList<PortCandidate> &system)
{
    PortAssignment result;
    if (portNumber < 1 || portNumber > kPortCount)
        return result;

    const QString entry = pinnedEntry(folder, portNumber);
    if (!folder.isEmpty() && entryExists(entry)) {
        const QFileInfo info(entry);
        result.link = entry;
        result.linkTarget = info.isSymLink() ? info.symLinkTarget() : entry;
        result.device = info.canonicalFilePath(); // empty when the link points nowhere
        result.stale = isStaleOwnedLink(folder, portNumber, result.linkTarget, result.device);
        if (result.stale)
            result.device.clear();
        if (!result.device.isEmpty())
            result.description = descriptionOf(result.device, system);
        return result;
    }

    QList<PortCandidate> ordered = system;
    sortPorts(ordered);
    if (portNumber <= ordered.size()) {
        const PortCandidate &candidate = ordered.at(portNumber - 1);
        result.device = canonicalOrAsGiven(candidate.device);
        result.description = candidate.description;
    }
    return result;
}

QString deviceForPort(int portNumber, const QString &folder, const QList<PortCandidate> &system)
{
    return assignPort(portNumber, folder, system).device;
}

QString deviceForPort(int portNumber)
{
    if (portNumber < 1 || portNumber > kPortCount)
        return {};
    const QString folder = portsFolder();
    // A pinned port needs no look at the system's ports.
    const PortAssignment pinned = assignPort(portNumber, folder, {});
    if (!pinned.link.isEmpty())
        return pinned.device;
    return deviceForPort(portNumber, folder, systemPorts());
}

} // namespace voruna
