// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder: hands frames to the engine; pulses, the watchdog and the log land later.
#include "guide/guidesession.h"

namespace voruna {

GuideSession::GuideSession(GuideOutput &output, QObject *parent)
    : QObject(parent), m_output(output)
{
    m_clock.start();
}

GuideSession::~GuideSession()
{
    stopCorrections();
}

void GuideSession::setCamera(const QString &, int) {}

void GuideSession::onStar(const StarMeasurement &star)
{
    GuideRecord record;
    m_engine.onFrame(m_clock.nsecsElapsed() / 1e9, star, &record);
    Q_EMIT recorded(record);
}

void GuideSession::cameraLost()
{
    stopCorrections();
    m_engine.cameraSilent();
}

void GuideSession::portLost()
{
    stop();
}

void GuideSession::calibrate(QPointF star)
{
    m_engine.calibrate(m_clock.nsecsElapsed() / 1e9, star);
}

bool GuideSession::guide(QPointF lock)
{
    return m_engine.guide(m_clock.nsecsElapsed() / 1e9, lock);
}

void GuideSession::stop()
{
    stopCorrections();
    m_engine.stop();
}

void GuideSession::stopCorrections() {}

bool GuideSession::isActive() const
{
    const GuideState s = m_engine.state();
    return s == GuideState::Calibrating || s == GuideState::Guiding ||
           s == GuideState::StarLost || s == GuideState::CameraSilent;
}

} // namespace voruna
