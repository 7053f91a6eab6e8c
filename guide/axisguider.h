// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

namespace voruna {

// One axis' guide algorithm. Errors and moves are in pixels along the axis, + being the way the
// axis' positive direction (west, north) moves the star; times in seconds on the caller's clock.
class AxisGuider {
public:
    virtual ~AxisGuider() = default;
    // The move to make now for a star `error` pixels from the lock position at `time`: the
    // correction in pixels, signed (usually against the error), 0 for none.
    virtual double correction(double time, double error) = 0;
    // What was really sent for that frame after the loop's minimum and maximum (0: nothing), so
    // that an algorithm that models the mount can account for it.
    virtual void sent(double time, double pixels) { (void)time, (void)pixels; }
    // Forgets everything learnt (a new lock position, a new calibration).
    virtual void reset() = 0;
};

// The field's usual RA algorithm: a share (`aggressiveness`) of the error blended with the
// moves before it (`hysteresis`). The defaults suit a streaming camera, where the frame after
// a correction is not used and the periodic error runs on for two exposures: a share above
// one keeps up with it, the blend keeps the share of one frame's seeing below one.
struct HysteresisSettings {
    double aggressiveness = 1.1;
    double hysteresis = 0.35;
    friend bool operator==(const HysteresisSettings &, const HysteresisSettings &) = default;
};
std::unique_ptr<AxisGuider> makeHysteresisGuider(const HysteresisSettings &settings);

// The field's usual Dec algorithm: resists a change of sense until the error persists on the
// other side, so that seeing does not push it back and forth against the backlash.
struct ResistSwitchSettings {
    // Half the error: a steady drift is held a little behind the lock, the seeing little chased.
    double aggressiveness = 0.5;
    // Frames in a row on the other side before the sense may change.
    int persistence = 3;
    friend bool operator==(const ResistSwitchSettings &, const ResistSwitchSettings &) = default;
};
std::unique_ptr<AxisGuider> makeResistSwitchGuider(const ResistSwitchSettings &settings);

// Learns the axis' own motion (periodic error, drift) from the errors and the moves sent, and
// corrects what it predicts before it shows, with a reactive share for the rest.
struct PredictiveSettings {
    double aggressiveness = 0.7;
    // Seconds of history the prediction learns from.
    double memory = 600.0;
    friend bool operator==(const PredictiveSettings &, const PredictiveSettings &) = default;
};
std::unique_ptr<AxisGuider> makePredictiveGuider(const PredictiveSettings &settings);

} // namespace voruna
