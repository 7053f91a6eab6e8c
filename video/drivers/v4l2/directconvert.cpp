// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/v4l2/directconvert.h"

#include <libyuv.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace voruna::direct {

namespace {

enum class Kind {
    Yuy2,
    Uyvy,
    Yvyu,
    Vyuy,
    Nv12,
    Nv21,
    Nv16,
    Nv61,
    I420,
    Yv12,
    I422,
    Grey, // 8-bit YUV and grey
    Rgb24,
    Bgr24,
    Rgb565,
    Rgb32, // 8-bit RGB
    Jpeg,  // MJPEG and JPEG
    DeepMono,
    DeepMonoBigEndian,
    DeepBayer, // 10 to 16 bits
};

struct Entry {
    quint32 fourcc;
    Kind kind;
    int bits = 8;
    // Rgb32: the memory order (0 BGRx, 1 xRGB, 2 RGBx, 3 xBGR). DeepBayer: the position of red
    // in the 2 x 2 cell (0 top left, 1 top right, 2 bottom left, 3 bottom right).
    int red = 0;
};

constexpr Entry table[] = {
    {V4L2_PIX_FMT_YUYV, Kind::Yuy2},
    {V4L2_PIX_FMT_UYVY, Kind::Uyvy},
    {V4L2_PIX_FMT_YVYU, Kind::Yvyu},
    {V4L2_PIX_FMT_VYUY, Kind::Vyuy},
    {V4L2_PIX_FMT_NV12, Kind::Nv12},
    {V4L2_PIX_FMT_NV21, Kind::Nv21},
    {V4L2_PIX_FMT_NV16, Kind::Nv16},
    {V4L2_PIX_FMT_NV61, Kind::Nv61},
    {V4L2_PIX_FMT_YUV420, Kind::I420},
    {V4L2_PIX_FMT_YVU420, Kind::Yv12},
    {V4L2_PIX_FMT_YUV422P, Kind::I422},
    // Multi-planar layouts: their planes arrive joined, as the single-planar ones lie.
    {V4L2_PIX_FMT_NV12M, Kind::Nv12},
    {V4L2_PIX_FMT_NV21M, Kind::Nv21},
    {V4L2_PIX_FMT_NV16M, Kind::Nv16},
    {V4L2_PIX_FMT_NV61M, Kind::Nv61},
    {V4L2_PIX_FMT_YUV420M, Kind::I420},
    {V4L2_PIX_FMT_YVU420M, Kind::Yv12},
    {V4L2_PIX_FMT_YUV422M, Kind::I422},
    {V4L2_PIX_FMT_GREY, Kind::Grey},
    {V4L2_PIX_FMT_RGB24, Kind::Rgb24},
    {V4L2_PIX_FMT_BGR24, Kind::Bgr24},
    {V4L2_PIX_FMT_RGB565, Kind::Rgb565},
    // The 32-bit layouts by memory order (see fromRgb32): BGRx, xRGB, RGBx, xBGR.
    {V4L2_PIX_FMT_BGR32, Kind::Rgb32, 8, 0},
    {V4L2_PIX_FMT_XBGR32, Kind::Rgb32, 8, 0},
    {V4L2_PIX_FMT_ABGR32, Kind::Rgb32, 8, 0},
    {V4L2_PIX_FMT_RGB32, Kind::Rgb32, 8, 1},
    {V4L2_PIX_FMT_XRGB32, Kind::Rgb32, 8, 1},
    {V4L2_PIX_FMT_ARGB32, Kind::Rgb32, 8, 1},
    {V4L2_PIX_FMT_RGBX32, Kind::Rgb32, 8, 2},
    {V4L2_PIX_FMT_RGBA32, Kind::Rgb32, 8, 2},
    {V4L2_PIX_FMT_BGRX32, Kind::Rgb32, 8, 3},
    {V4L2_PIX_FMT_BGRA32, Kind::Rgb32, 8, 3},
    {V4L2_PIX_FMT_MJPEG, Kind::Jpeg},
    {V4L2_PIX_FMT_JPEG, Kind::Jpeg},
    {V4L2_PIX_FMT_Y10, Kind::DeepMono, 10},
    {V4L2_PIX_FMT_Y12, Kind::DeepMono, 12},
    {V4L2_PIX_FMT_Y16, Kind::DeepMono, 16},
    {V4L2_PIX_FMT_Y16_BE, Kind::DeepMonoBigEndian, 16},
    {V4L2_PIX_FMT_SRGGB10, Kind::DeepBayer, 10, 0},
    {V4L2_PIX_FMT_SGRBG10, Kind::DeepBayer, 10, 1},
    {V4L2_PIX_FMT_SGBRG10, Kind::DeepBayer, 10, 2},
    {V4L2_PIX_FMT_SBGGR10, Kind::DeepBayer, 10, 3},
    {V4L2_PIX_FMT_SRGGB12, Kind::DeepBayer, 12, 0},
    {V4L2_PIX_FMT_SGRBG12, Kind::DeepBayer, 12, 1},
    {V4L2_PIX_FMT_SGBRG12, Kind::DeepBayer, 12, 2},
    {V4L2_PIX_FMT_SBGGR12, Kind::DeepBayer, 12, 3},
    {V4L2_PIX_FMT_SRGGB16, Kind::DeepBayer, 16, 0},
    {V4L2_PIX_FMT_SGRBG16, Kind::DeepBayer, 16, 1},
    {V4L2_PIX_FMT_SGBRG16, Kind::DeepBayer, 16, 2},
    {V4L2_PIX_FMT_SBGGR16, Kind::DeepBayer, 16, 3},
};

const Entry *find(quint32 fourcc)
{
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [fourcc](const Entry &e) { return e.fourcc == fourcc; });
    return found == std::end(table) ? nullptr : found;
}

// Bytes per pixel in the first plane.
int pixelBytes(Kind kind)
{
    switch (kind) {
    case Kind::Yuy2:
    case Kind::Uyvy:
    case Kind::Yvyu:
    case Kind::Vyuy:
    case Kind::Rgb565:
        return 2;
    case Kind::DeepMono:
    case Kind::DeepMonoBigEndian:
    case Kind::DeepBayer:
        return 2;
    case Kind::Rgb24:
    case Kind::Bgr24:
        return 3;
    case Kind::Rgb32:
        return 4;
    default:
        return 1;
    }
}

// The frame's whole size: the first plane plus the chroma planes that follow it.
std::size_t frameBytes(Kind kind, int stride, int height)
{
    const std::size_t plane = std::size_t(stride) * height;
    const std::size_t halfRows = (height + 1) / 2;
    switch (kind) {
    case Kind::Nv12:
    case Kind::Nv21:
        return plane + std::size_t(stride) * halfRows;
    case Kind::Nv16:
    case Kind::Nv61:
        return 2 * plane;
    case Kind::I420:
    case Kind::Yv12:
        return plane + 2 * std::size_t(stride / 2) * halfRows;
    case Kind::I422:
        return plane + 2 * std::size_t(stride / 2) * height;
    case Kind::Jpeg:
        return 1; // compressed: the decoder finds out
    default:
        return plane;
    }
}

// A picture still shown elsewhere gets a fresh buffer rather than a copy of its pixels.
void ensure(QImage *image, QSize size, QImage::Format format)
{
    if (image->size() != size || image->format() != format || !image->isDetached())
        *image = QImage(size, format);
}

void fromRgb32(const Entry &e, const uchar *in, int stride, QImage *image)
{
    using namespace libyuv;
    decltype(&ARGBCopy) reorder[] = {ARGBCopy, BGRAToARGB, ABGRToARGB, RGBAToARGB};
    const int width = image->width(), height = image->height();
    uchar *out = image->bits();
    const qsizetype outStride = image->bytesPerLine();
    // The fourth byte may be anything; the picture is opaque. The layout Qt uses is copied and
    // made opaque in one pass, the others reordered by libyuv first. The bounds are read once,
    // out of the loops (QImage's getters are calls), so that the compiler vectorises them.
    if (e.red != 0) {
        reorder[e.red](in, stride, out, int(outStride), width, height);
        in = out;
        stride = int(outStride);
    }
    for (int y = 0; y < height; ++y) {
        const uchar *from = in + std::size_t(y) * stride;
        auto *row = reinterpret_cast<quint32 *>(out + y * outStride);
        for (int x = 0; x < width; ++x) {
            quint32 pixel;
            std::memcpy(&pixel, from + 4 * x, 4); // the driver's rows need not be aligned
            row[x] = pixel | 0xff000000u;
        }
    }
}

quint16 sample(const uchar *p, bool bigEndian)
{
    return bigEndian ? quint16(p[0] << 8 | p[1]) : quint16(p[1] << 8 | p[0]);
}

void fromDeepMono(const Entry &e, const uchar *in, int stride, QImage *image)
{
    const int shift = 16 - e.bits;
    const quint16 mask = quint16((1u << e.bits) - 1);
    const bool bigEndian = e.kind == Kind::DeepMonoBigEndian;
    const int width = image->width();
    for (int y = 0; y < image->height(); ++y) {
        auto *row = reinterpret_cast<quint16 *>(image->scanLine(y));
        std::memcpy(row, in + std::size_t(y) * stride, std::size_t(width) * 2);
        // Plain loops over the row, so that the compiler can vectorise them.
        if (bigEndian) {
            for (int x = 0; x < width; ++x)
                row[x] = quint16(row[x] >> 8 | row[x] << 8);
        }
        for (int x = 0; x < width; ++x)
            row[x] = quint16((row[x] & mask) << shift);
    }
}

// Each 2 x 2 cell gives its red, the mean of its two greens and its blue to its four pixels:
// colour at half resolution, every sample at full depth. A last odd row or column repeats the
// cell before it.
void fromDeepBayer(const Entry &e, const uchar *in, int stride, QImage *image)
{
    const int width = image->width(), height = image->height();
    const int shift = 16 - e.bits;
    const quint32 mask = (1u << e.bits) - 1;
    // The places in the cell (0 top left ... 3 bottom right): the greens sit beside the red
    // and the blue.
    const int red = e.red, blue = 3 - e.red, green1 = red ^ 1, green2 = blue ^ 1;
    uchar *const bits = image->bits();
    const qsizetype outStride = image->bytesPerLine();
    int lastTop = -1;
    for (int y = 0; y < height; ++y) {
        auto *out = reinterpret_cast<QRgba64 *>(bits + y * outStride);
        const int top = std::max(0, std::min(y & ~1, height - 2));
        if (top == lastTop) { // the second row of the cells: the same pixels as the first
            std::memcpy(out, bits + (y - 1) * outStride, std::size_t(width) * sizeof(QRgba64));
            continue;
        }
        lastTop = top;
        const uchar *rows[2] = {in + std::size_t(top) * stride,
                                in + std::size_t(std::min(top + 1, height - 1)) * stride};
        for (int x = 0; x < width; x += 2) {
            const int left = std::max(0, std::min(x, width - 2));
            const int columns[2] = {left, std::min(left + 1, width - 1)};
            const auto at = [&](int place) {
                return (sample(rows[place >> 1] + 2 * columns[place & 1], false) & mask) << shift;
            };
            const QRgba64 pixel =
                QRgba64::fromRgba64(quint16(at(red)), quint16((at(green1) + at(green2)) / 2),
                                    quint16(at(blue)), 0xffff);
            out[x] = pixel;
            if (x + 1 < width)
                out[x + 1] = pixel;
        }
    }
}

// YVYU and VYUY: each row's chroma pair swapped into YUYV or UYVY order, then converted.
// `chromaAt` is the first chroma byte's place in each group of four.
template<typename Convert>
void swappedChroma(Convert convert, int chromaAt, const uchar *in, int stride, QImage *image)
{
    const int rowBytes = image->width() * 2;
    std::vector<uchar> row(std::size_t(rowBytes) + 4);
    for (int y = 0; y < image->height(); ++y) {
        const uchar *p = in + std::size_t(y) * stride;
        std::memcpy(row.data(), p, rowBytes);
        for (int x = chromaAt; x + 2 < rowBytes; x += 4)
            std::swap(row[x], row[x + 2]);
        convert(row.data(), rowBytes, image->scanLine(y), int(image->bytesPerLine()),
                image->width(), 1);
    }
}

// NV16 and NV61 row by row through the 4:2:0 converters: a one-row call reads one chroma row.
template<typename Convert>
void semiPlanar422(Convert convert, const uchar *in, int stride, QImage *image)
{
    const uchar *chroma = in + std::size_t(stride) * image->height();
    for (int y = 0; y < image->height(); ++y)
        convert(in + std::size_t(y) * stride, stride, chroma + std::size_t(y) * stride, stride,
                image->scanLine(y), int(image->bytesPerLine()), image->width(), 1);
}

} // namespace

bool handles(quint32 pixelFormat)
{
    return find(pixelFormat) != nullptr;
}

int sampleBits(quint32 pixelFormat)
{
    const Entry *e = find(pixelFormat);
    return e ? e->bits : 8;
}

Result convert(quint32 pixelFormat, QSize size, int bytesPerLine, const unsigned char *data,
               std::size_t bytes, QImage *image)
{
    const Entry *e = find(pixelFormat);
    if (!e)
        return Result::NotHandled;
    const int w = size.width(), h = size.height();
    const int stride = std::max(bytesPerLine, w * pixelBytes(e->kind));
    if (size.isEmpty() || bytes < frameBytes(e->kind, stride, h))
        return Result::ShortFrame;
    if (e->kind == Kind::DeepMono || e->kind == Kind::DeepMonoBigEndian) {
        ensure(image, size, QImage::Format_Grayscale16);
        fromDeepMono(*e, data, stride, image);
        return Result::Converted;
    }
    if (e->kind == Kind::DeepBayer) {
        ensure(image, size, QImage::Format_RGBX64);
        fromDeepBayer(*e, data, stride, image);
        return Result::Converted;
    }
    ensure(image, size, QImage::Format_RGB32);
    uchar *out = image->bits();
    const int outStride = int(image->bytesPerLine());
    const uchar *plane2 = data + std::size_t(stride) * h;
    const std::size_t chroma420 = std::size_t(stride / 2) * ((h + 1) / 2);
    const std::size_t chroma422 = std::size_t(stride / 2) * h;
    using namespace libyuv;
    switch (e->kind) {
    case Kind::Yuy2:
        YUY2ToARGB(data, stride, out, outStride, w, h);
        break;
    case Kind::Uyvy:
        UYVYToARGB(data, stride, out, outStride, w, h);
        break;
    case Kind::Yvyu:
        swappedChroma(YUY2ToARGB, 1, data, stride, image);
        break;
    case Kind::Vyuy:
        swappedChroma(UYVYToARGB, 0, data, stride, image);
        break;
    case Kind::Nv12:
        NV12ToARGB(data, stride, plane2, stride, out, outStride, w, h);
        break;
    case Kind::Nv21:
        NV21ToARGB(data, stride, plane2, stride, out, outStride, w, h);
        break;
    case Kind::Nv16:
        semiPlanar422(NV12ToARGB, data, stride, image);
        break;
    case Kind::Nv61:
        semiPlanar422(NV21ToARGB, data, stride, image);
        break;
    case Kind::I420:
        I420ToARGB(data, stride, plane2, stride / 2, plane2 + chroma420, stride / 2, out, outStride,
                   w, h);
        break;
    case Kind::Yv12:
        I420ToARGB(data, stride, plane2 + chroma420, stride / 2, plane2, stride / 2, out, outStride,
                   w, h);
        break;
    case Kind::I422:
        I422ToARGB(data, stride, plane2, stride / 2, plane2 + chroma422, stride / 2, out, outStride,
                   w, h);
        break;
    case Kind::Grey:
        J400ToARGB(data, stride, out, outStride, w, h);
        break;
    case Kind::Rgb24:
        RAWToARGB(data, stride, out, outStride, w, h);
        break;
    case Kind::Bgr24:
        RGB24ToARGB(data, stride, out, outStride, w, h);
        break;
    case Kind::Rgb565:
        RGB565ToARGB(data, stride, out, outStride, w, h);
        break;
    case Kind::Rgb32:
        fromRgb32(*e, data, stride, image);
        break;
    case Kind::Jpeg:
        // A frame libjpeg cannot read through libyuv goes on to libv4lconvert, which knows the
        // quirks of webcam JPEG.
        if (MJPGToARGB(data, bytes, out, outStride, w, h, w, h) != 0)
            return Result::NotHandled;
        break;
    default:
        return Result::NotHandled;
    }
    return Result::Converted;
}

} // namespace voruna::direct
