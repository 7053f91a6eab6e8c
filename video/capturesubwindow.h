// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"
#include "video/capture/capturelayer.h"
#include "video/capture/displaysettings.h"

#include "guide/frameview.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QMdiSubWindow>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QDialog;
class QTimer;

namespace voruna {

class PreviewWidget;

// Finds and opens the drivers of the driver list.
class DriverOpener {
public:
    virtual ~DriverOpener() = default;
    // The driver at `index` of the driver list now; nullopt when there is none.
    virtual std::optional<DriverId> driverAt(int index) = 0;
    // nullptr with the reason in `error` when the driver cannot be opened; an empty reason when
    // it is not there (any more).
    virtual std::unique_ptr<CaptureDevice> openDriver(const DriverId &driver, QString *error) = 0;
};

// The capture window as a sub-window of the client area's QMdiArea. `opener` must outlive it.
class CaptureSubWindow final : public QMdiSubWindow, public CaptureWindow {
    Q_OBJECT
public:
    CaptureSubWindow(DriverOpener &opener, QWidget *parent = nullptr);
    ~CaptureSubWindow() override;

    void setErrorHook(CaptureHook hook) override { m_errorHook = std::move(hook); }
    void setStatusHook(CaptureHook hook) override { m_statusHook = std::move(hook); }
    bool driverConnect(int index) override;
    bool driverConnect(const DriverId &driver, int index) override;
    bool driverGetCaps(DriverCaps *caps) const override;
    bool getStatus(QSize *imageSize) const override;
    void dlgVideoFormat() override;
    void dlgVideoSource() override;
    void dlgVideoDisplay() override;
    void setPreview(bool on) override;
    void setPreviewRate(int periodMs) override;
    void setScale(bool on) override;
    void setWindowText(const QString &text) override { setWindowTitle(text); }
    void setSizingFrame(bool on) override;
    void setWindowSize(QSize outerSize) override;
    QSize windowSize() const override { return size(); }
    FrameMetrics frameMetrics() const override;

    const DisplaySettings &displaySettings() const { return m_display; }
    // The connected camera; nullptr when none.
    CaptureDevice *device() const { return m_device.get(); }
    PreviewWidget *picture() const { return m_picture; }

    // Hands each new frame's luminance, at the camera's depth and with its time, to `consumer`
    // on this thread, after the frame is shown; with the preview off, as it arrives, the picture
    // staying as it was. The view is valid only during the call.
    using FrameConsumer = std::function<void(const FrameView &)>;
    void setFrameConsumer(FrameConsumer consumer) { m_consumer = std::move(consumer); }
    // Cleans each frame's luminance for the picture (the dark taken off, hot pixels mended):
    // while one is set, the picture shows what it gives, in grey, whenever it changed the
    // frame. Its view must stay valid until the next frame.
    using PictureCleaner = std::function<FrameView(const FrameView &)>;
    void setPictureCleaner(PictureCleaner cleaner);
    // The newest frame's luminance, valid until the next frame is taken; invalid when none.
    FrameView newestLuminance();
    // The newest frame taken, as the camera gave it (a null frame when none), and when it was
    // taken, in UTC.
    const ShownFrame &newestFrame() const { return m_newest; }
    const QDateTime &newestTakenUtc() const { return m_newestUtc; }

protected:
    void changeEvent(QEvent *event) override;

Q_SIGNALS:
    // The connected camera stopped sending for good (lost, or its stream would not restart).
    void cameraFailed();

private:
    void onFrameArrived();
    // With the preview off: takes the newest frame for the consumer alone.
    void takeUnshown();
    void showNewest();
    void applyDisplay(const DisplaySettings &settings);
    // `chosen`: the driver was picked from a list, so its absence is worth a word.
    bool connectDriver(const DriverId &driver, int index, bool chosen);
    DisplayView currentView() const;
    // Takes the view of now and hands it to the camera; false when it had not changed.
    bool updateView();
    // Shows the newest frame, drawing it here when the camera drew it for another view.
    void showFrame();
    // Shows the newest frame cleaned; false when the cleaner left it as it was.
    bool showCleaned();
    void onShownSizeChanged();
    void notify(bool error, int id, const QString &text);
    void handOver();
    bool hasDevice() const { return m_device && !m_device->isLost(); }
    // Runs `dialog` modally; false when this window was destroyed meanwhile.
    bool runModal(QDialog *dialog);

    DriverOpener &m_opener;
    std::unique_ptr<CaptureDevice> m_device;
    PreviewWidget *m_picture;
    QTimer *m_previewTimer;
    QElapsedTimer m_sinceShown;
    CaptureHook m_errorHook;
    CaptureHook m_statusHook;
    // The newest frame taken, with its picture; its frame is kept for the views to come.
    ShownFrame m_newest;
    std::chrono::steady_clock::time_point m_newestTime;
    QDateTime m_newestUtc;
    FrameConsumer m_consumer;
    PictureCleaner m_cleaner;
    QImage m_cleanPicture;
    // The frame last taken with the preview off, and its luminance.
    ShownFrame m_unshown;
    QImage m_unshownLuminance;
    // The newest colour frame's luminance, converted when asked for; grey frames are lent as
    // they are.
    QImage m_luminance;
    bool m_luminanceFresh = false;
    DisplaySettings m_display;
    DisplayView m_view;
    mutable FrameMetrics m_metrics;
    int m_index = -1;
    DriverId m_driver;
    // The camera whose black and white points m_display holds.
    DriverId m_displayFor;
    // The picture size the window was last fitted to; a picture of another size refits it.
    QSize m_fittedTo;
    int m_periodMs = 66;
    bool m_preview = false;
    // With the sizing frame the user can resize the window; without it its size is fixed.
    bool m_framed = true;
};

} // namespace voruna
