// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;
class QWidget;

namespace voruna {

class CaptureWindow;

// Which driver an entry of the driver list is, whatever its place in a later list: the family
// it belongs to (its source's place in the layer) and that family's own key for it (a video node
// and the camera found there, an INDI server and device).
struct DriverId {
    int source = -1;
    QString key;
    bool isNull() const { return source < 0; }
    friend bool operator==(const DriverId &, const DriverId &) = default;
};

// One installed capture driver as the driver list shows it.
struct DriverDescription {
    QString name;
    QString version;
    DriverId id{};
};

// What the connected driver offers: its index in the driver list and which of the three
// settings dialogs it has.
struct DriverCaps {
    int deviceIndex = 0;
    bool hasDlgVideoSource = false;
    bool hasDlgVideoFormat = false;
    bool hasDlgVideoDisplay = false;
    DriverId driver{};
};

// Sizes of the capture window's decoration, in pixels: the caption bar above the picture and
// the sizing frame on each side. Width = image + 2 x frameWidth, height = image + caption +
// 2 x frameHeight gives a picture area of exactly the image size.
struct FrameMetrics {
    int captionHeight = 0;
    int frameWidth = 0;
    int frameHeight = 0;
};

// A notification handler: (capture window, id, NUL-terminated 8-bit text); returns 0.
// Id 0 carries nothing to show. The text is valid only during the call.
using CaptureHook = std::function<int(CaptureWindow *window, int id, const char *text)>;

// The capture window: a child window with its own caption and sizing frame showing the
// picture of the connected driver. It lives as a child of the widget it was created in and
// ends with it. No call reports failure by throwing; `true` means the call took effect.
class CaptureWindow {
public:
    virtual ~CaptureWindow() = default;

    // Installs a handler; an empty function removes it. Handlers run on the GUI thread, also
    // while one of this window's own calls is in progress.
    virtual void setErrorHook(CaptureHook hook) = 0;
    virtual void setStatusHook(CaptureHook hook) = 0;

    // Connects the driver at `index` of the driver list; true when connected. A failed
    // connect leaves the window without a driver.
    virtual bool driverConnect(int index) = 0;
    // Connects `driver`, listed at `index` of a list made before, even when the list has changed
    // since; false, with a notification, when it has gone.
    virtual bool driverConnect(const DriverId &driver, int index) = 0;
    // Fills `caps` for the connected driver; false (caps untouched) when none is connected.
    virtual bool driverGetCaps(DriverCaps *caps) const = 0;
    // The current image size; false when there is no image (no driver connected, or a camera
    // still connecting that has not told its size).
    virtual bool getStatus(QSize *imageSize) const = 0;

    // The driver's settings dialogs; each is modal and returns when it closes.
    virtual void dlgVideoFormat() = 0;
    virtual void dlgVideoSource() = 0;
    virtual void dlgVideoDisplay() = 0;

    virtual void setPreview(bool on) = 0;
    // The picture is refreshed at most once per `periodMs` milliseconds.
    virtual void setPreviewRate(int periodMs) = 0;
    // Scaled: the picture fills the window's client area; otherwise it shows at its own size
    // from the top-left corner.
    virtual void setScale(bool on) = 0;

    // Window operations: caption text, the style (with or without caption and sizing frame),
    // the outer size (position and stacking stay) and the decoration sizes.
    virtual void setWindowText(const QString &text) = 0;
    virtual void setSizingFrame(bool on) = 0;
    virtual void setWindowSize(QSize outerSize) = 0;
    virtual QSize windowSize() const = 0;
    virtual FrameMetrics frameMetrics() const = 0;
};

// The capture layer: the installed drivers and the creation of capture windows.
class CaptureLayer {
public:
    virtual ~CaptureLayer() = default;

    // The driver at `index` (from 0); nullopt when no driver is installed there.
    virtual std::optional<DriverDescription> driverDescription(int index) = 0;
    // Every driver installed now, in index order, from one look at the system.
    virtual std::vector<DriverDescription> drivers() = 0;
    // Drivers a listing found, on the GUI thread: batches of a lower `place` come before in the
    // driver list.
    using DriversFound = std::function<void(int place, const std::vector<DriverDescription> &)>;
    // Lists as drivers() does without holding up the GUI thread on slow looks (network servers):
    // `found` hears of the drivers in batches, some during this call, the others later while
    // `context` lives.
    virtual void listDrivers(QObject *context, DriversFound found) = 0;

    // Creates a capture window with caption `title` at `geometry` inside `parent`, which must
    // be the QMdiArea filling the client area of the window that holds it. The capture window
    // is owned by `parent`. Returns nullptr when `parent` cannot hold a capture window.
    virtual CaptureWindow *createCaptureWindow(QWidget *parent, const QString &title,
                                               const QRect &geometry) = 0;
};

} // namespace voruna
