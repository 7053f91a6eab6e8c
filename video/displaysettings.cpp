// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/displaysettings.h"

#include "video/bytetable.h"

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

void renderForDisplay(const QImage &frame, const DisplaySettings &settings, QImage *out)
{
    const int top = topLevel(settings.sampleBits);
    const bool plainLevels =
        settings.blackPoint <= 0 && settings.whitePoint >= top && settings.gamma == 1.0;
    const QImage::Format format = frame.format();
    if (plainLevels && !settings.mirror && !settings.flip && format == QImage::Format_RGB32) {
        *out = frame; // shared, not copied
        return;
    }
    const bool known = format == QImage::Format_RGB888 || format == QImage::Format_RGB32
                       || format == QImage::Format_Grayscale16 || format == QImage::Format_RGBX64;
    const QImage source = known ? frame : frame.convertToFormat(QImage::Format_RGB32);
    const int width = source.width();
    const int height = source.height();
    // A picture still on show elsewhere gets a fresh buffer rather than a copy of its pixels.
    if (out->size() != source.size() || out->format() != QImage::Format_RGB32 || !out->isDetached())
        *out = QImage(source.size(), QImage::Format_RGB32);
    uchar *const bits = out->bits();
    const qsizetype outStride = out->bytesPerLine();
    const Tables &tables = tablesFor(settings);
    const std::uint8_t *bytes = tables.bytes.data();
    const std::uint8_t *levels = tables.levels.data();
    const int shift = 16 - std::clamp(settings.sampleBits, 8, 16);
    // The deep pictures' samples stretched to bytes, one row at a time.
    std::vector<std::uint8_t> byteRow(std::size_t(width) * 4);
    // Whole rows at a time; 8-bit pictures are stretched by one table for every byte, which
    // leaves the opaque alpha byte at 255.
    for (int y = 0; y < height; ++y) {
        const uchar *in = source.constScanLine(settings.flip ? height - 1 - y : y);
        uchar *row = bits + y * outStride;
        auto *pixels = reinterpret_cast<QRgb *>(row);
        switch (source.format()) {
        case QImage::Format_RGB888:
            libyuv::RAWToARGB(in, 0, row, 0, width, 1);
            if (!plainLevels)
                lookUpBytes(row, row, std::size_t(width) * 4, bytes);
            break;
        case QImage::Format_Grayscale16: {
            // Stretched to bytes first, then spread to grey pixels by libyuv's vector code.
            const auto *grey = reinterpret_cast<const quint16 *>(in);
            for (int x = 0; x < width; ++x)
                byteRow[x] = levels[grey[x] >> shift];
            libyuv::J400ToARGB(byteRow.data(), 0, row, 0, width, 1);
            break;
        }
        case QImage::Format_RGBX64: {
            // Every 16-bit sample to a byte (the opaque alpha too: the top level gives 255),
            // then from RGBA into Qt's order by libyuv.
            const auto *samples = reinterpret_cast<const quint16 *>(in);
            for (int x = 0; x < 4 * width; ++x)
                byteRow[x] = levels[samples[x] >> shift];
            libyuv::ABGRToARGB(byteRow.data(), 0, row, 0, width, 1);
            break;
        }
        default:
            if (plainLevels)
                std::memcpy(row, in, std::size_t(width) * 4);
            else
                lookUpBytes(in, row, std::size_t(width) * 4, bytes);
            break;
        }
        if (settings.mirror)
            std::reverse(pixels, pixels + width);
    }
}

} // namespace voruna
