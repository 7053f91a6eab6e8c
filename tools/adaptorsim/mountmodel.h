// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <chrono>
#include <string>

namespace voruna {

// What makes the simulated mount imperfect. All zero but the rates: a perfect mount.
struct MountSetup {
    // Half the sidereal rate: 7.5 arcseconds per second.
    static constexpr double defaultGuideRate = 7.5;

    // Arcseconds per second that a held direction moves its axis: n, s, w, e.
    std::array<double, 4> guideRates{defaultGuideRate, defaultGuideRate, defaultGuideRate,
                                     defaultGuideRate};
    // The RA worm's periodic error: amplitude (arcseconds) of a sine of `pePeriod` seconds,
    // plus one of half that period (`pe2Amplitude`), both zero at the origin.
    double peAmplitude = 0.0;
    double pe2Amplitude = 0.0;
    double pePeriod = 480.0;
    // The sky's drift against the mount (a polar axis that is off), arcseconds per second.
    double driftRa = 0.0;
    double driftDec = 0.0;
    // Play in the Dec gears, in arcseconds of motor travel.
    double decBacklash = 0.0;
};

// An offset on the sky in arcseconds: RA (+ = west) and Dec (+ = north).
struct SkyOffset {
    double ra = 0.0;
    double dec = 0.0;
};

// The mount behind the simulated adaptor. Each start command runs its direction's motor at that
// direction's guide rate until the stop command of the same direction; opposite senses on one
// axis add up while both run. Offsets are in arcseconds from where the mount stood at `origin`:
// north (n) is +Dec, south (s) -Dec, west (w) +RA, east (e) -RA. The Dec axis follows its motor
// only once the motor has taken up the backlash: the gears start engaged for a move north, so
// the first move south, and every reversal after, costs the motor `decBacklash` of travel.
// Every call takes the time of the event from the caller's clock; times before the last event
// count as that event's time.
class MountModel {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr double defaultGuideRate = MountSetup::defaultGuideRate;

    // A perfect mount that moves at one rate in all four directions.
    MountModel(double guideRateArcsecPerSecond, Clock::time_point origin);
    MountModel(const MountSetup &setup, Clock::time_point origin);

    // Starts moving towards `direction` (n, s, w or e). false when it was moving that way
    // already (nothing changes) or the letter is no direction.
    bool start(char direction, Clock::time_point now);
    // Stops moving towards `direction`. false when it was not moving that way: nothing changes.
    bool stop(char direction, Clock::time_point now);

    // Where the axes stand, moved by the guide commands alone.
    double raAt(Clock::time_point now) const;
    double decAt(Clock::time_point now) const;
    // Where the mount points against where it should: the axes plus periodic error and drift.
    // The sky in the guide camera moves by this.
    SkyOffset trackingErrorAt(Clock::time_point now) const;
    // The worm's periodic error in RA, `seconds` after the origin.
    double periodicError(double seconds) const;
    // The letters of the directions under way, in the order n, s, w, e ("nw"); empty when none.
    std::string moving() const;
    // Seconds from the origin to `now`.
    double secondsAt(Clock::time_point now) const;

    const MountSetup &setup() const { return m_setup; }

private:
    void advance(Clock::time_point now);
    // Arcseconds per second along RA and of the Dec motor with the directions now under way.
    double raRate() const;
    double decRate() const;
    // The Dec axis when the motor has gone from its last place to `motor`.
    double decAxisFor(double motor) const;

    MountSetup m_setup;
    Clock::time_point m_origin;
    Clock::time_point m_last; // the time of the last event, up to which the offsets are summed
    double m_ra = 0.0;
    double m_decMotor = 0.0;
    double m_dec = 0.0;             // the Dec axis, within the backlash behind the motor
    std::array<bool, 4> m_moving{}; // n, s, w, e
};

} // namespace voruna
