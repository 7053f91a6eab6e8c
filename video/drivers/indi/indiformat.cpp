// SPDX-License-Identifier: GPL-3.0-or-later
// The formats of an INDI camera: its bit depth, binning, windows of the sensor and video stream.
#include "video/drivers/indi/indicamera.h"

#include "video/capture/notices.h"
#include "video/drivers/indi/indiframe.h"

#include <algorithm>

namespace voruna {

namespace {

constexpr quint32 kGrey = fourccCode('G', 'R', 'E', 'Y');
constexpr quint32 kGrey16 = fourccCode('Y', '1', '6', ' ');
// The driver's video stream: 8-bit frames as fast as it sends them.
constexpr quint32 kStream = fourccCode('S', 'T', 'R', 'M');
constexpr int kMaxBinning = 4;

} // namespace

int IndiCamera::bitDepth() const
{
    const auto *bits = number(QStringLiteral("CCD_INFO"), QStringLiteral("CCD_BITSPERPIXEL"));
    return bits && bits->value <= 8 ? 8 : 16;
}

int IndiCamera::binning() const
{
    const auto *bin = number(QStringLiteral("CCD_BINNING"), QStringLiteral("HOR_BIN"));
    return bin ? std::clamp(int(bin->value), 1, kMaxBinning) : 1;
}

CameraFacts IndiCamera::cameraFacts() const
{
    CameraFacts facts;
    facts.name = m_device;
    const auto *streamed = m_useStream ? number(QStringLiteral("STREAMING_EXPOSURE"),
                                                QStringLiteral("STREAMING_EXPOSURE_VALUE"))
                                       : nullptr;
    facts.exposureSeconds = streamed ? streamed->value : m_exposureMs / 1000.0;
    const QString info = QStringLiteral("CCD_INFO");
    if (const auto *x = number(info, QStringLiteral("CCD_PIXEL_SIZE_X")))
        facts.pixelWidthMicrons = std::max(0.0, x->value);
    if (const auto *y = number(info, QStringLiteral("CCD_PIXEL_SIZE_Y")))
        facts.pixelHeightMicrons = std::max(0.0, y->value);
    const QString binning = QStringLiteral("CCD_BINNING");
    if (const auto *x = number(binning, QStringLiteral("HOR_BIN")))
        facts.binX = std::clamp(int(x->value), 1, kMaxBinning);
    if (const auto *y = number(binning, QStringLiteral("VER_BIN")))
        facts.binY = std::clamp(int(y->value), 1, kMaxBinning);
    const auto [gainProperty, gainName] = gainElement();
    if (const auto *gain = number(gainProperty, gainName))
        facts.gain = gain->value;
    return facts;
}

QSize IndiCamera::fullSize() const
{
    const auto *width = number(QStringLiteral("CCD_INFO"), QStringLiteral("CCD_MAX_X"));
    const auto *height = number(QStringLiteral("CCD_INFO"), QStringLiteral("CCD_MAX_Y"));
    if (!width || !height)
        return {};
    return {std::clamp(int(width->value), 0, kMaxFrameSide),
            std::clamp(int(height->value), 0, kMaxFrameSide)};
}

QSize IndiCamera::frameSize() const
{
    const auto *width = number(QStringLiteral("CCD_FRAME"), QStringLiteral("WIDTH"));
    const auto *height = number(QStringLiteral("CCD_FRAME"), QStringLiteral("HEIGHT"));
    const QSize full = fullSize();
    if (!width || !height || width->value < 1 || height->value < 1)
        return full;
    // A server may keep a window chosen by an earlier client, or by this program before.
    return {std::clamp(int(width->value), 1, std::max(1, full.width())),
            std::clamp(int(height->value), 1, std::max(1, full.height()))};
}

QList<PixelFormatChoice> IndiCamera::pixelFormats() const
{
    QList<PixelFormatChoice> formats;
    if (bitDepth() == 8)
        formats.append({kGrey, QStringLiteral("Mono 8-bit")});
    else
        formats.append({kGrey16, QStringLiteral("Mono 16-bit")});
    if (m_properties.contains(QStringLiteral("CCD_VIDEO_STREAM")))
        formats.append({kStream, QStringLiteral("Video stream, 8-bit")});
    return formats;
}

QSize IndiCamera::streamSize() const
{
    const auto *width = number(QStringLiteral("CCD_STREAM_FRAME"), QStringLiteral("WIDTH"));
    const auto *height = number(QStringLiteral("CCD_STREAM_FRAME"), QStringLiteral("HEIGHT"));
    if (!width || !height || width->value < 1 || height->value < 1)
        return fullSize() / binning();
    return {std::clamp(int(width->value), 1, kMaxFrameSide),
            std::clamp(int(height->value), 1, kMaxFrameSide)};
}

FrameInterval IndiCamera::interval(bool stream) const
{
    if (!stream)
        return {quint32(m_exposureMs), 1000};
    const auto *seconds =
        number(QStringLiteral("STREAMING_EXPOSURE"), QStringLiteral("STREAMING_EXPOSURE_VALUE"));
    return {quint32(std::clamp(seconds ? seconds->value * 1000 : 100.0, 1.0, 60000.0)), 1000};
}

QList<QSize> IndiCamera::frameSizes(quint32 pixelFormat) const
{
    const QSize full = fullSize();
    if (pixelFormat == kStream && pixelFormats().size() > 1 && !full.isEmpty())
        return {streamSize()};
    if (pixelFormat != pixelFormats().front().pixelFormat || full.isEmpty())
        return {};
    QList<QSize> sizes;
    for (int b = 1; b <= binnings(); ++b)
        sizes.append(full / b);
    // Windows in the middle of the sensor at its full resolution: a guide star needs only a
    // small part of it, and a small frame comes sooner.
    if (m_properties.contains(QStringLiteral("CCD_FRAME"))) {
        for (const QSize window : {QSize(512, 512), QSize(256, 256)}) {
            if (window.width() < full.width() && window.height() < full.height()
                && !sizes.contains(window))
                sizes.append(window);
        }
    }
    return sizes;
}

QString IndiCamera::frameSizeText(quint32 pixelFormat, QSize size) const
{
    QString text = CaptureDevice::frameSizeText(pixelFormat, size);
    const int index = int(frameSizes(pixelFormat).indexOf(size));
    if (pixelFormat == kStream || index < 0)
        return text;
    if (index >= binnings())
        return text + QStringLiteral(", middle of the sensor");
    return index == 0 ? text : text + QStringLiteral(", binned %1 x %1").arg(index + 1);
}

int IndiCamera::binnings() const
{
    const auto *bin = number(QStringLiteral("CCD_BINNING"), QStringLiteral("HOR_BIN"));
    return bin ? std::clamp(int(bin->maximum), 1, kMaxBinning) : 1;
}

QList<FrameInterval> IndiCamera::frameIntervals(quint32 pixelFormat, QSize size) const
{
    if (!frameSizes(pixelFormat).contains(size))
        return {};
    return {interval(pixelFormat == kStream)};
}

StreamFormat IndiCamera::format() const
{
    QSize size = m_lastSize;
    if (size.isEmpty())
        size = m_useStream ? streamSize() : frameSize() / binning();
    return {m_useStream ? kStream : pixelFormats().front().pixelFormat, size,
            interval(m_useStream)};
}

bool IndiCamera::setFormat(const StreamFormat &chosen)
{
    const QList<QSize> sizes = frameSizes(chosen.pixelFormat);
    const int index = int(sizes.indexOf(chosen.size));
    if (m_lost || index < 0)
        return false;
    // An exposure under way would end with a picture of the old format: abort it, and leave its
    // picture out should it come all the same.
    const QSize before = format().size;
    m_staleSize = m_exposing && before != chosen.size ? before : QSize();
    if (m_exposing && m_properties.contains(QStringLiteral("CCD_ABORT_EXPOSURE"))) {
        m_client->sendSwitch("CCD_ABORT_EXPOSURE", "ABORT");
        m_exposing = false;
    }
    const bool stream = chosen.pixelFormat == kStream;
    if (stream != m_useStream) {
        m_useStream = stream;
        m_client->sendSwitch("CCD_VIDEO_STREAM", stream ? "STREAM_ON" : "STREAM_OFF",
                             stream ? "STREAM_OFF" : "STREAM_ON");
    }
    if (!stream) {
        // The frame counts unbinned pixels: the whole sensor binned, or a window of it.
        const bool binned = index < binnings();
        const QSize full = fullSize();
        const QSize frame = binned ? full : chosen.size;
        if (m_properties.contains(QStringLiteral("CCD_FRAME")))
            m_client->sendNumbers("CCD_FRAME", {{"X", (full.width() - frame.width()) / 2},
                                                {"Y", (full.height() - frame.height()) / 2},
                                                {"WIDTH", frame.width()},
                                                {"HEIGHT", frame.height()}});
        const int bin = binned ? index + 1 : 1;
        m_client->sendNumbers("CCD_BINNING", {{"HOR_BIN", bin}, {"VER_BIN", bin}});
        maybeExpose();
    }
    m_lastSize = chosen.size;
    if (m_announced)
        Q_EMIT statusNotice(notice::StreamStarted, description());
    return true;
}

} // namespace voruna
