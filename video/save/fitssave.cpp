// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/save/fitssave.h"
#include "video/save/fitsheader.h"

#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

namespace voruna {

namespace {

bool isDeep(const QImage &frame)
{
    return frame.format() == QImage::Format_Grayscale16 || frame.depth() == 64;
}

// The frame in a format read below: grey, QRgb or QRgba64 pixels.
QImage readable(const QImage &frame)
{
    switch (frame.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
        return frame;
    default:
        return frame.convertToFormat(isDeep(frame) ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    }
}

bool isGreyFormat(const QImage &frame)
{
    return frame.format() == QImage::Format_Grayscale8
           || frame.format() == QImage::Format_Grayscale16;
}

// True when every pixel's red, green and blue are equal: a grey camera's frame in a colour
// buffer, saved as one plane.
template<typename Pixel, typename Equal>
bool allGrey(const QImage &frame, Equal equal)
{
    for (int y = 0; y < frame.height(); ++y) {
        const auto *row = reinterpret_cast<const Pixel *>(frame.constScanLine(y));
        if (!std::all_of(row, row + frame.width(), equal))
            return false;
    }
    return true;
}

bool isGrey(const QImage &frame)
{
    if (isGreyFormat(frame))
        return true;
    if (isDeep(frame))
        return allGrey<QRgba64>(frame, [](QRgba64 p) {
            return p.red() == p.green() && p.green() == p.blue();
        });
    return allGrey<QRgb>(frame, [](QRgb p) { return qRed(p) == qGreen(p) && qGreen(p) == qBlue(p); });
}

// One row of a frame's pixels (grey samples, QRgb or QRgba64 as `Pixel` says) into the planes
// at r, g and b, brought to the camera's levels by `shift`; g and b are left alone for grey.
template<typename Pixel, typename Sample>
void splitRow(const uchar *line, qsizetype width, int shift, bool grey, Sample *r, Sample *g,
              Sample *b)
{
    const auto *in = reinterpret_cast<const Pixel *>(line);
    if constexpr (std::is_same_v<Pixel, QRgba64>) {
        for (qsizetype x = 0; x < width; ++x)
            r[x] = Sample(in[x].red() >> shift);
        for (qsizetype x = 0; x < width && !grey; ++x) {
            g[x] = Sample(in[x].green() >> shift);
            b[x] = Sample(in[x].blue() >> shift);
        }
    } else if constexpr (std::is_same_v<Pixel, QRgb>) {
        for (qsizetype x = 0; x < width; ++x)
            r[x] = Sample(qRed(in[x]));
        for (qsizetype x = 0; x < width && !grey; ++x) {
            g[x] = Sample(qGreen(in[x]));
            b[x] = Sample(qBlue(in[x]));
        }
    } else {
        for (qsizetype x = 0; x < width; ++x)
            r[x] = Sample(in[x] >> shift);
    }
}

// The samples plane after plane (grey; or red, green, blue), rows from the top, into `out`.
template<typename Sample>
void splitPlanes(const QImage &frame, bool grey, int shift, Sample *out)
{
    const qsizetype width = frame.width(), height = frame.height();
    const qsizetype area = width * height;
    const QImage::Format format = frame.format();
    for (qsizetype y = 0; y < height; ++y) {
        Sample *r = out + y * width, *g = r + area, *b = g + area;
        const uchar *line = frame.constScanLine(int(y));
        if (format == QImage::Format_Grayscale8)
            splitRow<quint8>(line, width, 0, grey, r, g, b);
        else if (format == QImage::Format_Grayscale16)
            splitRow<quint16>(line, width, shift, grey, r, g, b);
        else if (frame.depth() == 64)
            splitRow<QRgba64>(line, width, shift, grey, r, g, b);
        else
            splitRow<QRgb>(line, width, 0, grey, r, g, b);
    }
}

// FITS keeps 16-bit samples as big-endian signed numbers that BZERO 32768 brings back up.
void encodeUnsigned16(quint16 *samples, qsizetype count)
{
    for (qsizetype i = 0; i < count; ++i)
        samples[i] = qToBigEndian(quint16(samples[i] ^ 0x8000u));
}

void writeFacts(fitsfile *fits, const FrameFacts &facts, int *status)
{
    const CameraFacts &camera = facts.camera;
    fits_write_key_str(fits, "ROWORDER", "TOP-DOWN", "first row is the top of the picture", status);
    if (camera.exposureSeconds > 0)
        fits_write_key_dbl(fits, "EXPTIME", camera.exposureSeconds, 6, "[s] exposure", status);
    if (facts.exposureStart.isValid()) {
        const QByteArray start = facts.exposureStart.toUTC()
                                     .toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"))
                                     .toLatin1();
        fits_write_key_str(fits, "DATE-OBS", start.constData(), "UTC start of the exposure",
                           status);
    }
    if (!camera.name.isEmpty())
        fits_write_key_str(fits, "INSTRUME", fitsText(camera.name).constData(), "camera", status);
    // Pixel sizes are of the binned pixels, as the frame has them.
    if (camera.pixelWidthMicrons > 0)
        fits_write_key_dbl(fits, "XPIXSZ", camera.pixelWidthMicrons * camera.binX, 6,
                           "[um] pixel width, binned", status);
    if (camera.pixelHeightMicrons > 0)
        fits_write_key_dbl(fits, "YPIXSZ", camera.pixelHeightMicrons * camera.binY, 6,
                           "[um] pixel height, binned", status);
    long binX = std::max(1, camera.binX), binY = std::max(1, camera.binY);
    fits_write_key_lng(fits, "XBINNING", binX, "binning along rows", status);
    fits_write_key_lng(fits, "YBINNING", binY, "binning along columns", status);
    if (camera.gain >= 0)
        fits_write_key_dbl(fits, "GAIN", camera.gain, 6, "camera's gain setting", status);
    fits_write_key_str(fits, "SWCREATE", "Voruna", "program that saved the frame", status);
}

} // namespace

qint64 fitsSize(const QImage &frame)
{
    const qint64 planes = isGreyFormat(frame) ? 1 : 3;
    const qint64 bytes = isDeep(frame) ? 2 : 1;
    // One block holds the whole header.
    return kFitsBlock + roundToFitsBlock(qint64(frame.width()) * frame.height() * planes * bytes);
}

QByteArray fitsBytes(const QImage &frame, int sampleBits, const FrameFacts &facts, QString *error)
{
    if (frame.isNull()) {
        *error = QStringLiteral("there is no picture to save");
        return {};
    }
    const bool deep = isDeep(frame);
    const QImage source = readable(frame);
    const bool grey = isGrey(source);
    long axes[3] = {source.width(), source.height(), 3};
    const QByteArray head = fitsHeader(
        deep ? USHORT_IMG : BYTE_IMG, grey ? 2 : 3, axes,
        [&facts](fitsfile *fits, int *status) { writeFacts(fits, facts, status); }, error);
    if (head.isEmpty())
        return {};
    // The data after cfitsio's header, written here in one pass and zero-filled to its block.
    const qint64 count = qint64(axes[0]) * axes[1] * (grey ? 1 : 3);
    const qint64 size = head.size() + roundToFitsBlock(count * (deep ? 2 : 1));
    QByteArray bytes;
    try {
        bytes = QByteArray(qsizetype(size), '\0');
    } catch (const std::bad_alloc &) {
        *error = QStringLiteral("no memory to save the picture");
        return {};
    }
    std::memcpy(bytes.data(), head.constData(), std::size_t(head.size()));
    char *data = bytes.data() + head.size();
    if (deep) {
        auto *samples = reinterpret_cast<quint16 *>(data);
        splitPlanes(source, grey, 16 - std::clamp(sampleBits, 9, 16), samples);
        encodeUnsigned16(samples, count);
    } else {
        splitPlanes(source, grey, 0, reinterpret_cast<quint8 *>(data));
    }
    return bytes;
}

bool writeWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool saveFits(const QString &path, const QImage &frame, int sampleBits, const FrameFacts &facts,
              QString *error)
{
    const QByteArray bytes = fitsBytes(frame, sampleBits, facts, error);
    return !bytes.isEmpty() && writeWhole(path, bytes, error);
}

} // namespace voruna
