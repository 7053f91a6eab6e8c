// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pieces of FITS writing shared by this folder's files. It includes cfitsio, which the folder
// links privately: only its own sources include it.
#include <fitsio.h>

#include <QByteArray>
#include <QString>

#include <functional>

namespace voruna {

// FITS files are made of blocks of this many bytes.
inline constexpr qint64 kFitsBlock = 2880;

qint64 roundToFitsBlock(qint64 bytes);

// `text` as a FITS string: printable ASCII of at most 68 characters, others as '?'.
QByteArray fitsText(const QString &text);

// cfitsio's words for `status`, its message stack cleared.
QString fitsError(int status);

// The header of an image of `bitpix` and `axes` with the cards `cards` writes, made by cfitsio
// in memory: whole blocks, up to where the data begins. Empty with the reason in `error` when it
// fails.
QByteArray fitsHeader(int bitpix, int axisCount, long *axes,
                      const std::function<void(fitsfile *, int *)> &cards, QString *error);

} // namespace voruna
