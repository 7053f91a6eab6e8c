// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mountfeed/mountfeed.h"
#include "tools/adaptorsim/commanddecoder.h"
#include "tools/adaptorsim/mountmodel.h"
#include "tools/adaptorsim/seeing.h"
#include "tools/adaptorsim/simoptions.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

namespace voruna {

class MountFeedServer;
class PseudoTerminal;
class StopSignals;
class TruthLog;

// The simulated adaptor on the master side of a pseudo-terminal: answers the probe as the
// options say, moves its mount by the slew commands, and prints one line per command received,
// flushed at once. With a `feed` (which must outlive it), it answers the sky camera's requests
// for the mount's position from the same loop, each with a fresh seeing shift; with a `truth`
// log (which must outlive it too), it writes down every command and every answer.
class AdaptorSim {
public:
    AdaptorSim(const SimOptions &options, PseudoTerminal &pty, FILE *log,
               MountFeedServer *feed = nullptr, TruthLog *truth = nullptr);

    // Serves the port until a stop signal arrives (returns 0) or the terminal fails (returns 1).
    // Never blocks on the port: every wait is the one poll.
    int run(StopSignals &stop);

private:
    using Clock = std::chrono::steady_clock;
    struct Scheduled {
        Clock::time_point due;
        QByteArray bytes;
        QString note;
    };

    void say(const QString &line);
    bool readCommands();
    void handle(const ReceivedCommand &command);
    void answerProbe();
    void handleMove(const ReceivedCommand &command);
    void sendDue();
    void giveUpUnfinished();
    void releaseAbandonedPort();
    bool writeOut();
    int pollTimeoutMs() const;
    MountReading mountNow();
    void writeTruth(const QByteArray &event, Clock::time_point now,
                    std::optional<SkyOffset> seeing = std::nullopt);

    SimOptions m_options;
    PseudoTerminal &m_pty;
    FILE *m_log;
    CommandDecoder m_decoder;
    QByteArray m_out; // answers not yet taken by the terminal
    const QByteArray m_filler;
    std::vector<Scheduled> m_scheduled;
    MountFeedServer *m_feed;
    MountModel m_mount;
    Seeing m_seeing;
    TruthLog *m_truth;
    std::array<std::optional<Clock::time_point>, 4> m_movingSince; // n, s, w, e
    Clock::time_point m_lastReceived;
    Clock::time_point m_lastExclusivityLook;
    QString m_failure;
};

} // namespace voruna
