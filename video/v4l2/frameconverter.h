#pragma once

#include <QImage>
#include <QString>

#include <linux/videodev2.h>

#include <cstddef>

struct v4lconvert_data;

namespace voruna {

class V4l2Syscalls;

// Turns the frames a camera sends (YUYV, MJPEG, Bayer... whatever libv4lconvert knows) into
// RGB888 images. Its queries about the device go through the same system-call table as the
// rest of the camera code.
class FrameConverter {
public:
    FrameConverter(V4l2Syscalls &sys, int fd);
    ~FrameConverter();
    FrameConverter(const FrameConverter &) = delete;
    FrameConverter &operator=(const FrameConverter &) = delete;

    bool isValid() const { return m_data != nullptr; }

    // Whether frames in the camera's `pixelFormat` can be turned into RGB.
    static bool canConvert(quint32 pixelFormat);

    // The device's own format that libv4lconvert picks to give RGB at about `size` (the same
    // choice libv4l2 makes); false when no format of the device can be converted.
    bool nativeFormatFor(QSize size, v4l2_format *native);

    // Converts one frame in `native` format; `image` is reused when it already has the size.
    // False (with errorText()) for a frame that cannot be decoded.
    bool toRgb(const v4l2_format &native, const unsigned char *data, std::size_t bytes,
               QImage *image);

    QString errorText() const;

private:
    V4l2Syscalls &m_sys;
    v4lconvert_data *m_data = nullptr;
};

} // namespace voruna
