// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/save/framerecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace voruna {

qint64 systemFreeSpace(const QString &folder)
{
    const QStorageInfo storage(folder);
    return storage.isValid() && storage.isReady() ? storage.bytesAvailable() : -1;
}

FrameRecorder::FrameRecorder(QString folder, QDateTime startUtc, FreeSpaceQuery freeSpace)
    : m_folder(std::move(folder))
    , m_prefix(QStringLiteral("voruna-%1-").arg(
          startUtc.toUTC().toString(QStringLiteral("yyyyMMdd-hhmmss"))))
    , m_freeSpace(std::move(freeSpace))
{
}

QString FrameRecorder::nextPath()
{
    const QDir dir(m_folder);
    // A file of an earlier recording begun in the same second is left as it is.
    for (;; ++m_number) {
        const QString path = dir.filePath(
            m_prefix + QStringLiteral("%1.fits").arg(m_number, 5, 10, QLatin1Char('0')));
        if (!QFileInfo::exists(path))
            return path;
    }
}

QString FrameRecorder::stopped(const QString &why) const
{
    const QString count = m_saved == 1 ? QStringLiteral("1 frame")
                                       : QStringLiteral("%1 frames").arg(m_saved);
    return QStringLiteral("Recording stopped: %1. %2 saved in %3.")
        .arg(why, count, QDir::toNativeSeparators(m_folder));
}

FrameRecorder::Outcome FrameRecorder::record(const QImage &frame, int sampleBits,
                                             const FrameFacts &facts, QString *message)
{
    const qint64 frameBytes = fitsSize(frame);
    const qint64 margin = std::max(frameBytes * marginFrames, reserveBytes);
    const qint64 free = m_freeSpace(m_folder);
    // Unknown room (a network file system that does not tell) is not a reason to stop; a
    // failed write still is.
    if (free >= 0 && free < frameBytes + margin) {
        *message = stopped(QStringLiteral("the disk is nearly full (%1 MB left)").arg(free >> 20));
        return Outcome::DiskNearlyFull;
    }
    QString error;
    if (!saveFits(nextPath(), frame, sampleBits, facts, &error)) {
        *message = stopped(QStringLiteral("a frame could not be written (%1)").arg(error));
        return Outcome::Failed;
    }
    ++m_saved;
    ++m_number;
    return Outcome::Saved;
}

} // namespace voruna
