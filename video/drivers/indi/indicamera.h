// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include "video/drivers/indi/indiclient.h"
#include "video/drivers/indi/indiservers.h"

#include <QElapsedTimer>
#include <QHash>

#include <memory>

class QTimer;

namespace voruna {

// A camera (CCD driver) of an INDI server. The server's client runs on the client library's own
// thread; it copies every property and decodes every frame there, and hands them to this object
// on the GUI thread. The preview loops exposures of the chosen length while streaming, or shows
// the driver's own video stream where it has one and the user chose it in the Format dialog:
// faster, but 8-bit.
// Connecting waits a moment for the camera to tell its size and goes on in the background when
// the server is slower: the status line says so, and a server that never answers is a failure.
class IndiCamera final : public CaptureDevice {
    Q_OBJECT
public:
    static constexpr quint32 exposureControl = 1; // milliseconds
    static constexpr quint32 gainControl = 2;
    static constexpr quint32 offsetControl = 3;

    // Starts connecting to `server`, giving up after `timeoutMs`; check connected() after: false
    // when the server refused at once.
    IndiCamera(const IndiAddress &server, const QString &device, const QString &label,
               int timeoutMs, QObject *parent = nullptr);
    ~IndiCamera() override;

    bool connected() const { return m_client != nullptr; }

    bool hasSourceDialog() const override { return true; }
    bool hasFormatDialog() const override { return true; }
    bool hasDisplayDialog() const override { return true; }

    QList<PixelFormatChoice> pixelFormats() const override;
    QList<QSize> frameSizes(quint32 pixelFormat) const override;
    // Says which sizes bin the whole sensor and which are windows of it.
    QString frameSizeText(quint32 pixelFormat, QSize size) const override;
    QList<FrameInterval> frameIntervals(quint32 pixelFormat, QSize size) const override;
    StreamFormat format() const override;
    bool setFormat(const StreamFormat &format) override;

    QList<DeviceControl> controls() const override;
    bool setControl(quint32 id, qint32 value) override;
    // As the exposure control, in whole milliseconds within the limits the driver gives.
    bool canSetExposure() const override { return true; }
    bool setExposureSeconds(double seconds) override;

    bool start() override;
    bool isLost() const override { return m_lost; }
    bool takeFrame(ShownFrame *shown) override;
    void setDisplayView(const DisplayView &view) override;
    void letGo(ShownFrame &&spent) override;
    // 16-bit frames keep their depth up to the display stretch.
    int sampleBits() const override { return !m_useStream && bitDepth() > 8 ? 16 : 8; }
    // The INDI device's name, the exposure as asked for, CCD_INFO's pixel size, CCD_BINNING and
    // the gain where the driver has one.
    CameraFacts cameraFacts() const override;

    // Called on the GUI thread by the client.
    void onProperty(const IndiProperty &property);
    void onFrame(const ShownFrame &shown, const QString &error);
    void onServerGone();
    void onServerReached(bool reached);

    // How long the constructor waits for the camera's size, and how long the server may take to
    // tell anything of the camera before it counts as not answering, in milliseconds.
    static constexpr int sizeWaitMs = 500;
    static constexpr int answerWaitMs = 3000;
    // How long past an exposure a picture may take before the status line says none comes.
    static constexpr int quietMs = 5000;

private:
    const IndiProperty::Number *number(const QString &property, const QString &element) const;
    void maybeExpose();
    void lose(const QString &why);
    // Ends the camera before it ever worked: `text` goes to the status line as it is.
    void giveUp(const QString &text);
    void watchForPictures();
    void onQuiet();
    int bitDepth() const;
    int binning() const;
    // The most the camera bins, 1 when it does not.
    int binnings() const;
    QSize fullSize() const;
    // The part of the sensor read out (the whole, or a window in it), unbinned.
    QSize frameSize() const;
    // The size of the driver's video stream's frames.
    QSize streamSize() const;
    // Exposures: their length; the video stream: its frames' exposure.
    FrameInterval interval(bool stream) const;
    QString description() const;
    // Where gain and offset live: their own property or the controls property.
    QPair<QString, QString> gainElement() const;
    QPair<QString, QString> offsetElement() const;

    std::unique_ptr<IndiClient> m_client;
    QString m_device;
    QString m_label;
    QHash<QString, IndiProperty> m_properties;
    QTimer *m_retry;
    QTimer *m_answerDeadline;
    // Runs from each exposure asked for and each picture shown: a server that stops sending
    // (frozen, or its link to the camera hung) is said in the status line.
    QTimer *m_quiet;
    QElapsedTimer m_sincePicture;
    QString m_server; // host:port
    ShownFrame m_shown;
    QSize m_lastSize;
    // The size of the pictures of an exposure begun before the format changed: one such picture
    // that comes after the change is left out.
    QSize m_staleSize;
    int m_exposureMs = 1000;
    bool m_connectAsked = false;
    bool m_reached = false;
    bool m_useStream = false;
    bool m_streaming = false;
    bool m_exposing = false;
    bool m_waiting = false;
    bool m_announced = false;
    bool m_lost = false;
};

} // namespace voruna
