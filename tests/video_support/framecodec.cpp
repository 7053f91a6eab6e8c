// SPDX-License-Identifier: GPL-3.0-or-later
// Frames in the camera formats, made from a picture the way a camera would send them.
#include "fakev4l2.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>

namespace voruna::test {

namespace {

uchar clampByte(double v)
{
    return uchar(std::clamp(int(std::lround(v)), 0, 255));
}

// Studio-range BT.601, as webcams send it.
uchar lumaOf(QRgb p)
{
    return clampByte(16 + 0.257 * qRed(p) + 0.504 * qGreen(p) + 0.098 * qBlue(p));
}
uchar blueDiffOf(double r, double g, double b)
{
    return clampByte(128 - 0.148 * r - 0.291 * g + 0.439 * b);
}
uchar redDiffOf(double r, double g, double b)
{
    return clampByte(128 + 0.439 * r - 0.368 * g - 0.071 * b);
}

// The mean colour of the pixels (x, y) to (x + w - 1, y + h - 1) inside the picture.
void meanColour(const QImage &rgb, int x, int y, int w, int h, double *r, double *g, double *b)
{
    *r = *g = *b = 0;
    int n = 0;
    for (int j = y; j < std::min(y + h, rgb.height()); ++j) {
        for (int i = x; i < std::min(x + w, rgb.width()); ++i, ++n) {
            const QRgb p = rgb.pixel(i, j);
            *r += qRed(p), *g += qGreen(p), *b += qBlue(p);
        }
    }
    *r /= n, *g /= n, *b /= n;
}

// Planar and semi-planar YUV: the luma plane, then the chroma planes (or the interleaved
// plane) at `rowsPerChroma` rows per chroma row.
QByteArray planarYuv(const QImage &rgb, int rowsPerChroma, bool interleaved, bool vFirst)
{
    const int w = rgb.width(), h = rgb.height();
    const int chromaRows = (h + rowsPerChroma - 1) / rowsPerChroma;
    QByteArray luma, u, v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            luma.append(char(lumaOf(rgb.pixel(x, y))));
    for (int y = 0; y < chromaRows; ++y) {
        for (int x = 0; x < w; x += 2) {
            double r, g, b;
            meanColour(rgb, x, y * rowsPerChroma, 2, rowsPerChroma, &r, &g, &b);
            u.append(char(blueDiffOf(r, g, b)));
            v.append(char(redDiffOf(r, g, b)));
        }
    }
    if (!interleaved)
        return luma + (vFirst ? v + u : u + v);
    QByteArray pairs;
    for (int i = 0; i < u.size(); ++i)
        pairs.append(vFirst ? v[i] : u[i]).append(vFirst ? u[i] : v[i]);
    return luma + pairs;
}

QByteArray packedYuv(const QImage &rgb, const int order[4])
{
    const QByteArray yuyv = toYuyv(rgb);
    QByteArray out(yuyv.size(), Qt::Uninitialized);
    for (int i = 0; i < yuyv.size(); i += 4)
        for (int k = 0; k < 4; ++k)
            out[i + k] = yuyv[i + order[k]];
    return out;
}

// Bayer: the sample of the cell position's colour, scaled to `bits`, little-endian words
// above 8 bits. `redAt` is red's position in the 2 x 2 cell.
QByteArray bayer(const QImage &rgb, int redAt, int bits)
{
    const int top = (1 << bits) - 1;
    QByteArray out;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const int at = (y & 1) * 2 + (x & 1);
            const QRgb p = rgb.pixel(x, y);
            const int channel = at == redAt ? qRed(p) : at == 3 - redAt ? qBlue(p) : qGreen(p);
            const int value = int(std::lround(channel * double(top) / 255.0));
            out.append(char(value & 0xff));
            if (bits > 8)
                out.append(char(value >> 8));
        }
    }
    return out;
}

// Mono: full-range luminance scaled to `bits`.
QByteArray mono(const QImage &rgb, int bits, bool bigEndian)
{
    const int top = (1 << bits) - 1;
    QByteArray out;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const int value = int(std::lround(monoLevel(rgb.pixel(x, y)) * top / 255.0));
            if (bits == 8) {
                out.append(char(value));
                continue;
            }
            const char low = char(value & 0xff), high = char(value >> 8);
            out.append(bigEndian ? high : low).append(bigEndian ? low : high);
        }
    }
    return out;
}

QByteArray rgbBytes(const QImage &rgb, const char *order, int bytesPerPixel)
{
    QByteArray out;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb p = rgb.pixel(x, y);
            for (int k = 0; k < bytesPerPixel; ++k) {
                const char c = order[k];
                out.append(char(c == 'r'   ? qRed(p)
                                : c == 'g' ? qGreen(p)
                                : c == 'b' ? qBlue(p)
                                           : 0x55));
            }
        }
    }
    return out;
}

QByteArray rgb565(const QImage &rgb)
{
    QByteArray out;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb p = rgb.pixel(x, y);
            const quint16 word =
                quint16((qRed(p) >> 3) << 11 | (qGreen(p) >> 2) << 5 | qBlue(p) >> 3);
            out.append(char(word & 0xff)).append(char(word >> 8));
        }
    }
    return out;
}

} // namespace

double monoLevel(QRgb p)
{
    return 0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p);
}

QByteArray encodeFrame(const QImage &picture, quint32 fourcc)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    static const int uyvy[4] = {1, 0, 3, 2}, yvyu[4] = {0, 3, 2, 1}, vyuy[4] = {3, 0, 1, 2};
    switch (fourcc) {
    case V4L2_PIX_FMT_YUYV:
        return toYuyv(rgb);
    case V4L2_PIX_FMT_UYVY:
        return packedYuv(rgb, uyvy);
    case V4L2_PIX_FMT_YVYU:
        return packedYuv(rgb, yvyu);
    case V4L2_PIX_FMT_VYUY:
        return packedYuv(rgb, vyuy);
    case V4L2_PIX_FMT_NV12:
    case V4L2_PIX_FMT_NV12M:
        return planarYuv(rgb, 2, true, false);
    case V4L2_PIX_FMT_NV21:
    case V4L2_PIX_FMT_NV21M:
        return planarYuv(rgb, 2, true, true);
    case V4L2_PIX_FMT_NV16:
        return planarYuv(rgb, 1, true, false);
    case V4L2_PIX_FMT_NV61:
        return planarYuv(rgb, 1, true, true);
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_YUV420M:
        return planarYuv(rgb, 2, false, false);
    case V4L2_PIX_FMT_YVU420:
        return planarYuv(rgb, 2, false, true);
    case V4L2_PIX_FMT_YUV422P:
        return planarYuv(rgb, 1, false, false);
    case V4L2_PIX_FMT_GREY:
        return mono(rgb, 8, false);
    case V4L2_PIX_FMT_Y10:
        return mono(rgb, 10, false);
    case V4L2_PIX_FMT_Y12:
        return mono(rgb, 12, false);
    case V4L2_PIX_FMT_Y16:
        return mono(rgb, 16, false);
    case V4L2_PIX_FMT_Y16_BE:
        return mono(rgb, 16, true);
    case V4L2_PIX_FMT_RGB24:
        return rgbBytes(rgb, "rgb", 3);
    case V4L2_PIX_FMT_BGR24:
        return rgbBytes(rgb, "bgr", 3);
    case V4L2_PIX_FMT_RGB565:
        return rgb565(rgb);
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32:
    case V4L2_PIX_FMT_BGR32:
        return rgbBytes(rgb, "bgrx", 4);
    case V4L2_PIX_FMT_XRGB32:
    case V4L2_PIX_FMT_ARGB32:
    case V4L2_PIX_FMT_RGB32:
        return rgbBytes(rgb, "xrgb", 4);
    case V4L2_PIX_FMT_RGBX32:
    case V4L2_PIX_FMT_RGBA32:
        return rgbBytes(rgb, "rgbx", 4);
    case V4L2_PIX_FMT_BGRX32:
    case V4L2_PIX_FMT_BGRA32:
        return rgbBytes(rgb, "xbgr", 4);
    case V4L2_PIX_FMT_SRGGB8:
        return bayer(rgb, 0, 8);
    case V4L2_PIX_FMT_SGRBG8:
        return bayer(rgb, 1, 8);
    case V4L2_PIX_FMT_SGBRG8:
        return bayer(rgb, 2, 8);
    case V4L2_PIX_FMT_SBGGR8:
        return bayer(rgb, 3, 8);
    case V4L2_PIX_FMT_SRGGB10:
        return bayer(rgb, 0, 10);
    case V4L2_PIX_FMT_SGRBG10:
        return bayer(rgb, 1, 10);
    case V4L2_PIX_FMT_SGBRG10:
        return bayer(rgb, 2, 10);
    case V4L2_PIX_FMT_SBGGR10:
        return bayer(rgb, 3, 10);
    case V4L2_PIX_FMT_SRGGB12:
        return bayer(rgb, 0, 12);
    case V4L2_PIX_FMT_SGRBG12:
        return bayer(rgb, 1, 12);
    case V4L2_PIX_FMT_SGBRG12:
        return bayer(rgb, 2, 12);
    case V4L2_PIX_FMT_SBGGR12:
        return bayer(rgb, 3, 12);
    case V4L2_PIX_FMT_SRGGB16:
        return bayer(rgb, 0, 16);
    case V4L2_PIX_FMT_SGRBG16:
        return bayer(rgb, 1, 16);
    case V4L2_PIX_FMT_SGBRG16:
        return bayer(rgb, 2, 16);
    case V4L2_PIX_FMT_SBGGR16:
        return bayer(rgb, 3, 16);
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        return toMjpeg(picture);
    default:
        return QByteArray();
    }
}

} // namespace voruna::test
