#pragma once

// The state of one scripted camera, shared by the files of the fake kernel.
#include "fakev4l2.h"

#include <deque>
#include <vector>

namespace voruna::test {


struct FakeV4l2::Camera {
    int node = 0;
    FakeCameraConfig config;
    bool present = true;
    std::vector<std::vector<uchar>> buffers;
    std::deque<int> queued;
    std::deque<int> done;
    std::vector<quint32> used;
    bool streaming = false;
    int streamFd = -1;
    int mapped = 0;
    quint32 sequence = 0;
    QByteArray frame;
    StreamFormat frameFormat;

    const FakeFormat *format(quint32 fourcc) const
    {
        for (const FakeFormat &f : config.formats) {
            if (f.fourcc == fourcc)
                return &f;
        }
        return nullptr;
    }
    void fill(v4l2_pix_format &pix) const
    {
        pix.pixelformat = config.fourcc;
        pix.width = config.size.width();
        pix.height = config.size.height();
        pix.field = V4L2_FIELD_NONE;
        pix.bytesperline = config.fourcc == V4L2_PIX_FMT_YUYV ? pix.width * 2 : 0;
        pix.sizeimage = pix.width * pix.height * 4;
        pix.colorspace = V4L2_COLORSPACE_SRGB;
    }
    const QByteArray &picture()
    {
        const StreamFormat now{config.fourcc, config.size, {}};
        if (frame.isEmpty() || !(frameFormat == now)) {
            const QImage image = fakeTestPicture(config.size);
            frame = encodeFrame(image, config.fourcc);
            frameFormat = now;
        }
        return frame;
    }
};

} // namespace voruna::test
