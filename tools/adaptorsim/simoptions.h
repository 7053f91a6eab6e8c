// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/adaptorsim/mountmodel.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace voruna {

// The mount's drift when no option says otherwise: the sky creeps down and to the left, as
// under a polar axis that is a little off (arcseconds per second).
constexpr double kDefaultDriftRa = -0.1;
constexpr double kDefaultDriftDec = -0.3;

// How the simulated adaptor behaves, from its command line.
struct SimOptions {
    int port = 1;         // links com<port>
    bool silent = false;  // never answers the probe
    bool lineEnd = false; // answers "^\r\n" in one write
    int lateMs = 0;       // answers this long after the probe
    int splitMs = -1;     // >= 0: answers "^", then "\r\n" this long after
    bool flood = false;   // keeps sending bytes
    bool sky = true;      // publishes the mount for the sky camera
    // The mount behind the adaptor: guide rates, periodic error, drift, backlash.
    MountSetup mount = [] {
        MountSetup m;
        m.driftRa = kDefaultDriftRa;
        m.driftDec = kDefaultDriftDec;
        return m;
    }();
    double seeingFwhm = 0.0;           // arcseconds; 0 keeps the picture steady
    double cameraAngle = 0.0;          // degrees the camera is turned against RA and Dec
    QString truthPath;                 // where the truth is written; empty for nowhere
    std::optional<std::uint64_t> seed; // of the seeing; none: a new one each run
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
