// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capturedevice.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMap>

#include <memory>

class QTimer;

namespace voruna {

// An INDI server, as named in the servers file: "host" or "host:port".
struct IndiServer {
    QString host;
    quint16 port = 7624;
    bool isLocal() const;
    friend bool operator==(const IndiServer &, const IndiServer &) = default;
};

// Reads one line of the servers file; false for a blank line, a comment (#) or a bad port.
bool parseIndiServer(const QString &line, IndiServer *server);
// The servers to look at: this computer's first, then those of `file` (one a line) in their order,
// each once.
QList<IndiServer> indiServers(const QString &file);
// The user's servers file: $XDG_CONFIG_HOME/voruna/indi-servers.
QString indiServersFile();

// One property of the camera as it last came from the server, copied off the client's thread.
struct IndiProperty {
    struct Number {
        double value = 0, minimum = 0, maximum = 0, step = 0;
    };
    QString name;
    int state = 0; // IPState: 0 idle, 1 ok, 2 busy, 3 alert
    QMap<QString, Number> numbers;
    QMap<QString, bool> switches;
    QMap<QString, QString> texts;
};

class IndiClient;

// A camera (CCD driver) of an INDI server. The server's client runs on the client library's own
// thread; it copies every property and decodes every frame there, and hands them to this object
// on the GUI thread. The preview loops exposures of the chosen length while streaming.
class IndiCamera final : public CaptureDevice {
    Q_OBJECT
public:
    static constexpr quint32 exposureControl = 1; // milliseconds
    static constexpr quint32 gainControl = 2;
    static constexpr quint32 offsetControl = 3;

    // Connects to `server` within `timeoutMs`; check connected() after.
    IndiCamera(const IndiServer &server, const QString &device, const QString &label, int timeoutMs,
               QObject *parent = nullptr);
    ~IndiCamera() override;

    bool connected() const { return m_client != nullptr; }

    bool hasSourceDialog() const override { return true; }
    bool hasFormatDialog() const override { return true; }
    bool hasDisplayDialog() const override { return true; }

    QList<PixelFormatChoice> pixelFormats() const override;
    QList<QSize> frameSizes(quint32 pixelFormat) const override;
    QList<FrameInterval> frameIntervals(quint32 pixelFormat, QSize size) const override;
    StreamFormat format() const override;
    bool setFormat(const StreamFormat &format) override;

    QList<DeviceControl> controls() const override;
    bool setControl(quint32 id, qint32 value) override;

    bool start() override;
    bool isLost() const override { return m_lost; }
    bool takeFrame(QImage *image) override;
    // 16-bit frames keep their depth up to the display stretch.
    int sampleBits() const override { return bitDepth() > 8 ? 16 : 8; }

    // Called on the GUI thread by the client.
    void onProperty(const IndiProperty &property);
    void onFrame(const QImage &frame, const QString &error);
    void onServerGone();

private:
    const IndiProperty::Number *number(const QString &property, const QString &element) const;
    void maybeExpose();
    void lose(const QString &why);
    int bitDepth() const;
    int binning() const;
    QSize fullSize() const;
    QString description() const;
    // Where gain and offset live: their own property or the controls property.
    QPair<QString, QString> gainElement() const;
    QPair<QString, QString> offsetElement() const;

    std::unique_ptr<IndiClient> m_client;
    QString m_device;
    QString m_label;
    QHash<QString, IndiProperty> m_properties;
    QTimer *m_retry;
    QImage m_frame;
    QSize m_lastSize;
    int m_exposureMs = 1000;
    bool m_connectAsked = false;
    bool m_streaming = false;
    bool m_exposing = false;
    bool m_waiting = false;
    bool m_announced = false;
    bool m_lost = false;
};

// The INDI cameras of the servers named by the servers file (or `servers`, when given), and of
// this computer's. A listing asks each server for its devices: one that refuses costs nothing,
// one that is silent a quarter of a second, one that cannot be reached the connect timeout;
// listings within two seconds of each other share one look.
class IndiDriverSource final : public DriverSource {
public:
    explicit IndiDriverSource(QList<IndiServer> servers = {});
    std::vector<DriverDescription> drivers() override;
    std::unique_ptr<CaptureDevice> open(int index, QString *error) override;

    // How long connecting to a server may take, in milliseconds.
    static constexpr int connectTimeoutMs = 1000;

private:
    struct Camera {
        IndiServer server;
        QString device;
        QString name;
    };
    void list();

    QList<IndiServer> m_servers;
    std::vector<Camera> m_cameras;
    QElapsedTimer m_listed;
};

// The CCD devices `server` offers, within about `timeoutMs` for connecting and as much again for
// its answer; empty when it does not answer.
QStringList listIndiCameras(const IndiServer &server, int timeoutMs);

} // namespace voruna
