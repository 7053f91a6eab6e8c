// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/calibration.h"
#include "guide/guideengine.h"
#include "guide/guidetypes.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace voruna {

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

    // The star measured on a fresh frame: one exposed after the last step ended. Returns the
    // next step to take; none once calibration is done or has failed.
    std::optional<GuidePulse> onFrame(QPointF star);
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
    // Seconds held so far in the leg, and where the star stood.
    using Sample = std::pair<double, QPointF>;
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
    int m_lostInRow = 0;
    std::vector<Sample> m_samples; // the leg under way
    QPointF m_westSlope, m_eastSlope, m_northSlope;
    std::optional<QPointF> m_southSlope;
    int m_westSteps = 0, m_northSteps = 0;
    std::vector<double> m_clearingMoves;
    Calibration m_result;
    QString m_failure;
};

// Plain-words doubts about a calibration that can guide: axes a little off square, a rate
// far from what the guide rate (arcseconds per second) gives at the calibration's plate scale,
// few steps (`fewestSteps`, 0 when unknown).
QStringList calibrationWarnings(const Calibration &calibration, double guideRate,
                                int fewestSteps);

// The least-squares slope of the positions against the seconds, pixels per second; nullopt
// with fewer than two distinct times.
std::optional<QPointF> slopeOf(const std::vector<std::pair<double, QPointF>> &points);

} // namespace voruna
