// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace voruna {

// A program that links a pseudo-terminal as port n (the adaptor simulator) leaves a note beside
// the link, ".comN.owner": its process id, its program name and the link's target, one a line.
// When that process is gone the link is stale: the pseudo-terminal's number is free for the next
// terminal that opens, and the port must not lead into someone else's terminal.
struct PortOwner {
    qint64 pid = 0;
    QByteArray program;
    QString target; // the link's target as the owner wrote it
};

QString portOwnerNotePath(const QString &folder, int portNumber);
// The note's bytes.
QByteArray portOwnerNote(const PortOwner &owner);
// The note beside port n's link; nullopt when there is none or it is not a note.
std::optional<PortOwner> readPortOwner(const QString &folder, int portNumber);

// The program name the system gives process pid; empty when no such process runs.
QByteArray runningProgramName(qint64 pid);
// true when the owner's process still runs as the same program (a reused pid is not the owner).
bool portOwnerRuns(const PortOwner &owner);

// true for the slave side of a pseudo-terminal (/dev/pts/N); device is a canonical path.
bool isPseudoTerminal(const QString &device);

// true when port n's link, written as linkTarget and leading to device, is a pseudo-terminal
// whose owner's note says it is gone. A link with no note, or with a note about another target,
// was made by someone else (a user's socat, say) and is never stale.
bool isStaleOwnedLink(const QString &folder, int portNumber, const QString &linkTarget,
                      const QString &device);

} // namespace voruna
