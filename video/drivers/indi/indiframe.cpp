// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/indi/indiframe.h"

#include <fitsio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace voruna {

namespace {

// The bytes of the picture made of a frame of `pixels`: three a pixel at most (8-bit frames are
// shown as RGB, deeper mono ones as 16-bit grey). Bounded like the frame itself, so that a small
// frame, or a small compressed one, cannot ask for a huge picture.
qint64 shownBytes(qint64 pixels)
{
    return pixels * 3;
}

// A FITS file read where its bytes are: cfitsio takes the buffer as writable, but only reads a
// file opened read-only.
class FitsFile {
public:
    explicit FitsFile(const QByteArray &bytes)
        : m_memory(const_cast<char *>(bytes.constData()))
        , m_size(size_t(bytes.size()))
    {
        fits_open_memfile(&m_file, "frame", READONLY, &m_memory, &m_size, 0, nullptr, &m_status);
    }
    ~FitsFile()
    {
        int status = 0;
        if (m_file)
            fits_close_file(m_file, &status);
    }
    FitsFile(const FitsFile &) = delete;
    FitsFile &operator=(const FitsFile &) = delete;

    fitsfile *file() const { return m_file; }
    int *status() { return &m_status; }

private:
    void *m_memory = nullptr;
    size_t m_size = 0;
    fitsfile *m_file = nullptr;
    int m_status = 0;
};

struct FitsLayout {
    int bitpix = 0;
    int axes = 0;
    long size[3] = {0, 0, 0};
    bool compressed = false;
};

// The picture's layout: that of the primary header, or of the first extension after an empty
// one, as fpack writes a tile-compressed picture.
bool readLayout(FitsFile &file, FitsLayout *layout)
{
    if (*file.status() == 0)
        fits_get_img_param(file.file(), 3, &layout->bitpix, &layout->axes, layout->size,
                           file.status());
    int type = 0;
    if (*file.status() == 0 && layout->axes == 0
        && fits_movrel_hdu(file.file(), 1, &type, file.status()) == 0)
        fits_get_img_param(file.file(), 3, &layout->bitpix, &layout->axes, layout->size,
                           file.status());
    if (*file.status() == 0)
        layout->compressed = fits_is_compressed_image(file.file(), file.status()) == 1;
    return *file.status() == 0;
}

// Reads `count` samples from `first` (counted from 0) as unsigned 16 bits.
bool readSamples(FitsFile &file, qint64 first, qint64 count, quint16 *samples)
{
    int anyNull = 0;
    fits_read_img(file.file(), TUSHORT, first + 1, count, nullptr, samples, &anyNull,
                  file.status());
    return *file.status() == 0;
}

// Fills `out` row by row: no copy of the whole picture is made on the way.
bool readPicture(FitsFile &file, const FitsLayout &layout, QImage *out)
{
    const int w = int(layout.size[0]);
    const int h = int(layout.size[1]);
    const int planes = layout.axes == 3 ? int(layout.size[2]) : 1;
    if (planes == 1 && layout.bitpix == 16) {
        for (int y = 0; y < h; ++y)
            if (!readSamples(file, qint64(y) * w, w, reinterpret_cast<quint16 *>(out->scanLine(y))))
                return false;
        return true;
    }
    std::vector<quint16> row(size_t(w), 0);
    const int shift = layout.bitpix == 16 ? 8 : 0;
    for (int c = 0; c < planes; ++c) {
        for (int y = 0; y < h; ++y) {
            if (!readSamples(file, (qint64(c) * h + y) * w, w, row.data()))
                return false;
            uchar *to = out->scanLine(y);
            for (int x = 0; x < w; ++x) {
                const auto value = uchar(row[size_t(x)] >> shift);
                if (planes == 3)
                    to[3 * x + c] = value;
                else
                    std::fill_n(to + 3 * x, 3, value);
            }
        }
    }
    return true;
}

} // namespace

bool decodeFitsFrame(const QByteArray &fits, QImage *image, QString *error)
{
    if (fits.size() > kMaxFrameBytes) {
        *error = QStringLiteral("frame of %1 bytes is larger than a camera sends").arg(fits.size());
        return false;
    }
    FitsFile file(fits);
    FitsLayout layout;
    if (!readLayout(file, &layout)) {
        *error = QStringLiteral("frame is not a FITS picture");
        return false;
    }
    const int bitpix = layout.bitpix;
    const int axes = layout.axes;
    const int planes = axes == 3 ? int(layout.size[2]) : 1;
    if ((axes != 2 && axes != 3) || (planes != 1 && planes != 3) || (bitpix != 8 && bitpix != 16)) {
        *error = QStringLiteral("frame has an unsupported layout (%1 axes, %2 bits)")
                     .arg(axes)
                     .arg(bitpix);
        return false;
    }
    const long width = layout.size[0];
    const long height = layout.size[1];
    if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) {
        *error = QStringLiteral("frame size %1 x %2 is out of bounds").arg(width).arg(height);
        return false;
    }
    if (shownBytes(qint64(width) * height) > kMaxFrameBytes) {
        *error = QStringLiteral("frame size %1 x %2 is too large").arg(width).arg(height);
        return false;
    }
    const qint64 dataBytes = qint64(width) * height * planes * (bitpix / 8);
    // The header ends on a 2880-byte block; the data must all be there before anything is read.
    // Compressed tiles are checked by cfitsio as it reads them.
    if (dataBytes > kMaxFrameBytes || (!layout.compressed && dataBytes > fits.size() - 2880)) {
        *error = QStringLiteral("frame of %1 x %2 is cut short").arg(width).arg(height);
        return false;
    }
    QImage out(int(width), int(height),
               planes == 1 && bitpix == 16 ? QImage::Format_Grayscale16 : QImage::Format_RGB888);
    if (out.isNull()) {
        *error = QStringLiteral("no memory for a picture of %1 x %2").arg(width).arg(height);
        return false;
    }
    if (!readPicture(file, layout, &out)) {
        *error = QStringLiteral("frame data cannot be read");
        return false;
    }
    *image = std::move(out);
    return true;
}

bool decodeStreamFrame(const QByteArray &bytes, bool compressed, QSize size, QImage *image,
                       QString *error)
{
    if (size.width() < 1 || size.height() < 1 || size.width() > kMaxFrameSide
        || size.height() > kMaxFrameSide) {
        *error = QStringLiteral("stream frame size %1 x %2 is out of bounds")
                     .arg(size.width())
                     .arg(size.height());
        return false;
    }
    const qint64 pixels = qint64(size.width()) * size.height();
    if (shownBytes(pixels) > kMaxFrameBytes) {
        *error = QStringLiteral("stream frame size %1 x %2 is too large")
                     .arg(size.width())
                     .arg(size.height());
        return false;
    }
    QByteArray plain = bytes;
    if (compressed) {
        // Never more than the largest frame of this size: a stream that inflates beyond is
        // refused there.
        plain = QByteArray(pixels * 3, Qt::Uninitialized);
        uLongf length = uLongf(plain.size());
        if (uncompress(reinterpret_cast<Bytef *>(plain.data()), &length,
                       reinterpret_cast<const Bytef *>(bytes.constData()), uLong(bytes.size()))
            != Z_OK) {
            *error = QStringLiteral("stream frame does not inflate to %1 x %2")
                         .arg(size.width())
                         .arg(size.height());
            return false;
        }
        plain.truncate(qsizetype(length));
    }
    const int channels = plain.size() == pixels ? 1 : plain.size() == pixels * 3 ? 3 : 0;
    if (channels == 0) {
        *error = QStringLiteral("stream frame of %1 bytes does not make %2 x %3")
                     .arg(plain.size())
                     .arg(size.width())
                     .arg(size.height());
        return false;
    }
    QImage out(size, QImage::Format_RGB888);
    const auto *in = reinterpret_cast<const uchar *>(plain.constData());
    for (int y = 0; y < size.height(); ++y) {
        uchar *row = out.scanLine(y);
        const uchar *from = in + qint64(y) * size.width() * channels;
        if (channels == 3)
            std::copy_n(from, size.width() * 3, row);
        else
            for (int x = 0; x < size.width(); ++x)
                std::fill_n(row + 3 * x, 3, from[x]);
    }
    *image = std::move(out);
    return true;
}

bool decodeIndiFrame(const QByteArray &bytes, qint64 declaredSize, const QString &format,
                     QSize streamSize, QImage *image, QString *error)
{
    const bool zlib = format.endsWith(QLatin1String(".z"));
    const QString kind = zlib ? format.chopped(2) : format;
    if (kind == QLatin1String(".stream"))
        return decodeStreamFrame(bytes, zlib, streamSize, image, error);
    if (kind != QLatin1String(".fits") && kind != QLatin1String(".fit")
        && kind != QLatin1String(".fits.fz")) {
        *error = format.isEmpty() ? QStringLiteral("a frame of no format")
                                  : QStringLiteral("a frame in %1, not FITS").arg(format.left(16));
        return false;
    }
    if (!zlib)
        return decodeFitsFrame(bytes, image, error);
    if (declaredSize <= 0 || declaredSize > kMaxFrameBytes) {
        *error = QStringLiteral("a compressed frame of %1 bytes").arg(declaredSize);
        return false;
    }
    std::unique_ptr<char, decltype(&free)> plain(static_cast<char *>(malloc(size_t(declaredSize))),
                                                 &free);
    uLongf length = uLongf(declaredSize);
    if (!plain) {
        *error = QStringLiteral("no memory for a frame of %1 bytes").arg(declaredSize);
        return false;
    }
    if (uncompress(reinterpret_cast<Bytef *>(plain.get()), &length,
                   reinterpret_cast<const Bytef *>(bytes.constData()), uLong(bytes.size()))
        != Z_OK) {
        *error = QStringLiteral("a compressed frame that does not inflate to its size");
        return false;
    }
    return decodeFitsFrame(QByteArray::fromRawData(plain.get(), qsizetype(length)), image, error);
}

} // namespace voruna
