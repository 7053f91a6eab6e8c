// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/axisguider.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace voruna {

namespace {

int senseOf(double value)
{
    return (value > 0.0) - (value < 0.0);
}

// Answers a share of the error, blended with the error the move before answered, so that one
// frame's seeing moves the mount less than a lasting error does.
class Hysteresis final : public AxisGuider {
public:
    explicit Hysteresis(const HysteresisSettings &settings) : m_settings(settings) {}

    double correction(double, double error) override
    {
        const double h = std::clamp(m_settings.hysteresis, 0.0, 1.0);
        const double blended = m_started ? (1.0 - h) * error + h * m_previous : error;
        m_previous = blended;
        m_started = true;
        return -m_settings.aggressiveness * blended;
    }

    void reset() override
    {
        m_previous = 0.0;
        m_started = false;
    }

private:
    HysteresisSettings m_settings;
    double m_previous = 0.0; // the blended error the last move answered
    bool m_started = false;
};

// Moves on one side only until the error has stood on the other side for `persistence` frames
// in a row: a reversal costs the gears' backlash before the axis follows, so the seeing's
// swings are left alone and only a lasting error turns the axis round. The first sense is
// chosen the same way, by an error that lasts.
class ResistSwitch final : public AxisGuider {
public:
    explicit ResistSwitch(const ResistSwitchSettings &settings) : m_settings(settings) {}

    double correction(double, double error) override
    {
        const int sense = senseOf(error);
        m_recent.push_back(sense);
        const auto keep = std::size_t(std::max(1, m_settings.persistence));
        while (m_recent.size() > keep)
            m_recent.pop_front();
        if (sense == 0)
            return 0.0;
        if (sense != m_side) {
            const bool lasting = m_recent.size() == keep
                                 && std::all_of(m_recent.begin(), m_recent.end(),
                                                [sense](int s) { return s == sense; });
            if (!lasting)
                return 0.0;
            m_side = sense;
        }
        return -m_settings.aggressiveness * error;
    }

    void reset() override
    {
        m_recent.clear();
        m_side = 0;
    }

private:
    ResistSwitchSettings m_settings;
    std::deque<int> m_recent; // the senses of the last errors, newest last
    int m_side = 0;           // the sense of error the axis answers now; 0 before the first
};

} // namespace

std::unique_ptr<AxisGuider> makeHysteresisGuider(const HysteresisSettings &settings)
{
    return std::make_unique<Hysteresis>(settings);
}

std::unique_ptr<AxisGuider> makeResistSwitchGuider(const ResistSwitchSettings &settings)
{
    return std::make_unique<ResistSwitch>(settings);
}

} // namespace voruna
