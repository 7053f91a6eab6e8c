// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/v4l2/frameconverter.h"

#include "video/drivers/v4l2/directconvert.h"
#include "video/drivers/v4l2/v4l2syscalls.h"

#include <libv4l-plugin.h>
#include <libv4lconvert.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace voruna {

namespace {

void *opsInit(int)
{
    return nullptr;
}

void opsClose(void *)
{}

int opsIoctl(void *priv, int fd, unsigned long request, void *arg)
{
    return xioctl(*static_cast<V4l2Syscalls *>(priv), fd, request, arg);
}

ssize_t opsRead(void *, int, void *, size_t)
{
    errno = EINVAL;
    return -1;
}

ssize_t opsWrite(void *, int, const void *, size_t)
{
    errno = EINVAL;
    return -1;
}

const libv4l_dev_ops tableOps = {opsInit, opsClose, opsIoctl, opsRead, opsWrite, nullptr,
                                 nullptr, nullptr,  nullptr,  nullptr, nullptr,  nullptr};

v4l2_format rgbFormat(QSize size)
{
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = size.width();
    format.fmt.pix.height = size.height();
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = size.width() * 3;
    format.fmt.pix.sizeimage = size.width() * size.height() * 3;
    return format;
}

} // namespace

bool FrameConverter::canConvert(quint32 pixelFormat)
{
    // The camera formats libv4lconvert decodes (it offers RGB even for a camera that only
    // sends, say, H.264, so the source format is checked here).
    static constexpr quint32 known[] = {
        V4L2_PIX_FMT_RGB24,   V4L2_PIX_FMT_BGR24,        V4L2_PIX_FMT_RGB565,
        V4L2_PIX_FMT_YUYV,    V4L2_PIX_FMT_YVYU,         V4L2_PIX_FMT_UYVY,
        V4L2_PIX_FMT_YUV420,  V4L2_PIX_FMT_YVU420,       V4L2_PIX_FMT_NV12,
        V4L2_PIX_FMT_GREY,    V4L2_PIX_FMT_Y16,          V4L2_PIX_FMT_Y10BPACK,
        V4L2_PIX_FMT_MJPEG,   V4L2_PIX_FMT_JPEG,         V4L2_PIX_FMT_PJPG,
        V4L2_PIX_FMT_JPGL,    V4L2_PIX_FMT_SBGGR8,       V4L2_PIX_FMT_SGBRG8,
        V4L2_PIX_FMT_SGRBG8,  V4L2_PIX_FMT_SRGGB8,       V4L2_PIX_FMT_SPCA501,
        V4L2_PIX_FMT_SPCA505, V4L2_PIX_FMT_SPCA508,      V4L2_PIX_FMT_SPCA561,
        V4L2_PIX_FMT_SN9C10X, V4L2_PIX_FMT_SN9C20X_I420, V4L2_PIX_FMT_SN9C2028,
        V4L2_PIX_FMT_PAC207,  V4L2_PIX_FMT_MR97310A,     V4L2_PIX_FMT_SQ905C,
        V4L2_PIX_FMT_OV511,   V4L2_PIX_FMT_OV518,        V4L2_PIX_FMT_STV0680,
        V4L2_PIX_FMT_CPIA1,   V4L2_PIX_FMT_KONICA420,    V4L2_PIX_FMT_SE401,
        V4L2_PIX_FMT_HM12,
    };
    return direct::handles(pixelFormat)
           || std::find(std::begin(known), std::end(known), pixelFormat) != std::end(known);
}

int FrameConverter::sampleBits(quint32 pixelFormat)
{
    return direct::sampleBits(pixelFormat);
}

FrameConverter::FrameConverter(V4l2Syscalls &sys, int fd)
    : m_sys(sys)
    , m_data(v4lconvert_create_with_dev_ops(fd, &sys, &tableOps))
{}

FrameConverter::~FrameConverter()
{
    if (m_data)
        v4lconvert_destroy(m_data);
}

bool FrameConverter::nativeFormatFor(QSize size, v4l2_format *native)
{
    if (!m_data)
        return false;
    v4l2_format wanted = rgbFormat(size);
    v4l2_format source{};
    if (v4lconvert_try_format(m_data, &wanted, &source) != 0
        || !canConvert(source.fmt.pix.pixelformat))
        return false;
    *native = source;
    return true;
}

bool FrameConverter::convert(const v4l2_format &native, const unsigned char *data,
                             std::size_t bytes, QImage *image)
{
    m_error.clear();
    const QSize size(native.fmt.pix.width, native.fmt.pix.height);
    switch (direct::convert(native.fmt.pix.pixelformat, size, int(native.fmt.pix.bytesperline),
                            data, bytes, image)) {
    case direct::Result::Converted:
        return true;
    case direct::Result::ShortFrame:
        m_error = QStringLiteral("A frame of %1 bytes is too short for its format").arg(bytes);
        return false;
    case direct::Result::NotHandled:
        break;
    }
    return viaLibv4lconvert(native, data, bytes, image);
}

bool FrameConverter::viaLibv4lconvert(const v4l2_format &native, const unsigned char *data,
                                      std::size_t bytes, QImage *image)
{
    if (!m_data)
        return false;
    const QSize size(native.fmt.pix.width, native.fmt.pix.height);
    if (image->size() != size || image->format() != QImage::Format_RGB888)
        *image = QImage(size, QImage::Format_RGB888);
    const v4l2_format target = rgbFormat(size);
    const int rowBytes = size.width() * 3;
    const int total = rowBytes * size.height();
    unsigned char *source = const_cast<unsigned char *>(data);
    if (image->bytesPerLine() == rowBytes) {
        return v4lconvert_convert(m_data, &native, &target, source, int(bytes), image->bits(),
                                  total)
               >= 0;
    }
    // Rows of an odd width are padded in a QImage: convert packed, then copy row by row.
    std::vector<unsigned char> packed(total);
    if (v4lconvert_convert(m_data, &native, &target, source, int(bytes), packed.data(), total) < 0)
        return false;
    for (int y = 0; y < size.height(); ++y)
        std::memcpy(image->scanLine(y), packed.data() + y * rowBytes, rowBytes);
    return true;
}

QString FrameConverter::errorText() const
{
    if (!m_error.isEmpty())
        return m_error;
    return m_data ? QString::fromLocal8Bit(v4lconvert_get_error_message(m_data)) : QString();
}

} // namespace voruna
