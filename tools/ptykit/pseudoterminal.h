// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/ownedfd.h"

#include <QString>

namespace voruna {

// A pseudo-terminal whose slave side stands for a serial device. The slave is in raw mode (no
// echo, no line editing, no translation) at 9600 baud, the way a serial adaptor presents itself.
// An own slave descriptor stays open, so the master never sees a hang-up when a program closes
// the device and opens it again. The master is non-blocking.
class PseudoTerminal {
public:
    // true when the pseudo-terminal is made; otherwise error says why.
    bool open(QString *error);
    // Closes the master and the own slave descriptor: programs holding the device see a hang-up,
    // as when an adaptor is unplugged.
    void close();

    bool isOpen() const { return m_master.isValid(); }
    int masterFd() const { return m_master.get(); }
    // e.g. /dev/pts/5
    QString slavePath() const { return m_slavePath; }

    // Bytes written on the master that no program has read from the device yet.
    int pendingForDevice() const;
    // Throws those bytes away, as a serial driver does when its port is closed.
    void dropPendingForDevice();

    // A program that opened the device for itself alone (TIOCEXCL, as QSerialPort does) and
    // died without closing it leaves the device exclusive, since our own descriptor keeps it
    // from being released: nobody but root could open it again. Lifts that when no other
    // process holds the device any more; true when it did.
    bool releaseAbandonedExclusivity();

private:
    OwnedFd m_master;
    OwnedFd m_slave;
    QString m_slavePath;
};

} // namespace voruna
