// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace voruna {

// The largest picture a camera server may send: a side of 16384 pixels and 256 MiB of data.
// A server is a peer on the network: anything larger is refused before memory is taken for it.
constexpr int kMaxFrameSide = 16384;
constexpr qint64 kMaxFrameBytes = qint64(256) << 20;

// Decodes a FITS picture as INDI cameras send it, also tile-compressed (fpack): mono 16-bit as
// Grayscale16, keeping its depth for the display's black and white points; mono 8-bit and three
// colour planes as RGB888. False with a reason in `error` for anything else, for a header that
// claims more than the limits above, for a file cut short and when there is no memory for the
// picture; `image` is then untouched. `fits` is read where it is, never copied.
bool decodeFitsFrame(const QByteArray &fits, QImage *image, QString *error);

// Decodes a frame by the format its server gives it: FITS (".fits", ".fit", ".fits.fz"), and
// the video stream's frames of `streamSize`, either also zlib-compressed (".z" after it) into
// `declaredSize` bytes at most. False with a reason in `error` for anything else.
bool decodeIndiFrame(const QByteArray &bytes, qint64 declaredSize, const QString &format,
                     QSize streamSize, QImage *image, QString *error);

// Decodes a frame of a driver's video stream: `size` pixels of 8-bit grey or RGB, as they are
// or zlib-compressed, as RGB888. False with a reason in `error` for a size out of bounds or
// bytes that do not make up the frame; `image` is then untouched.
bool decodeStreamFrame(const QByteArray &bytes, bool compressed, QSize size, QImage *image,
                       QString *error);

} // namespace voruna
