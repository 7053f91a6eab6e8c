// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/capture/displaysettings.h"

#include "video/capture/bytetable.h"

#include <libyuv.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace voruna {

namespace {

// The tables of the last settings drawn with: a 16-bit table costs 65536 powers.
struct Tables {
    DisplaySettings settings;
    std::vector<std::uint8_t> levels;
    std::array<std::uint8_t, 256> bytes{};
};

const Tables &tablesFor(const DisplaySettings &settings)
{
    thread_local Tables cached;
    if (cached.levels.empty() || !(cached.settings == settings)) {
        cached.settings = settings;
        cached.levels = levelTable(settings);
        const int top = int(cached.levels.size()) - 1;
        for (int in = 0; in < 256; ++in)
            cached.bytes[in] = cached.levels[(in * top + 127) / 255];
    }
    return cached;
}

// Which sample of a frame's `frameLength` each of a picture's `length` pixels shows: the
// nearest one's centre when scaled, else one for one from the start; `reversed` mirrors.
std::vector<int> sampleMap(int frameLength, int length, bool scaled, bool reversed)
{
    std::vector<int> map(std::size_t(std::max(length, 0)));
    for (int i = 0; i < length; ++i) {
        const int at = scaled ? int((2 * qint64(i) + 1) * frameLength / (2 * qint64(length))) : i;
        map[i] = reversed ? frameLength - 1 - at : at;
    }
    return map;
}

template <int Bytes>
void gatherPixels(const uchar *in, const std::vector<int> &columns, uchar *out)
{
    struct Pixel {
        uchar bytes[Bytes];
    };
    const auto *from = reinterpret_cast<const Pixel *>(in);
    auto *to = reinterpret_cast<Pixel *>(out);
    for (std::size_t x = 0; x < columns.size(); ++x)
        to[x] = from[columns[x]];
}

// Copies the pixels of row `in` that `columns` names, one after another, into `out`.
void gather(const uchar *in, int pixelBytes, const std::vector<int> &columns, uchar *out)
{
    switch (pixelBytes) {
    case 2:
        return gatherPixels<2>(in, columns, out);
    case 3:
        return gatherPixels<3>(in, columns, out);
    case 4:
        return gatherPixels<4>(in, columns, out);
    default:
        return gatherPixels<8>(in, columns, out);
    }
}

// Stretches rows of `width` pixels of a working image into RGB32 rows.
class RowStretch {
public:
    RowStretch(const DisplaySettings &settings, bool plainLevels, int width)
        : m_tables(tablesFor(settings))
        , m_shift(16 - std::clamp(settings.sampleBits, 8, 16))
        , m_width(width)
        , m_plain(plainLevels)
        , m_bytes(std::size_t(width) * 4)
    {}

    void run(QImage::Format format, const uchar *in, uchar *row) const
    {
        const std::uint8_t *levels = m_tables.levels.data();
        const std::size_t count = std::size_t(m_width) * 4;
        // 8-bit pictures are stretched by one table for every byte, which leaves the opaque
        // alpha byte at 255.
        switch (format) {
        case QImage::Format_RGB888:
            libyuv::RAWToARGB(in, 0, row, 0, m_width, 1);
            if (!m_plain)
                lookUpBytes(row, row, count, m_tables.bytes.data());
            break;
        case QImage::Format_Grayscale16: {
            // Stretched to bytes first, then spread to grey pixels by libyuv's vector code.
            const auto *grey = reinterpret_cast<const quint16 *>(in);
            for (int x = 0; x < m_width; ++x)
                m_bytes[x] = levels[grey[x] >> m_shift];
            libyuv::J400ToARGB(m_bytes.data(), 0, row, 0, m_width, 1);
            break;
        }
        case QImage::Format_RGBX64: {
            // Every 16-bit sample to a byte (the opaque alpha too: the top level gives 255),
            // then from RGBA into Qt's order by libyuv.
            const auto *samples = reinterpret_cast<const quint16 *>(in);
            for (std::size_t x = 0; x < count; ++x)
                m_bytes[x] = levels[samples[x] >> m_shift];
            libyuv::ABGRToARGB(m_bytes.data(), 0, row, 0, m_width, 1);
            break;
        }
        default:
            if (m_plain)
                std::memcpy(row, in, count);
            else
                lookUpBytes(in, row, count, m_tables.bytes.data());
            break;
        }
    }

private:
    const Tables &m_tables;
    int m_shift;
    int m_width;
    bool m_plain;
    // The deep pictures' samples stretched to bytes, one row at a time.
    mutable std::vector<std::uint8_t> m_bytes;
};

// Puts each pixel's brightness (full-range luma, 0.299 R + 0.587 G + 0.114 B) of an RGB32 row
// in its red channel alone: libyuv's vector code weighs the row into `luma`, and a plain loop
// that the compiler turns into vector code spreads it back.
void reddenRow(uchar *row, int width, std::uint8_t *luma)
{
    libyuv::ARGBToJ400(row, 0, luma, 0, width, 1);
    auto *pixels = reinterpret_cast<quint32 *>(row);
    for (int x = 0; x < width; ++x)
        pixels[x] = 0xff000000u | (quint32(luma[x]) << 16);
}

} // namespace

int topLevel(int sampleBits)
{
    return (1 << std::clamp(sampleBits, 8, 16)) - 1;
}

DisplaySettings rescaledTo(const DisplaySettings &settings, int sampleBits)
{
    DisplaySettings out = settings;
    out.sampleBits = std::clamp(sampleBits, 8, 16);
    if (out.sampleBits == settings.sampleBits)
        return out;
    const double factor = double(topLevel(out.sampleBits)) / topLevel(settings.sampleBits);
    out.blackPoint = int(std::lround(settings.blackPoint * factor));
    out.whitePoint = int(std::lround(settings.whitePoint * factor));
    return out;
}

std::vector<std::uint8_t> levelTable(const DisplaySettings &settings)
{
    const int top = topLevel(settings.sampleBits);
    const int black = std::clamp(settings.blackPoint, 0, top - 1);
    const int white = std::clamp(settings.whitePoint, black + 1, top);
    const double exponent = 1.0 / std::clamp(settings.gamma, 0.1, 10.0);
    std::vector<std::uint8_t> table(std::size_t(top) + 1);
    for (int in = 0; in <= top; ++in) {
        const double x = std::clamp(double(in - black) / (white - black), 0.0, 1.0);
        table[in] = std::uint8_t(std::lround(std::pow(x, exponent) * 255.0));
    }
    return table;
}

std::array<std::uint8_t, 256> stretchTable(const DisplaySettings &settings)
{
    return tablesFor(rescaledTo(settings, 8)).bytes;
}

QSize pictureSize(QSize frame, const DisplayView &view)
{
    if (view.size.isEmpty())
        return frame;
    return view.scaled ? view.size : frame.boundedTo(view.size);
}

int imageSampleBits(const QImage &image)
{
    const QImage::Format format = image.format();
    return format == QImage::Format_Grayscale16 || format == QImage::Format_RGBX64 ? 16 : 8;
}

void renderForDisplay(const QImage &frame, const DisplaySettings &settings, QImage *out)
{
    renderView(frame, settings.sampleBits, DisplayView{settings, {}, false}, out);
}

void renderView(const QImage &frame, int sampleBits, const DisplayView &view, QImage *out)
{
    const DisplaySettings settings = rescaledTo(view.settings, sampleBits);
    const QSize size = pictureSize(frame.size(), view);
    const int top = topLevel(settings.sampleBits);
    const bool plainLevels =
        settings.blackPoint <= 0 && settings.whitePoint >= top && settings.gamma == 1.0;
    const QImage::Format format = frame.format();
    if (plainLevels && !view.red && !settings.mirror && !settings.flip
        && format == QImage::Format_RGB32 && size == frame.size()) {
        *out = frame; // shared, not copied
        return;
    }
    if (size.isEmpty()) {
        *out = QImage();
        return;
    }
    const bool known = format == QImage::Format_RGB888 || format == QImage::Format_RGB32
                       || format == QImage::Format_Grayscale16 || format == QImage::Format_RGBX64;
    const QImage source = known ? frame : frame.convertToFormat(QImage::Format_RGB32);
    const int width = size.width();
    // A picture still on show elsewhere gets a fresh buffer rather than a copy of its pixels.
    if (out->size() != size || out->format() != QImage::Format_RGB32 || !out->isDetached())
        *out = QImage(size, QImage::Format_RGB32);
    const std::vector<int> columns =
        sampleMap(source.width(), width, view.scaled, settings.mirror);
    const std::vector<int> rows =
        sampleMap(source.height(), size.height(), view.scaled, settings.flip);
    // Rows whose first samples are shown as they lie are read in place; others are gathered.
    const bool inPlace = !settings.mirror && (!view.scaled || width == source.width());
    const int pixelBytes = source.depth() / 8;
    std::vector<uchar> gathered(inPlace ? 0 : std::size_t(width) * pixelBytes);
    std::vector<std::uint8_t> luma(view.red ? std::size_t(width) : 0);
    const RowStretch stretch(settings, plainLevels, width);
    for (int y = 0; y < size.height(); ++y) {
        const uchar *in = source.constScanLine(rows[y]);
        if (!inPlace) {
            gather(in, pixelBytes, columns, gathered.data());
            in = gathered.data();
        }
        uchar *row = out->scanLine(y);
        stretch.run(source.format(), in, row);
        if (view.red)
            reddenRow(row, width, luma.data());
    }
}

} // namespace voruna
