// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/startracker.h"

#include <algorithm>

namespace voruna {

StarTracker::StarTracker(const StarSettings &settings) : m_settings(settings)
{}

void StarTracker::follow(const StarMeasurement &star)
{
    m_position = star.centre;
    m_meanFlux = star.flux > 0.0 ? star.flux : 0.0;
    m_following = true;
}

void StarTracker::stop()
{
    m_following = false;
    m_meanFlux = 0.0;
}

StarMeasurement StarTracker::track(const FrameView &frame)
{
    if (!m_following) {
        StarMeasurement none;
        none.loss = StarLoss::NoStar;
        return none;
    }
    StarMeasurement star = measureStar(frame, m_position, m_settings);
    if (!star.isUsable())
        return star;
    if (m_meanFlux > 0.0) {
        const double factor = std::max(m_settings.brightnessFactor, 1.0);
        if (star.flux > factor * m_meanFlux || star.flux < m_meanFlux / factor) {
            star.loss = StarLoss::BrightnessJump;
            return star;
        }
        const double weight = 1.0 / std::max(m_settings.brightnessMemory, 1);
        m_meanFlux += weight * (star.flux - m_meanFlux);
    } else {
        m_meanFlux = star.flux;
    }
    m_position = star.centre;
    return star;
}

} // namespace voruna
