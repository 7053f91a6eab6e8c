// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/save/fitssave.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace voruna {

// Bytes free for this user on the file system that holds `folder`; negative when unknown.
using FreeSpaceQuery = std::function<qint64(const QString &folder)>;
qint64 systemFreeSpace(const QString &folder);

// Saves every frame it is given as numbered FITS files in one folder
// (voruna-YYYYMMDD-hhmmss-00001.fits, the time the recording began in UTC), never over a file
// already there. Before each frame it asks how much room the disk has left and stops while a
// margin remains: the larger of a number of frames' size and a fixed reserve, so that the disk
// never fills.
class FrameRecorder {
public:
    static constexpr int marginFrames = 8;
    static constexpr qint64 reserveBytes = qint64(64) << 20;

    enum class Outcome { Saved, DiskNearlyFull, Failed };

    FrameRecorder(QString folder, QDateTime startUtc, FreeSpaceQuery freeSpace = systemFreeSpace);

    // Saves one frame (see fitsBytes()). Anything but Saved ends the recording: `message` then
    // says why, how many frames were saved and where, in words for the user.
    Outcome record(const QImage &frame, int sampleBits, const FrameFacts &facts, QString *message);

    int framesSaved() const { return m_saved; }
    const QString &folder() const { return m_folder; }
    // Where the next frame goes.
    QString nextPath();

private:
    QString stopped(const QString &why) const;

    QString m_folder;
    QString m_prefix;
    FreeSpaceQuery m_freeSpace;
    int m_number = 1;
    int m_saved = 0;
};

} // namespace voruna
