// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>

namespace voruna {

// What a saved frame's header tells besides its pixels.
struct FrameFacts {
    CameraFacts camera;
    // When the exposure began, in UTC; invalid when nothing is known of it.
    QDateTime exposureStart;
};

// A frame as FITS at the camera's own levels: `frame` as a camera hands it (RGB888, RGB32 or
// Grayscale8 for 8-bit cameras; Grayscale16 or RGBX64 with samples scaled to 16 bits for deeper
// ones, `sampleBits` telling the camera's depth). 8-bit frames are BYTE_IMG; deeper ones 16-bit
// with BZERO 32768, at the camera's levels (a 12-bit camera's 0..4095). A grey picture is one
// plane; a colour one three planes, red, green and blue. Rows run from the top (ROWORDER
// TOP-DOWN). The header has EXPTIME, DATE-OBS, INSTRUME, XPIXSZ/YPIXSZ (binned pixels),
// XBINNING/YBINNING and GAIN, each where known. Empty with the reason in `error` when the frame
// cannot be written (a null frame, no memory).
QByteArray fitsBytes(const QImage &frame, int sampleBits, const FrameFacts &facts, QString *error);

// The most bytes fitsBytes() gives such a frame (a colour buffer counted as three planes),
// without making it.
qint64 fitsSize(const QImage &frame);

// Writes `bytes` to `path` in full or not at all: a file already there stays as it was when the
// write fails (a full disk, a folder without the right to write). True on success, otherwise the
// reason in `error` in the system's words.
bool writeWhole(const QString &path, const QByteArray &bytes, QString *error);

// fitsBytes() then writeWhole(); true on success, otherwise the reason in `error`.
bool saveFits(const QString &path, const QImage &frame, int sampleBits, const FrameFacts &facts,
              QString *error);

} // namespace voruna
