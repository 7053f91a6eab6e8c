// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tools/adaptorsim/mountmodel.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

namespace voruna {

// What the simulated sky really did, for judging a guider afterwards: a CSV file with one line
// per guide command and one per frame the sky camera asked for. Columns: seconds since the
// simulator started, the event ("start n", "stop w", "frame"), the axes moved by the commands,
// the tracking error (axes, periodic error and drift: where the mount points against where it
// should) and, on frame lines, the frame's seeing shift; all in arcseconds, RA then Dec. Each
// line is written through at once, so a reader follows it live.
class TruthLog {
public:
    static QByteArray header();
    // One line, ending in "\n". No seeing (a command) leaves its two columns empty.
    static QByteArray line(double seconds, const QByteArray &event, SkyOffset axes, SkyOffset error,
                           std::optional<SkyOffset> seeing);

    // Creates or empties `path` and writes the header; false with the reason in `error`.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file.isOpen(); }
    // Appends a line; a write that fails is given up quietly, the sky runs on.
    void write(const QByteArray &line);

private:
    QFile m_file;
};

} // namespace voruna
