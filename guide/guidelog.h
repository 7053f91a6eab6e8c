// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guideengine.h"
#include "guide/guidetypes.h"

#include <QDateTime>
#include <QFile>
#include <QString>

namespace voruna {

// The guide log's first line: the names of the columns guideLogLine() writes.
QString guideLogHeader();
// One frame as a line of the guide log, without the line end: seconds since the log began,
// the star's offset in pixels, along the axes in pixels and arcseconds, the corrections started
// (seconds, + west / north), signal-to-noise, whether the frame was stale, why the star was lost
// and the guide loop's state. Unknown numbers are empty fields.
QString guideLogLine(const GuideRecord &record, GuideState state);
// Where guide logs go: $XDG_STATE_HOME/voruna, or ~/.local/state/voruna.
QString guideLogFolder();
// The log's file name for a session that began at `start`: guide-YYYY-MM-DD-HHMMSS.csv.
QString guideLogName(const QDateTime &start);

// One session's guide log: a CSV file written line by line, each line on disk once written. A
// folder or disk that refuses it leaves the log closed with a calm note; guiding goes on.
class GuideLog {
public:
    // Creates the folder when needed and starts a new file in it; false with note() saying why.
    bool open(const QString &folder, const QDateTime &start);
    // Appends one line; a write that fails closes the log with a note.
    void write(const GuideRecord &record, GuideState state);
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }
    QString note() const { return m_note; }

private:
    QFile m_file;
    QString m_note;
};

} // namespace voruna
