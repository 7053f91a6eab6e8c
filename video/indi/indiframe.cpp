// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/indi/indiframe.h"

#include <fitsio.h>
#include <zlib.h>

#include <algorithm>
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

} // namespace

namespace {

class FitsFile {
public:
    explicit FitsFile(const QByteArray &bytes) : m_bytes(bytes), m_size(size_t(bytes.size()))
    {
        m_memory = m_bytes.data();
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
    QByteArray m_bytes; // cfitsio wants a writable buffer: a private copy
    void *m_memory = nullptr;
    size_t m_size = 0;
    fitsfile *m_file = nullptr;
    int m_status = 0;
};

} // namespace

bool decodeFitsFrame(const QByteArray &fits, QImage *image, QString *error)
{
    if (fits.size() > kMaxFrameBytes) {
        *error = QStringLiteral("frame of %1 bytes is larger than a camera sends").arg(fits.size());
        return false;
    }
    FitsFile file(fits);
    int bitpix = 0;
    int axes = 0;
    long size[3] = {0, 0, 0};
    if (*file.status() == 0)
        fits_get_img_param(file.file(), 3, &bitpix, &axes, size, file.status());
    if (*file.status() != 0) {
        *error = QStringLiteral("frame is not a FITS picture");
        return false;
    }
    const int planes = axes == 3 ? int(size[2]) : 1;
    if ((axes != 2 && axes != 3) || (planes != 1 && planes != 3) || (bitpix != 8 && bitpix != 16)) {
        *error = QStringLiteral("frame has an unsupported layout (%1 axes, %2 bits)")
                     .arg(axes)
                     .arg(bitpix);
        return false;
    }
    const long width = size[0];
    const long height = size[1];
    if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) {
        *error = QStringLiteral("frame size %1 x %2 is out of bounds").arg(width).arg(height);
        return false;
    }
    if (shownBytes(qint64(width) * height) > kMaxFrameBytes) {
        *error = QStringLiteral("frame size %1 x %2 is too large").arg(width).arg(height);
        return false;
    }
    const qint64 pixels = qint64(width) * height * planes;
    const qint64 dataBytes = pixels * (bitpix / 8);
    // The header ends on a 2880-byte block; the data must all be there before anything is read.
    if (dataBytes > kMaxFrameBytes || dataBytes > fits.size() - 2880) {
        *error = QStringLiteral("frame of %1 x %2 is cut short").arg(width).arg(height);
        return false;
    }
    std::vector<quint16> samples(static_cast<size_t>(pixels));
    int anyNull = 0;
    fits_read_img(file.file(), TUSHORT, 1, pixels, nullptr, samples.data(), &anyNull,
                  file.status());
    if (*file.status() != 0) {
        *error = QStringLiteral("frame data cannot be read");
        return false;
    }
    const int w = int(width);
    const int h = int(height);
    QImage out;
    if (planes == 3) {
        out = QImage(w, h, QImage::Format_RGB888);
        const qint64 plane = qint64(w) * h;
        const int shift = bitpix == 16 ? 8 : 0;
        for (int y = 0; y < h; ++y) {
            uchar *row = out.scanLine(y);
            for (int x = 0; x < w; ++x) {
                const qint64 at = qint64(y) * w + x;
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] = uchar(samples[size_t(at + c * plane)] >> shift);
            }
        }
    } else if (bitpix == 16) {
        out = QImage(w, h, QImage::Format_Grayscale16);
        for (int y = 0; y < h; ++y)
            std::copy_n(samples.data() + qint64(y) * w, w,
                        reinterpret_cast<quint16 *>(out.scanLine(y)));
    } else {
        out = QImage(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y) {
            uchar *row = out.scanLine(y);
            for (int x = 0; x < w; ++x)
                std::fill_n(row + 3 * x, 3, uchar(samples[size_t(qint64(y) * w + x)]));
        }
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

} // namespace voruna
