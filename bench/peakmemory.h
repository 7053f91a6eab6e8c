// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The peak of the resident memory while a piece of work runs, from the kernel's own figures.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstring>

namespace voruna::bench {

// A field of /proc/self/status in KiB; 0 when it cannot be read.
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// The resident memory's peak while `work` runs, above what was resident before, in MiB.
template<typename Work>
double peakMiB(Work work)
{
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    if (reset.open(QIODevice::WriteOnly))
        reset.write("5");
    reset.close();
    const qint64 before = statusKiB("VmRSS:");
    work();
    return double(statusKiB("VmHWM:") - before) / 1024.0;
}

} // namespace voruna::bench
