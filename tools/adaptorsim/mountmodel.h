// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <chrono>
#include <string>

namespace voruna {

// The mount behind the simulated adaptor. Each start command moves its axis at the guide rate
// until the stop command of the same direction; opposite senses on one axis cancel while both
// run. Offsets are in arcseconds from where the mount stood at `origin`: north (n) is +Dec,
// south (s) -Dec, west (w) +RA, east (e) -RA. Every call takes the time of the event from the
// caller's steady clock; times before the last event count as that event's time.
class MountModel {
public:
    using Clock = std::chrono::steady_clock;

    // Half the sidereal rate: 7.5 arcseconds per second.
    static constexpr double defaultGuideRate = 7.5;

    MountModel(double guideRateArcsecPerSecond, Clock::time_point origin);

    // Starts moving towards `direction` (n, s, w or e). false when it was moving that way
    // already (nothing changes) or the letter is no direction.
    bool start(char direction, Clock::time_point now);
    // Stops moving towards `direction`. false when it was not moving that way: nothing changes.
    bool stop(char direction, Clock::time_point now);

    double raAt(Clock::time_point now) const;
    double decAt(Clock::time_point now) const;
    // The letters of the directions under way, in the order n, s, w, e ("nw"); empty when none.
    std::string moving() const;
    // Seconds from the origin to `now`.
    double secondsAt(Clock::time_point now) const;

private:
    void advance(Clock::time_point now);
    // Arcseconds per second along RA and Dec with the directions now under way.
    double raRate() const;
    double decRate() const;

    double m_rate;
    Clock::time_point m_origin;
    Clock::time_point m_last; // the time of the last event, up to which the offsets are summed
    double m_ra = 0.0;
    double m_dec = 0.0;
    std::array<bool, 4> m_moving{}; // n, s, w, e
};

} // namespace voruna
