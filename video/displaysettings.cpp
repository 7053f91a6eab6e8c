#include "video/displaysettings.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace voruna {

std::array<std::uint8_t, 256> stretchTable(const DisplaySettings &settings)
{
    std::array<std::uint8_t, 256> table{};
    const int black = std::clamp(settings.blackPoint, 0, 254);
    const int white = std::clamp(settings.whitePoint, black + 1, 255);
    const double exponent = 1.0 / std::clamp(settings.gamma, 0.1, 10.0);
    for (int in = 0; in < 256; ++in) {
        const double x = std::clamp(double(in - black) / (white - black), 0.0, 1.0);
        table[in] = std::uint8_t(std::lround(std::pow(x, exponent) * 255.0));
    }
    return table;
}

namespace {

// A 16-bit grey frame keeps its depth up to here: the black and white points pick their levels
// among all 65536, and only the stretched result is 8-bit.
void renderGrey16(const QImage &grey, const DisplaySettings &settings, QImage *out)
{
    const int black = std::clamp(settings.blackPoint, 0, 254) * 257;
    const int white = std::clamp(settings.whitePoint, settings.blackPoint + 1, 255) * 257;
    const double exponent = 1.0 / std::clamp(settings.gamma, 0.1, 10.0);
    std::vector<std::uint8_t> table(65536);
    for (int in = 0; in < 65536; ++in) {
        const double x = std::clamp(double(in - black) / (white - black), 0.0, 1.0);
        table[size_t(in)] = std::uint8_t(std::lround(std::pow(x, exponent) * 255.0));
    }
    const int width = grey.width();
    const int height = grey.height();
    if (out->size() != grey.size() || out->format() != QImage::Format_RGB32)
        *out = QImage(grey.size(), QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const auto *in = reinterpret_cast<const quint16 *>(grey.constScanLine(settings.flip ? height - 1 - y : y));
        auto *row = reinterpret_cast<QRgb *>(out->scanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::uint8_t v = table[in[x]];
            row[settings.mirror ? width - 1 - x : x] = 0xff000000u | (v << 16) | (v << 8) | v;
        }
    }
}

} // namespace

void renderForDisplay(const QImage &rgb, const DisplaySettings &settings, QImage *out)
{
    if (rgb.format() == QImage::Format_Grayscale16) {
        renderGrey16(rgb, settings, out);
        return;
    }
    const bool plainLevels = settings.blackPoint <= 0 && settings.whitePoint >= 255
        && settings.gamma == 1.0;
    if (plainLevels && !settings.mirror && !settings.flip) {
        // Nothing to stretch: Qt's own (vectorised) conversion is the fastest way.
        *out = rgb.convertToFormat(QImage::Format_RGB32);
        return;
    }
    const int width = rgb.width();
    const int height = rgb.height();
    if (out->size() != rgb.size() || out->format() != QImage::Format_RGB32)
        *out = QImage(rgb.size(), QImage::Format_RGB32);
    const std::array<std::uint8_t, 256> table = stretchTable(settings);
    for (int y = 0; y < height; ++y) {
        const uchar *in = rgb.constScanLine(settings.flip ? height - 1 - y : y);
        auto *row = reinterpret_cast<QRgb *>(out->scanLine(y));
        if (settings.mirror) {
            for (int x = width - 1; x >= 0; --x, in += 3)
                row[x] = 0xff000000u | (table[in[0]] << 16) | (table[in[1]] << 8) | table[in[2]];
        } else {
            for (int x = 0; x < width; ++x, in += 3)
                row[x] = 0xff000000u | (table[in[0]] << 16) | (table[in[1]] << 8) | table[in[2]];
        }
    }
}

} // namespace voruna
