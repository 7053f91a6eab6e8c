// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/ownedfd.h"

#include <QObject>

class QSocketNotifier;

namespace voruna {

// Turns SIGTERM, SIGINT and SIGHUP (logout, shutdown, kill, Ctrl+C in a terminal) into the
// signal requested() on the thread that created it, through a self-pipe, so that the program
// ends by its normal path instead of dying with a slew held. At most one exists at a time; the
// previous handlers come back when it is destroyed.
class ExitSignals final : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject *parent = nullptr);
    ~ExitSignals() override;

    // false when the pipe or the handlers could not be set up; the signals then keep their
    // default action.
    bool isValid() const { return m_notifier != nullptr; }

Q_SIGNALS:
    // One of the signals arrived; signalNumber is the first of a burst.
    void requested(int signalNumber);

private:
    void drain();

    OwnedFd m_readEnd;
    OwnedFd m_writeEnd;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace voruna
