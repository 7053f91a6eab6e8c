// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/axisguider.h"
#include "guide/calibration.h"
#include "guide/guidetypes.h"
#include "guide/starmeasure.h"

#include <QString>
#include <QStringList>

#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace voruna {

// How calibration moves the star.
struct CalibrationSettings {
    // Each axis moves the star at least this far: the larger of the two.
    double distancePixels = 25.0;
    double distanceArcsec = 20.0;
    // Steps allowed per direction before calibration gives up.
    int maxSteps = 60;
    // Expected guide rate, arcseconds per second, for the step length (half sidereal).
    double guideRate = 7.5;
};

// How guiding corrects.
struct GuideSettings {
    enum class RaAlgorithm { Hysteresis, Predictive };
    RaAlgorithm raAlgorithm = RaAlgorithm::Predictive;
    HysteresisSettings hysteresis;
    PredictiveSettings predictive;
    ResistSwitchSettings dec;
    // Moves smaller than this, pixels along the axis, are not sent.
    double minMovePixels = 0.05;
    // No correction is held longer than this, seconds.
    double maxPulseSeconds = 2.0;
    // Dec corrections north and south, or one sense only, or none.
    enum class DecMode { Both, NorthOnly, SouthOnly, Off };
    DecMode decMode = DecMode::Both;
};

// Where the guide loop stands.
enum class GuideState {
    Idle,
    Calibrating,
    Calibrated, // calibration ended well; guiding may start
    Guiding,
    StarLost,     // guiding (or calibrating) waits for the star to come back
    CameraSilent, // guiding waits for frames
    Failed,       // calibration could not succeed: failureText() says why
};

// The guide loop without a clock or a device: the owner hands in every frame's star with the
// time it arrived and starts the pulses it gets back (each stopped after its seconds). Frames
// exposed while a pulse ran compute nothing: a frame counts only when the frame before it came
// after every pulse had ended.
class GuideEngine {
public:
    explicit GuideEngine(const GuideSettings &guide = {}, const CalibrationSettings &cal = {});
    ~GuideEngine();

    void setGuideSettings(const GuideSettings &settings);
    const GuideSettings &guideSettings() const { return m_guide; }
    // Arcseconds per pixel; 0 when unknown.
    void setPlateScale(double arcsecondsPerPixel);

    // Starts calibrating on the star at `star`; the pulses come with the frames.
    void calibrate(double time, QPointF star);
    // Uses a calibration found before (remembered for this camera and port).
    void useCalibration(const Calibration &calibration);
    // Starts guiding the star to `lock`. false (nothing changes) without a valid calibration.
    bool guide(double time, QPointF lock);
    // Ends calibrating or guiding: the owner stops every pulse under way.
    void stop();

    // A frame arrived at `time` with `star` measured in it (lost or not). Returns the pulses to
    // start now; `record` (when given) receives what the frame gave.
    std::vector<GuidePulse> onFrame(double time, const StarMeasurement &star,
                                    GuideRecord *record = nullptr);
    // A pulse of `direction` really ended at `time` after `heldSeconds` (a stop on a busy
    // machine lands late): frames exposed before then stay stale, and calibration counts it.
    void pulseEnded(GuideDirection direction, double time, double heldSeconds);
    // The owner's watchdog saw no frame for too long: corrections stop until frames return.
    void cameraSilent();
    // When the pulses of the last frame end, seconds on the caller's clock.
    double pulsesEndAt() const { return m_pulsesEnd; }

    GuideState state() const { return m_state; }
    // The state in plain words: "Calibrating: west, step 3", "Guiding", "Star lost: ...".
    QString stateText() const;
    QString failureText() const { return m_failure; }
    // Warnings about the calibration just found or handed in (axes far from square, ...).
    QStringList calibrationWarnings() const;
    std::optional<Calibration> calibration() const { return m_calibration; }
    QPointF lockPosition() const { return m_lock; }

private:
    void calibrationStep(double time, const StarMeasurement &star, std::vector<GuidePulse> *pulses);
    void correct(double time, QPointF axes, std::vector<GuidePulse> *pulses);
    void makeGuiders();

    GuideSettings m_guide;
    CalibrationSettings m_cal;
    double m_plateScale = 0.0;
    GuideState m_state = GuideState::Idle;
    QString m_failure;
    std::optional<Calibration> m_calibration;
    QPointF m_lock;
    double m_pulsesEnd = -std::numeric_limits<double>::infinity();
    double m_previousFrame = -1.0;
    struct Work;
    std::unique_ptr<Work> m_work; // the calibration under way and the axes' algorithms
};

} // namespace voruna
