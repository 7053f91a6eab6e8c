// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/adaptorsim/mountmodel.h"

#include <QString>
#include <QStringList>

namespace voruna {

// How the simulated adaptor behaves, from its command line.
struct SimOptions {
    int port = 1;         // links com<port>
    bool silent = false;  // never answers the probe
    bool lineEnd = false; // answers "^\r\n" in one write
    int lateMs = 0;       // answers this long after the probe
    int splitMs = -1;     // >= 0: answers "^", then "\r\n" this long after
    bool flood = false;   // keeps sending bytes
    double guideRate =
        MountModel::defaultGuideRate; // arcseconds per second that a held direction moves the mount
    bool sky = true;                  // publishes the mount for the sky camera
};

struct SimOptionsResult {
    enum class Outcome { Run, Help, Version, Error };
    Outcome outcome = Outcome::Run;
    SimOptions options;
    QString text; // the help, the version line, or what is wrong
};

// Reads the arguments that follow the program name.
SimOptionsResult parseSimOptions(const QStringList &arguments);

} // namespace voruna
