// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace voruna {

// What the program's command line asks for.
struct ProgramCommand {
    enum class Outcome { Run, Help, Version, Error };
    Outcome outcome = Outcome::Run;
    QString text; // the help, the version line, or what is wrong followed by the usage
};

// Read before the toolkit starts, so that --help and --version answer without a display:
// either of them anywhere answers (the first one given), whatever else is there.
ProgramCommand readProgramArguments(const QStringList &arguments);

// Read after the toolkit has taken its own options (-platform, -display, ...) out of the
// command line: whatever is left is an error.
ProgramCommand readLeftoverArguments(const QStringList &arguments);

} // namespace voruna
