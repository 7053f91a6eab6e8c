// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/ptykit/portlink.h"
#include "tools/ptykit/pseudoterminal.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace voruna {

// The far end of a serial port, held by the test: a raw pseudo-terminal linked as comN in a
// ports folder, so that the program under test opens it as COM N. The test reads what the program
// wrote and writes what the program shall read. Waits keep the test's event loop turning, as
// QTest::qWait does. The link goes when the peer does.
class PtyPeer {
public:
    // Links com<portNumber> in portsFolder to a new pseudo-terminal, replacing what is there.
    PtyPeer(const QString &portsFolder, int portNumber);
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isValid() const { return m_valid; }
    QString errorString() const { return m_error; }
    // The device the program opens, e.g. /dev/pts/5, and the link that names it.
    QString devicePath() const { return m_pty.slavePath(); }
    QString linkPath() const { return m_link.path(); }

    // Everything the program writes within ms milliseconds (and what was read before and not
    // yet returned).
    QByteArray readFor(int ms);
    // The first count bytes, or fewer when timeoutMs passes first; bytes beyond count are kept
    // for the next read.
    QByteArray readUntil(int count, int timeoutMs);
    // Reads until done(all bytes so far) holds or timeoutMs passes; returns all bytes so far.
    QByteArray readUntil(const std::function<bool(const QByteArray &)> &done, int timeoutMs);
    // Hands the bytes to the program's side; true when all were taken within a second.
    bool write(const QByteArray &bytes);
    // Unplugs the device: closes the pseudo-terminal, so the program's reads and writes fail.
    void hangUp();
    bool isHungUp() const { return !m_pty.isOpen(); }
    // The device's far end, non-blocking, for a test that talks to it from a thread of its own.
    int masterFd() const { return m_pty.masterFd(); }

private:
    // Collects what arrives until done() holds or timeoutMs passes.
    void collect(const std::function<bool()> &done, int timeoutMs);

    PseudoTerminal m_pty;
    PortLink m_link;
    QByteArray m_received;
    QString m_error;
    bool m_valid = false;
};

} // namespace voruna
