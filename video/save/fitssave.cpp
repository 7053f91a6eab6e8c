// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/save/fitssave.h"

#include <QSaveFile>

#include <fitsio.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace voruna {

namespace {

constexpr qint64 kBlock = 2880;

qint64 roundToBlock(qint64 bytes)
{
    return (bytes + kBlock - 1) / kBlock * kBlock;
}

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

// The samples plane after plane (grey; or red, green, blue), rows from the top; deep ones
// brought back to the camera's levels by `shift`.
template<typename Sample>
std::vector<Sample> planes(const QImage &frame, bool grey, int shift)
{
    const qsizetype width = frame.width(), height = frame.height();
    const qsizetype area = width * height;
    std::vector<Sample> out(std::size_t(area * (grey ? 1 : 3)));
    for (qsizetype y = 0; y < height; ++y) {
        Sample *r = out.data() + y * width;
        Sample *g = r + area, *b = g + area;
        const uchar *line = frame.constScanLine(int(y));
        for (qsizetype x = 0; x < width; ++x) {
            if constexpr (sizeof(Sample) == 2) {
                if (grey && frame.format() == QImage::Format_Grayscale16) {
                    r[x] = Sample(reinterpret_cast<const quint16 *>(line)[x] >> shift);
                    continue;
                }
                const QRgba64 p = reinterpret_cast<const QRgba64 *>(line)[x];
                r[x] = Sample(p.red() >> shift);
                if (!grey) {
                    g[x] = Sample(p.green() >> shift);
                    b[x] = Sample(p.blue() >> shift);
                }
            } else if (frame.format() == QImage::Format_Grayscale8) {
                r[x] = line[x];
            } else {
                const QRgb p = reinterpret_cast<const QRgb *>(line)[x];
                r[x] = Sample(qRed(p));
                if (!grey) {
                    g[x] = Sample(qGreen(p));
                    b[x] = Sample(qBlue(p));
                }
            }
        }
    }
    return out;
}

// FITS strings are printable ASCII of at most 68 characters.
QByteArray fitsText(const QString &text)
{
    QByteArray out = text.toLatin1().left(68);
    for (char &c : out)
        if (c < 32 || c > 126)
            c = '?';
    return out;
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

QString fitsError(int status)
{
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return QStringLiteral("FITS: %1").arg(QString::fromLatin1(text));
}

} // namespace

qint64 fitsSize(const QImage &frame)
{
    const qint64 planes = isGreyFormat(frame) ? 1 : 3;
    const qint64 bytes = isDeep(frame) ? 2 : 1;
    // One block holds the whole header.
    return kBlock + roundToBlock(qint64(frame.width()) * frame.height() * planes * bytes);
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
    const int shift = deep ? 16 - std::clamp(sampleBits, 9, 16) : 0;
    long axes[3] = {source.width(), source.height(), 3};
    const int axisCount = grey ? 2 : 3;
    const LONGLONG count = LONGLONG(axes[0]) * axes[1] * (grey ? 1 : 3);

    size_t bufferSize = size_t(kBlock);
    void *buffer = std::malloc(bufferSize);
    if (!buffer) {
        *error = QStringLiteral("no memory to save the picture");
        return {};
    }
    fitsfile *fits = nullptr;
    int status = 0;
    fits_create_memfile(&fits, &buffer, &bufferSize, size_t(kBlock) * 64, std::realloc, &status);
    fits_create_img(fits, deep ? USHORT_IMG : BYTE_IMG, axisCount, axes, &status);
    writeFacts(fits, facts, &status);
    if (deep) {
        std::vector<quint16> samples = planes<quint16>(source, grey, shift);
        fits_write_img(fits, TUSHORT, 1, count, samples.data(), &status);
    } else {
        std::vector<quint8> samples = planes<quint8>(source, grey, 0);
        fits_write_img(fits, TBYTE, 1, count, samples.data(), &status);
    }
    LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_hduaddrll(fits, &headStart, &dataStart, &dataEnd, &status);
    const int failure = status;
    int closing = 0;
    if (fits)
        fits_close_file(fits, &closing);
    QByteArray bytes;
    if (failure == 0 && closing == 0) {
        const qint64 length = dataStart + roundToBlock(count * (deep ? 2 : 1));
        bytes = QByteArray(static_cast<const char *>(buffer),
                           qsizetype(std::min<qint64>(length, qint64(bufferSize))));
    } else {
        *error = fitsError(failure ? failure : closing);
    }
    std::free(buffer);
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
