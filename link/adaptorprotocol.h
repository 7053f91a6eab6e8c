// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/serialcontrol.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

namespace voruna {

inline constexpr char kLineSettings[] = "9600,n,8,1";
inline constexpr char kProbe[] = "?";
inline constexpr char kProbeAnswer[] = "^";

enum class Direction { North, South, West, East };

struct DirectionCommands {
    QByteArray start; // ":Mn#"
    QByteArray stop;  // ":Qn#"
    QString text;     // what the console shows while the movement runs, "DEC+"
};

DirectionCommands commandsFor(Direction direction);

// Close if open, set the port number (index + 1) and the line settings, open if closed. Every
// failing step goes into the trap; the caller tests it afterwards.
void runOpenSequence(SerialControl &serial, int portIndex, ErrorTrap &trap);

// The count shown while "Connect" waits for the adaptor's answer runs from 1 to this.
inline constexpr int kProbeCount = 3000;

// Waits between the probe and the read: counts 1 to kProbeCount, handing each value to print (which
// may draw it), and returns no earlier than minimumWait after it was called. Handles no events.
void probeWait(const std::function<void(int)> &print,
               std::chrono::milliseconds minimumWait = std::chrono::milliseconds(250));

// The read loop after "Connect"'s probe: reads until one read returns exactly "^", or a read
// that is not "^" leaves the buffer empty. A device that keeps sending is cut off after
// readBudget or byteBudget bytes, and counts as no answer.
struct ReadBudget {
    std::chrono::milliseconds time{1000};
    qsizetype bytes = 4096;
};
bool readConnectReply(SerialControl &serial, ErrorTrap &trap, ReadBudget budget = {});

// The load handling's single read: true when it returns exactly "^".
bool readLoadReply(SerialControl &serial, ErrorTrap &trap);

} // namespace voruna
