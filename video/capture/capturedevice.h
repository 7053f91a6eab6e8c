// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturelayer.h"
#include "video/capture/displaysettings.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

namespace voruna {

// A pixel format's four-character code, as V4L2 names its formats: 'G','R','E','Y' for 8-bit grey.
constexpr quint32 fourccCode(char a, char b, char c, char d)
{
    return quint32(quint8(a)) | quint32(quint8(b)) << 8 | quint32(quint8(c)) << 16
           | quint32(quint8(d)) << 24;
}

// A frame rate as the device states it: one frame every numerator/denominator seconds.
struct FrameInterval {
    quint32 numerator = 0;
    quint32 denominator = 0;
    double fps() const { return numerator ? double(denominator) / numerator : 0.0; }
    friend bool operator==(const FrameInterval &, const FrameInterval &) = default;
};

// What the device sends: its own pixel format (a fourcc), frame size and frame interval.
struct StreamFormat {
    quint32 pixelFormat = 0;
    QSize size;
    FrameInterval interval;
    friend bool operator==(const StreamFormat &, const StreamFormat &) = default;
};

struct PixelFormatChoice {
    quint32 pixelFormat = 0;
    QString description;
};

// One of the device's own controls (exposure, gain, brightness...).
struct DeviceControl {
    enum class Kind { Integer, Boolean, Menu, Button };
    quint32 id = 0;
    Kind kind = Kind::Integer;
    QString name;
    qint32 minimum = 0;
    qint32 maximum = 0;
    qint32 step = 1;
    qint32 defaultValue = 0;
    qint32 value = 0;
    bool inactive = false;
    bool readOnly = false;
    // The camera changes the value by itself (a gain under automatic control).
    bool changesByItself = false;
    // Setting this control may change others (or whether they are active).
    bool updatesOthers = false;
    // Menu entries as (value, text); values may have gaps.
    QList<QPair<qint32, QString>> menu;
};

// The newest frame of a camera, for the window.
// A camera's sensor and exposure as far as the camera knows them; 0 (or empty) for unknown.
struct CameraFacts {
    QString name;                 // the camera's own name ("CCD Simulator", the V4L2 card)
    double exposureSeconds = 0.0; // of the frames coming now
    double pixelWidthMicrons = 0.0, pixelHeightMicrons = 0.0; // unbinned
    int binX = 1, binY = 1;
    double gain = -1.0; // the camera's own gain setting; < 0 unknown
};

struct ShownFrame {
    // The frame as converted: RGB888 or RGB32 for 8-bit pictures; deeper ones as Grayscale16 or
    // RGBX64 with every sample scaled to 16 bits, so that the display's black and white points
    // can reach the faintest levels. Its pixels are shared, never copied: whoever wants the
    // camera's own levels reads them here.
    QImage frame;
    // Bits per sample of `frame`'s levels: 8, or up to 16.
    int sampleBits = 8;
    // `frame` drawn for `view` (see renderView()) on the camera's own thread; null when the
    // camera leaves the drawing to the window.
    QImage picture;
    DisplayView view;
};

// A connected camera. Its signals come on the GUI thread: frameArrived() says a new frame waits,
// takeFrame() hands out the newest one. A camera that converts its frames on a thread of its
// own starts the conversion in takeFrame(), returns false, and says frameArrived() again when
// the conversion ends (a failed one leaves nothing to take); it draws the frame there too, for
// the view it was last given. failed()
// reports that the stream stopped (the device was lost, or a restart did not start); after it the
// device sends nothing more.
class CaptureDevice : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool hasSourceDialog() const = 0;
    virtual bool hasFormatDialog() const = 0;
    virtual bool hasDisplayDialog() const = 0;

    virtual QList<PixelFormatChoice> pixelFormats() const = 0;
    virtual QList<QSize> frameSizes(quint32 pixelFormat) const = 0;
    // How the Format dialog names one of those sizes.
    virtual QString frameSizeText(quint32 pixelFormat, QSize size) const
    {
        Q_UNUSED(pixelFormat);
        return QStringLiteral("%1 x %2").arg(size.width()).arg(size.height());
    }
    virtual QList<FrameInterval> frameIntervals(quint32 pixelFormat, QSize size) const = 0;
    virtual StreamFormat format() const = 0;
    // Restarts the stream with `format`; true when the device accepted it (it may adjust the
    // size or rate: format() tells what it took). On failure the previous format stays.
    virtual bool setFormat(const StreamFormat &format) = 0;

    virtual QList<DeviceControl> controls() const = 0;
    // Sets one control; true when the device took the value.
    virtual bool setControl(quint32 id, qint32 value) = 0;

    // Starts streaming; true when frames will come.
    virtual bool start() = 0;
    // Why the last start() failed, in the system's words; empty when it did not say.
    virtual QString startError() const { return QString(); }
    virtual bool isLost() const = 0;
    // Fills every part of `shown` with the newest waiting frame; false when none waits (yet), and
    // `shown` is then untouched. `shown->frame` may come in with a buffer to be drawn over.
    virtual bool takeFrame(ShownFrame *shown) = 0;
    // What the window shows now, for a camera that draws its frames on a thread of its own; a
    // frame drawn for an older view is drawn again by the window.
    virtual void setDisplayView(const DisplayView &view) { Q_UNUSED(view); }
    // Takes back a frame the window no longer shows, for a camera that frees large frames on a
    // thread of its own rather than the windows' thread.
    virtual void letGo(ShownFrame &&spent) { Q_UNUSED(spent); }
    // Bits per sample of the pictures takeFrame() gives now: 8, or up to 16.
    virtual int sampleBits() const { return 8; }
    // Arcseconds of sky one pixel covers, when the camera knows its optics; 0 when it does not.
    virtual double arcsecondsPerPixel() const { return 0.0; }
    // What the camera knows of its sensor and its exposures now, for the guide loop and for
    // frames saved to disk.
    virtual CameraFacts cameraFacts() const { return {}; }
    // Whether setExposureSeconds() can work now, asked without changing anything.
    virtual bool canSetExposure() const { return false; }
    // Sets the exposure of the frames to come (for darks taken at several exposures); false
    // when the camera cannot, or not to that length, and then nothing changed.
    virtual bool setExposureSeconds(double seconds)
    {
        Q_UNUSED(seconds);
        return false;
    }

Q_SIGNALS:
    void frameArrived();
    // One notification for the status line (id > 0, text in the layer's words).
    void statusNotice(int id, const QString &text);
    void failed(int id, const QString &text);
};

// Drivers of one source a listing found, on the GUI thread; batches of a lower `group` come
// first in the source's order.
using DriverBatch = std::function<void(int group, const std::vector<DriverDescription> &)>;

// A family of drivers (the V4L2 cameras, the sky, INDI servers), listed one after another in the
// driver list.
class DriverSource {
public:
    virtual ~DriverSource() = default;
    // The drivers of this source present now, in their order, each with the key (id.key) that
    // open() knows it by.
    virtual std::vector<DriverDescription> drivers() = 0;
    // Lists as drivers() does, handing the drivers to `found` while `context` lives. A source
    // that waits on the network looks in the background; the others hand them all over at once.
    virtual void listDrivers(QObject *context, DriverBatch found)
    {
        Q_UNUSED(context);
        found(0, drivers());
    }
    // Opens the driver listed with `key`; nullptr with a reason in `error` on failure, an empty
    // one when the driver is not there any more.
    virtual std::unique_ptr<CaptureDevice> open(const QString &key, QString *error) = 0;
};

// A capture layer over an ordered list of driver sources: driver indices count through the
// first source's drivers, then the next source's, and so on.
std::unique_ptr<CaptureLayer> makeCaptureLayer(std::vector<std::unique_ptr<DriverSource>> sources);

} // namespace voruna
