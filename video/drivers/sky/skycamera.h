// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mountfeed/mountfeed.h"
#include "video/capture/capturedevice.h"
#include "video/drivers/sky/starfield.h"

#include <QPointF>

#include <memory>
#include <optional>

class QTimer;

namespace voruna {

// How far the sky has moved in the picture between two readings of the mount, in arcseconds
// along RA and Dec (see SkyView): the change of the tracking error since `first` plus the seeing
// shift of `now`.
QPointF skyOffset(const MountReading &first, const MountReading &now);

// The sky simulator's camera: pictures of the simulated sky that move with the mount of a
// running adaptor simulator. Holding a slew button moves the guide star the way the button's
// arrow points (see SkyView), at the simulator's guide rate over the plate scale; meanwhile the
// sky moves as the simulator's mount errs (drift, periodic error, backlash), its air shakes the
// star, and the picture turns by the camera's angle, all as the simulator says. The guide star
// starts in the middle of the picture, 320 x 240 at first, which the video window shows whole at
// its own size. Frames come on the GUI thread at the frame interval, or at the exposure when that
// is longer; each is rendered when taken. When the simulator goes away the camera is lost.
class SkyCamera final : public CaptureDevice {
    Q_OBJECT
public:
    static constexpr double plateScale = 2.0;     // arcseconds per pixel
    // A guide camera's pixel behind a guide scope of 387 mm, which gives the plate scale above.
    static constexpr double pixelMicrons = 3.75;
    static constexpr quint32 exposureControl = 1; // milliseconds
    static constexpr int maxExposureMs = 10000;
    static constexpr quint32 gainControl = 2;
    // On: the telescope is covered, for taking darks (see SkyView::covered).
    static constexpr quint32 coverControl = 3;

    // Reads the mount through `feed`, connected to the simulator linked as COM `port`.
    SkyCamera(std::unique_ptr<MountFeed> feed, int port, QObject *parent = nullptr);
    ~SkyCamera() override;

    bool hasSourceDialog() const override { return true; }
    bool hasFormatDialog() const override { return true; }
    bool hasDisplayDialog() const override { return true; }

    QList<PixelFormatChoice> pixelFormats() const override;
    QList<QSize> frameSizes(quint32 pixelFormat) const override;
    QList<FrameInterval> frameIntervals(quint32 pixelFormat, QSize size) const override;
    StreamFormat format() const override { return m_format; }
    bool setFormat(const StreamFormat &format) override;

    QList<DeviceControl> controls() const override;
    bool setControl(quint32 id, qint32 value) override;
    // Rounded to whole milliseconds, which must lie within the exposure control's range.
    bool canSetExposure() const override { return !m_lost; }
    bool setExposureSeconds(double seconds) override;

    bool start() override;
    bool isLost() const override { return m_lost; }
    bool takeFrame(ShownFrame *shown) override;
    double arcsecondsPerPixel() const override { return plateScale; }
    CameraFacts cameraFacts() const override;

    // What the next picture shows, from the newest reading of the mount.
    SkyView view() const;

private:
    void tick();
    void onReading(const MountReading &reading);
    void onLost();
    int periodMs() const;
    QString description() const;

    std::unique_ptr<MountFeed> m_feed;
    QTimer *m_timer;
    StarField m_sky;
    StreamFormat m_format;
    QImage m_frame;
    std::optional<MountReading> m_first; // the reading the picture started from
    std::optional<MountReading> m_newest;
    std::uint64_t m_frames = 0;
    int m_port;
    int m_exposureMs = 100;
    int m_gain = 40;
    bool m_covered = false;
    bool m_waiting = false; // a reading came that no frame has shown yet
    bool m_streaming = false;
    bool m_lost = false;
};

// The sky simulator as a driver: listed while an adaptor simulator publishes its mount in
// `folder` (the one of COM 1 if several do), otherwise not at all. An empty `folder` means the
// user's own (mountFeedFolder()), looked up at every listing so that a simulator started later
// is found. Listing only looks at the sockets and never waits.
class SkyDriverSource final : public DriverSource {
public:
    explicit SkyDriverSource(QString folder = {});
    std::vector<DriverDescription> drivers() override;
    std::unique_ptr<CaptureDevice> open(const QString &key, QString *error) override;

    static QString driverName() { return QStringLiteral("Voruna Sky Simulator"); }

private:
    // The lowest port whose simulator answers, with its socket; 0 when none.
    int findSimulator(QString *path) const;

    QString m_folder;
};

} // namespace voruna
