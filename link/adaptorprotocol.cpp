// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/adaptorprotocol.h"

#include <QElapsedTimer>
#include <QThread>

namespace voruna {

DirectionCommands commandsFor(Direction direction)
{
    switch (direction) {
    case Direction::North:
        return {":Mn#", ":Qn#", QStringLiteral("DEC+")};
    case Direction::South:
        return {":Ms#", ":Qs#", QStringLiteral("DEC-")};
    case Direction::West:
        return {":Mw#", ":Qw#", QStringLiteral("RA+")};
    case Direction::East:
        return {":Me#", ":Qe#", QStringLiteral("RA-")};
    }
    return {};
}

void runOpenSequence(SerialControl &serial, int portIndex, ErrorTrap &trap)
{
    if (serial.portOpen())
        trap.take(serial.setPortOpen(false));
    trap.take(serial.setCommPort(portIndex + 1));
    trap.take(serial.setSettings(QString::fromLatin1(kLineSettings)));
    // A port number that failed above leaves the previous one set: the open may then succeed on
    // that port, and the trap still reports the failure.
    if (!serial.portOpen())
        trap.take(serial.setPortOpen(true));
}

void probeWait(const std::function<void(int)> &print, std::chrono::milliseconds minimumWait)
{
    QElapsedTimer clock; // monotonic
    clock.start();
    const qint64 totalNs = std::chrono::nanoseconds(minimumWait).count();
    for (int value = 1; value <= kProbeCount; ++value) {
        print(value);
        // Spread the count over the wait so the numbers visibly run to the end.
        const qint64 due = totalNs * value / kProbeCount;
        const qint64 ahead = due - clock.nsecsElapsed();
        if (ahead > 100000)
            QThread::usleep(static_cast<unsigned long>(ahead / 1000));
    }
    while (clock.nsecsElapsed() < totalNs)
        QThread::usleep(200);
}

bool readConnectReply(SerialControl &serial, ErrorTrap &trap, ReadBudget budget)
{
    QElapsedTimer clock;
    clock.start();
    qsizetype total = 0;
    for (;;) {
        QByteArray reply;
        trap.take(serial.input(reply));
        if (reply == kProbeAnswer)
            return true;
        total += reply.size();
        int waiting = 0;
        trap.take(serial.inBufferCount(waiting));
        if (waiting == 0)
            return false;
        if (total >= budget.bytes || clock.elapsed() >= budget.time.count())
            return false;
    }
}

bool readLoadReply(SerialControl &serial, ErrorTrap &trap)
{
    QByteArray reply;
    trap.take(serial.input(reply));
    return reply == kProbeAnswer;
}

} // namespace voruna
