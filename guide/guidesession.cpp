// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/guidesession.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace voruna {

namespace {

// The camera is silent after this many frame intervals without a frame, and never sooner than
// the floor: a busy window can hold a fast camera's frames back for a moment.
constexpr double kSilentIntervals = 4.0;
constexpr double kSilentFloorSeconds = 2.0;
// Before two frames have come the interval is unknown: long exposures must not look silent.
constexpr double kSilentUnknownSeconds = 15.0;
constexpr std::size_t kIntervalsKept = 9;

bool isRa(GuideDirection direction)
{
    return direction == GuideDirection::West || direction == GuideDirection::East;
}

bool correcting(GuideState state)
{
    return state == GuideState::Calibrating || state == GuideState::Guiding;
}

} // namespace

GuideSession::GuideSession(GuideOutput &output, QObject *parent)
    : QObject(parent), m_output(output), m_watchdog(new QTimer(this))
{
    m_clock.start();
    for (int d = 0; d < 4; ++d) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this,
                [this, d] { stopMove(GuideDirection(d)); });
        m_stopTimers[d] = timer;
    }
    m_watchdog->setSingleShot(true);
    connect(m_watchdog, &QTimer::timeout, this, &GuideSession::watchdogFired);
}

GuideSession::~GuideSession()
{
    stopCorrections();
}

void GuideSession::setCamera(const QString &cameraKey, int port)
{
    m_cameraKey = cameraKey;
    m_port = port;
}

void GuideSession::onStar(const StarMeasurement &star)
{
    const double time = now();
    noteFrameTime(time);
    // A lost star stops what runs at once: a correction computed from where it was is no
    // longer right.
    if (!star.isUsable())
        stopCorrections();
    const bool wasActive = isActive();
    GuideRecord record;
    const std::vector<GuidePulse> pulses = m_engine.onFrame(time, star, &record);
    if (star.isUsable()) {
        for (const GuidePulse &pulse : pulses)
            startPulse(pulse);
    }
    if (!correcting(m_engine.state()))
        stopCorrections();
    if (isActive())
        armWatchdog();
    else
        m_watchdog->stop();
    if ((wasActive || isActive()) && m_log.isOpen()) {
        GuideRecord line = record;
        line.time -= m_logStart;
        m_log.write(line, m_engine.state());
        if (!m_log.isOpen())
            Q_EMIT note(m_log.note());
    }
    Q_EMIT recorded(record);
    // Only calibrating ends in Calibrated on a frame (also when the star was lost on the way).
    if (wasActive && m_engine.state() == GuideState::Calibrated && m_engine.calibration())
        Q_EMIT calibrationFound(*m_engine.calibration());
    reportState();
}

bool GuideSession::startPulse(const GuidePulse &pulse)
{
    if (!correcting(m_engine.state()) || !(pulse.seconds > 0.0))
        return false;
    // Never two starts of one axis without the stop between.
    for (GuideDirection other : {GuideDirection::North, GuideDirection::South,
                                 GuideDirection::West, GuideDirection::East}) {
        if (isRa(other) == isRa(pulse.direction))
            stopMove(other);
    }
    const int d = index(pulse.direction);
    // Counted as under way even when the start failed: its stop then costs nothing, and a
    // start that did reach the adaptor is never left running.
    m_output.startMove(pulse.direction);
    m_moving[d] = true;
    m_startedAt[d] = now();
    const auto ms = std::chrono::milliseconds(std::lround(pulse.seconds * 1000.0));
    m_stopTimers[d]->start(std::max(ms, std::chrono::milliseconds(1)));
    return true;
}

void GuideSession::stopMove(GuideDirection direction)
{
    const int d = index(direction);
    m_stopTimers[d]->stop();
    if (!std::exchange(m_moving[d], false))
        return;
    m_output.stopMove(direction);
    // On a loaded machine the stop can go out late: the loop learns how long it really ran.
    const double t = now();
    m_engine.pulseEnded(direction, t, t - m_startedAt[d]);
}

void GuideSession::stopCorrections()
{
    for (int d = 0; d < 4; ++d)
        stopMove(GuideDirection(d));
}

void GuideSession::noteFrameTime(double time)
{
    if (m_lastFrame >= 0.0) {
        m_intervals.push_back(time - m_lastFrame);
        if (m_intervals.size() > kIntervalsKept)
            m_intervals.pop_front();
    }
    m_lastFrame = time;
}

double silentAfterSeconds(std::vector<double> intervals)
{
    if (intervals.empty())
        return kSilentUnknownSeconds;
    // The median: one frame held back by a busy moment does not stretch the wait.
    const auto middle = intervals.begin() + intervals.size() / 2;
    std::nth_element(intervals.begin(), middle, intervals.end());
    return std::max(kSilentFloorSeconds, kSilentIntervals * *middle);
}

double GuideSession::watchdogSeconds() const
{
    return silentAfterSeconds({m_intervals.begin(), m_intervals.end()});
}

void GuideSession::armWatchdog()
{
    m_watchdog->start(std::chrono::milliseconds(std::lround(watchdogSeconds() * 1000.0)));
}

void GuideSession::watchdogFired()
{
    if (!isActive())
        return;
    stopCorrections();
    m_engine.cameraSilent();
    const int seconds = int(std::lround(watchdogSeconds()));
    reportState(tr("No frames from the camera for %n second(s): corrections stopped", nullptr,
                   seconds));
}

void GuideSession::cameraLost()
{
    stopCorrections();
    m_watchdog->stop();
    m_engine.cameraSilent();
    reportState(isActive() ? tr("The camera was lost: corrections stopped") : QString());
}

void GuideSession::portLost()
{
    const bool wasActive = isActive();
    stopCorrections();
    m_watchdog->stop();
    m_engine.stop();
    reportState(wasActive ? tr("Stopped: the adaptor's port went away") : QString());
}

void GuideSession::calibrate(QPointF star)
{
    stopCorrections();
    openLog();
    m_engine.calibrate(now(), star);
    armWatchdog();
    reportState();
}

bool GuideSession::guide(QPointF lock)
{
    stopCorrections();
    if (!m_engine.guide(now(), lock))
        return false;
    openLog();
    armWatchdog();
    reportState();
    return true;
}

void GuideSession::stop()
{
    stopCorrections();
    m_watchdog->stop();
    m_engine.stop();
    reportState();
}

bool GuideSession::isActive() const
{
    const GuideState s = m_engine.state();
    return s == GuideState::Calibrating || s == GuideState::Guiding ||
           s == GuideState::StarLost || s == GuideState::CameraSilent;
}

void GuideSession::openLog()
{
    // One file a session: the first calibration or guiding of the session starts it.
    if (m_log.isOpen() || !m_log.note().isEmpty())
        return;
    m_logStart = now();
    if (!m_log.open(m_logFolder.isEmpty() ? guideLogFolder() : m_logFolder,
                    QDateTime::currentDateTime()))
        Q_EMIT note(m_log.note());
}

QString GuideSession::describeState() const
{
    const QString text = m_engine.stateText();
    if (!text.isEmpty())
        return text;
    switch (m_engine.state()) {
    case GuideState::Idle:
        return tr("Not guiding");
    case GuideState::Calibrating:
        return tr("Calibrating");
    case GuideState::Calibrated:
        return tr("Calibrated");
    case GuideState::Guiding:
        return tr("Guiding");
    case GuideState::StarLost:
        return tr("Star lost: corrections stopped");
    case GuideState::CameraSilent:
        return tr("No frames from the camera: corrections stopped");
    case GuideState::Failed:
        return m_engine.failureText().isEmpty() ? tr("Calibration failed")
                                                : m_engine.failureText();
    }
    return QString();
}

void GuideSession::reportState(const QString &why)
{
    const GuideState state = m_engine.state();
    // Why the loop stopped stays said until the state moves on.
    if (!why.isEmpty())
        m_why = why;
    else if (state != m_reportedState)
        m_why.clear();
    const QString text = m_why.isEmpty() ? describeState() : m_why;
    if (state == m_reportedState && text == m_reportedText)
        return;
    m_reportedState = state;
    m_reportedText = text;
    Q_EMIT stateChanged(state, text);
}

} // namespace voruna
