// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

namespace voruna {

// One thing the adaptor received: the probe, a movement command, or bytes it does not know.
struct ReceivedCommand {
    enum class Kind { Probe, Move, Unknown };
    Kind kind = Kind::Unknown;
    QByteArray bytes;   // as received
    char direction = 0; // n, s, w or e for Move
    bool start = false; // Move: true for :M, false for :Q
};

// Splits the byte stream from the computer into commands. A command may arrive in pieces; bytes
// that cannot begin or continue a command are reported as unknown.
class CommandDecoder {
public:
    // The commands that these bytes complete, in order.
    QList<ReceivedCommand> feed(const QByteArray &bytes);
    // Gives up on an unfinished command: its bytes, as unknown, or nothing.
    QList<ReceivedCommand> flush();
    bool hasUnfinished() const { return !m_partial.isEmpty(); }

private:
    void take(char byte, QList<ReceivedCommand> &out);
    void endUnknown(QList<ReceivedCommand> &out);

    QByteArray m_partial; // the start of a ":Xd#" command
    QByteArray m_unknown; // a run of unknown bytes
};

} // namespace voruna
