// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/ports.h"

#include <QList>
#include <QString>

namespace voruna {

// The folder where a user pins ports: comN links to a device, as Windows compatibility layers do.
// $XDG_CONFIG_HOME/voruna/ports, by default ~/.config/voruna/ports.
QString portsFolder();

struct PortCandidate {
    QString device;      // e.g. /dev/ttyUSB0
    QString description; // what the system says of it, may be empty
};

// The serial ports the system reports, USB adaptors first (ttyUSB*, then ttyACM*, by number),
// then the others (ttyS* by number, then any other by name).
QList<PortCandidate> systemPorts();

// Puts ports into the order systemPorts() reports them in; ports are told apart by file name.
void sortPorts(QList<PortCandidate> &ports);

// What port number n maps to now, with how it got there.
struct PortAssignment {
    QString device;      // canonical device path; empty when there is no port n
    QString description; // the system's words for that device, may be empty
    QString link;        // the comN entry that pins the port; empty when the port is not pinned
    QString linkTarget;  // where that entry points, also when it points nowhere
    // The entry leads to a pseudo-terminal whose simulator is gone (see portowner.h): no port.
    bool stale = false;
};

PortAssignment assignPort(int portNumber, const QString &folder,
                          const QList<PortCandidate> &system);

// The device behind port number n (1 to 16): the pinned link comN in portsFolder() if there is
// one, else the n-th system port; empty when there is no port n.
QString deviceForPort(int portNumber);
QString deviceForPort(int portNumber, const QString &folder, const QList<PortCandidate> &system);

} // namespace voruna
