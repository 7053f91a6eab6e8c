// SPDX-License-Identifier: GPL-3.0-or-later
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
    __u32 bufferType() const
    {
        return config.multiPlanar ? V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE
                                  : V4L2_BUF_TYPE_VIDEO_CAPTURE;
    }
    // The sizes of a buffer's planes, which lie one after another in it.
    std::vector<std::size_t> planeSizes() const
    {
        const std::size_t pixels = std::size_t(config.size.width()) * config.size.height();
        if (!config.multiPlanar)
            return {pixels * 4};
        switch (config.fourcc) {
        case V4L2_PIX_FMT_NV12M:
        case V4L2_PIX_FMT_NV21M:
            return {pixels, pixels / 2};
        case V4L2_PIX_FMT_YUV420M:
            return {pixels, pixels / 4, pixels / 4};
        default:
            return {pixels * 4};
        }
    }
    void fill(v4l2_pix_format_mplane &mp) const
    {
        v4l2_pix_format pix{};
        fill(pix);
        mp.pixelformat = pix.pixelformat;
        mp.width = pix.width;
        mp.height = pix.height;
        mp.field = pix.field;
        mp.colorspace = pix.colorspace;
        const std::vector<std::size_t> sizes = planeSizes();
        mp.num_planes = __u8(sizes.size());
        for (std::size_t p = 0; p < sizes.size(); ++p) {
            mp.plane_fmt[p].sizeimage = __u32(sizes[p]);
            mp.plane_fmt[p].bytesperline = p == 0 ? pix.bytesperline : 0;
        }
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
