// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/displaysettings.h"

#include <algorithm>
#include <cmath>
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
    const bool asShot = plainLevels && !settings.mirror && !settings.flip;
    if (asShot && frame.format() == QImage::Format_RGB32) {
        *out = frame; // shared, not copied
        return;
    }
    if (asShot && frame.format() == QImage::Format_RGB888) {
        // Nothing to stretch: Qt's own (vectorised) conversion is the fastest way.
        *out = frame.convertToFormat(QImage::Format_RGB32);
        return;
    }
    const QImage::Format format = frame.format();
    const bool known = format == QImage::Format_RGB888 || format == QImage::Format_RGB32
                       || format == QImage::Format_Grayscale16 || format == QImage::Format_RGBX64;
    const QImage source = known ? frame : frame.convertToFormat(QImage::Format_RGB32);
    const int width = source.width();
    const int height = source.height();
    if (out->size() != source.size() || out->format() != QImage::Format_RGB32)
        *out = QImage(source.size(), QImage::Format_RGB32);
    const Tables &tables = tablesFor(settings);
    const std::uint8_t *levels = tables.levels.data();
    // The stretch of each 8-bit channel already in its place in an opaque RGB32 pixel.
    quint32 red[256], green[256], blue[256];
    for (int in = 0; in < 256; ++in) {
        red[in] = 0xff000000u | quint32(tables.bytes[in]) << 16;
        green[in] = quint32(tables.bytes[in]) << 8;
        blue[in] = tables.bytes[in];
    }
    const int shift = 16 - std::clamp(settings.sampleBits, 8, 16);
    for (int y = 0; y < height; ++y) {
        const uchar *in = source.constScanLine(settings.flip ? height - 1 - y : y);
        auto *row = reinterpret_cast<QRgb *>(out->scanLine(y));
        switch (source.format()) {
        case QImage::Format_RGB888:
            for (int x = 0; x < width; ++x, in += 3)
                row[x] = red[in[0]] | green[in[1]] | blue[in[2]];
            break;
        case QImage::Format_Grayscale16: {
            const auto *grey = reinterpret_cast<const quint16 *>(in);
            for (int x = 0; x < width; ++x)
                row[x] = 0xff000000u | 0x010101u * levels[grey[x] >> shift];
            break;
        }
        case QImage::Format_RGBX64: {
            const auto *p = reinterpret_cast<const QRgba64 *>(in);
            for (int x = 0; x < width; ++x)
                row[x] = 0xff000000u | levels[p[x].red() >> shift] << 16
                         | levels[p[x].green() >> shift] << 8 | levels[p[x].blue() >> shift];
            break;
        }
        default: {
            const auto *p = reinterpret_cast<const QRgb *>(in);
            for (int x = 0; x < width; ++x)
                row[x] = red[qRed(p[x])] | green[qGreen(p[x])] | blue[qBlue(p[x])];
            break;
        }
        }
        if (settings.mirror)
            std::reverse(row, row + width);
    }
}

} // namespace voruna
