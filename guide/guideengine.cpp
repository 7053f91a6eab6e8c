// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder: the states without calibration or corrections, until the loop lands.
#include "guide/guideengine.h"

namespace voruna {

struct GuideEngine::Work {};

GuideEngine::GuideEngine(const GuideSettings &guide, const CalibrationSettings &cal)
    : m_guide(guide), m_cal(cal), m_work(std::make_unique<Work>())
{
}

GuideEngine::~GuideEngine() = default;

void GuideEngine::setGuideSettings(const GuideSettings &settings)
{
    m_guide = settings;
}

void GuideEngine::setPlateScale(double arcsecondsPerPixel)
{
    m_plateScale = arcsecondsPerPixel;
}

void GuideEngine::calibrate(double, QPointF star)
{
    m_lock = star;
    m_state = GuideState::Calibrating;
}

void GuideEngine::useCalibration(const Calibration &calibration)
{
    m_calibration = calibration;
    m_state = GuideState::Calibrated;
}

bool GuideEngine::guide(double, QPointF lock)
{
    if (!m_calibration || !m_calibration->isValid())
        return false;
    m_lock = lock;
    m_state = GuideState::Guiding;
    return true;
}

void GuideEngine::stop()
{
    m_state = m_calibration ? GuideState::Calibrated : GuideState::Idle;
}

std::vector<GuidePulse> GuideEngine::onFrame(double time, const StarMeasurement &star,
                                             GuideRecord *record)
{
    if (record) {
        *record = GuideRecord{};
        record->time = time;
        record->loss = star.loss;
        record->snr = star.snr;
        if (star.isUsable())
            record->offset = star.centre - m_lock;
    }
    m_previousFrame = time;
    return {};
}

void GuideEngine::cameraSilent()
{
    if (m_state == GuideState::Guiding)
        m_state = GuideState::CameraSilent;
}

QString GuideEngine::stateText() const
{
    return {};
}

QStringList GuideEngine::calibrationWarnings() const
{
    return {};
}

} // namespace voruna
