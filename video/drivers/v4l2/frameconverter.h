// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

#include <linux/videodev2.h>

#include <cstddef>

struct v4lconvert_data;

namespace voruna {

class V4l2Syscalls;

// Turns the frames a camera sends into working images for the display: the common YUV, RGB and
// deep formats directly (see directconvert.h), everything else libv4lconvert knows (MJPEG,
// 8-bit Bayer, the webcam chip formats) into RGB888. Its queries about the device go through
// the same system-call table as the rest of the camera code.
class FrameConverter {
public:
    FrameConverter(V4l2Syscalls &sys, int fd);
    ~FrameConverter();
    FrameConverter(const FrameConverter &) = delete;
    FrameConverter &operator=(const FrameConverter &) = delete;

    bool isValid() const { return m_data != nullptr; }

    // Whether frames in the camera's `pixelFormat` can be shown.
    static bool canConvert(quint32 pixelFormat);
    // Bits per sample of `pixelFormat`: 8, or 10, 12, 16 for the deep formats.
    static int sampleBits(quint32 pixelFormat);

    // The device's own format that libv4lconvert picks to give RGB at about `size` (the same
    // choice libv4l2 makes); false when no format of the device can be converted.
    bool nativeFormatFor(QSize size, v4l2_format *native);

    // Converts one frame in `native` format into a working image: RGB32 or RGB888 for 8-bit
    // formats, Grayscale16 or RGBX64 for deep ones (samples scaled to 16 bits). `image` is
    // reused when it already fits. False (with errorText()) for a frame that cannot be decoded.
    bool convert(const v4l2_format &native, const unsigned char *data, std::size_t bytes,
                 QImage *image);

    QString errorText() const;

    // The same frame through libv4lconvert alone (RGB888), for the formats convert() does not
    // take another way, and to compare the two ways.
    bool viaLibv4lconvert(const v4l2_format &native, const unsigned char *data, std::size_t bytes,
                          QImage *image);

private:
    V4l2Syscalls &m_sys;
    QString m_error;
    v4lconvert_data *m_data = nullptr;
};

} // namespace voruna
