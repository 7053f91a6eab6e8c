// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/calibration.h"
#include "guide/guideengine.h"
#include "guide/guidetypes.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace voruna {

// Where the star stood on a fresh frame of a calibration leg: the seconds held so far in the
// leg, the frame's time (seconds on the caller's clock) and the star's place.
struct CalibrationSample {
    double held = 0.0;
    double time = 0.0;
    QPointF star;
};

// Learns how the four directions move the star, one step a fresh frame: west in steps of a
// computed length until the star has gone the set distance, east back the same time, north
// until the Dec gears have taken up their backlash and the star moves steadily, then north the
// distance and south back. Each leg's rate is the slope of the star's positions against the
// seconds held; the sky's own drift adds to one leg of an axis and takes from the other, so
// the mean of the two legs is the axis' rate (unless the two differ by more than drift can
// explain, when each keeps its own).
class Calibrator {
public:
    enum class Leg { West, East, Backlash, North, South, Done, Failed };

    // `plateScale` in arcseconds per pixel, 0 when unknown.
    Calibrator(const CalibrationSettings &settings, double plateScale);

    // The star measured at `time` on a fresh frame: one exposed after the last step ended.
    // Returns the next step to take; none once calibration is done or has failed.
    std::optional<GuidePulse> onFrame(double time, QPointF star);
    // The step just taken on the RA (or Dec) axis really ran `heldSeconds`, not its planned
    // length: the leg's rate is fitted to the time really held.
    void stepEnded(bool raAxis, double heldSeconds);
    // A frame without the star: after a few in a row calibration gives up.
    void onLost(StarLoss loss);

    Leg leg() const { return m_leg; }
    // The step under way in this leg, from 1; 0 before the first.
    int step() const { return m_steps; }
    QString failure() const { return m_failure; }
    // Valid once leg() is Done.
    const Calibration &result() const { return m_result; }
    // The fewest steps the west and north legs took.
    int fewestSteps() const;
    double stepSeconds() const { return m_stepSeconds; }
    double distance() const { return m_distance; }

    // The leg's name in the state line: "west", "clearing the Dec backlash".
    static QString legName(Leg leg);

private:
    // West or north until the star has gone the distance.
    std::optional<GuidePulse> stepOut(QPointF star);
    // East or south for as many steps as the leg out took.
    std::optional<GuidePulse> stepBack(QPointF star);
    std::optional<GuidePulse> clearBacklash(QPointF star);
    std::optional<GuidePulse> begin(Leg leg, QPointF star);
    GuidePulse takeStep(GuideDirection direction);
    void finish();
    void fail(const QString &reason);

    CalibrationSettings m_settings;
    double m_plateScale;
    double m_distance;
    double m_stepSeconds;
    Leg m_leg = Leg::West;
    int m_steps = 0;
    double m_held = 0.0;       // seconds really held in the leg under way
    bool m_stepOpen = false;   // the last step's real length is not known yet
    int m_lostInRow = 0;
    double m_time = 0.0;                      // of the frame being handled
    std::vector<CalibrationSample> m_samples; // the leg under way
    std::vector<CalibrationSample> m_westSamples;
    QPointF m_westSlope, m_eastSlope, m_northSlope;
    std::optional<QPointF> m_southSlope;
    std::optional<QPointF> m_raWithDrift;
    int m_westSteps = 0, m_northSteps = 0;
    std::vector<double> m_clearingMoves;
    Calibration m_result;
    QString m_failure;
};

// Plain-words doubts about a calibration that can guide: axes a little off square, a rate
// far from what the guide rate (arcseconds per second) gives at the calibration's plate scale,
// few steps (`fewestSteps`, 0 when unknown).
QStringList calibrationWarnings(const Calibration &calibration, double guideRate, int fewestSteps);

// The least-squares slope of the star's places against the seconds held, pixels per second;
// nullopt with fewer than two distinct figures.
std::optional<QPointF> slopeOf(const std::vector<CalibrationSample> &samples);

// The rate of one axis from its leg out and its leg back together, pixels per second held
// out: the star's places fitted to the seconds held (out counting up, back down) and to a sky
// whose drift changes steadily (a quadratic in time), so that the periodic error under way
// through the two legs leaves the rate alone. nullopt when the legs cannot tell them apart.
std::optional<QPointF> rateWithDrift(const std::vector<CalibrationSample> &out,
                                     const std::vector<CalibrationSample> &back);

} // namespace voruna
