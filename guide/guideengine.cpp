// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/guideengine.h"

#include "guide/calibrator.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace voruna {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("GuideEngine", text);
}

bool isRa(GuideDirection d)
{
    return d == GuideDirection::West || d == GuideDirection::East;
}

// Seconds signed as the record keeps them: + west or north, - east or south.
double signedSeconds(const GuidePulse &pulse)
{
    const bool positive =
        pulse.direction == GuideDirection::West || pulse.direction == GuideDirection::North;
    return positive ? pulse.seconds : -pulse.seconds;
}

// A Dec move allowed by the mode, or 0.
double decAllowed(GuideSettings::DecMode mode, double move)
{
    switch (mode) {
    case GuideSettings::DecMode::Both:
        return move;
    case GuideSettings::DecMode::NorthOnly:
        return std::max(move, 0.0);
    case GuideSettings::DecMode::SouthOnly:
        return std::min(move, 0.0);
    case GuideSettings::DecMode::Off:
        break;
    }
    return 0.0;
}

} // namespace

struct GuideEngine::Work {
    enum class Mode { None, Calibrating, Guiding };
    Mode mode = Mode::None;
    std::optional<Calibrator> calibrator;
    // The fewest steps per axis of the calibration found here; 0 for one handed in.
    int fewestSteps = 0;
    std::unique_ptr<AxisGuider> ra, dec;
    StarLoss loss = StarLoss::None;
};

GuideEngine::GuideEngine(const GuideSettings &guide, const CalibrationSettings &cal)
    : m_guide(guide)
    , m_cal(cal)
    , m_work(std::make_unique<Work>())
{
    makeGuiders();
}

GuideEngine::~GuideEngine() = default;

void GuideEngine::makeGuiders()
{
    const bool hysteresis = m_guide.raAlgorithm == GuideSettings::RaAlgorithm::Hysteresis;
    m_work->ra = hysteresis ? makeHysteresisGuider(m_guide.hysteresis)
                            : makePredictiveGuider(m_guide.predictive);
    m_work->dec = makeResistSwitchGuider(m_guide.dec);
}

void GuideEngine::setGuideSettings(const GuideSettings &settings)
{
    // The algorithms keep what they learnt unless their own settings change.
    const bool same = settings.raAlgorithm == m_guide.raAlgorithm
                      && settings.hysteresis == m_guide.hysteresis
                      && settings.predictive == m_guide.predictive && settings.dec == m_guide.dec;
    m_guide = settings;
    if (!same)
        makeGuiders();
}

void GuideEngine::setPlateScale(double arcsecondsPerPixel)
{
    m_plateScale =
        arcsecondsPerPixel > 0.0 && std::isfinite(arcsecondsPerPixel) ? arcsecondsPerPixel : 0.0;
}

void GuideEngine::calibrate(double, QPointF star)
{
    m_lock = star;
    m_failure.clear();
    m_work->calibrator.emplace(m_cal, m_plateScale);
    m_work->mode = Work::Mode::Calibrating;
    m_state = GuideState::Calibrating;
}

void GuideEngine::useCalibration(const Calibration &calibration)
{
    if (!calibration.isValid())
        return;
    m_calibration = calibration;
    m_work->fewestSteps = 0;
    if (m_work->mode == Work::Mode::Guiding) {
        m_work->ra->reset();
        m_work->dec->reset();
        return;
    }
    m_work->calibrator.reset();
    m_work->mode = Work::Mode::None;
    m_failure.clear();
    m_state = GuideState::Calibrated;
}

bool GuideEngine::guide(double, QPointF lock)
{
    if (!m_calibration || !m_calibration->isValid())
        return false;
    m_lock = lock;
    m_failure.clear();
    m_work->calibrator.reset();
    m_work->ra->reset();
    m_work->dec->reset();
    m_work->mode = Work::Mode::Guiding;
    m_state = GuideState::Guiding;
    return true;
}

void GuideEngine::stop()
{
    m_work->calibrator.reset();
    m_work->mode = Work::Mode::None;
    m_state = m_calibration ? GuideState::Calibrated : GuideState::Idle;
}

std::vector<GuidePulse> GuideEngine::onFrame(double time, const StarMeasurement &star,
                                             GuideRecord *record)
{
    GuideRecord r;
    r.time = time;
    r.loss = star.loss;
    r.snr = star.snr;
    const bool fresh = m_previousFrame >= m_pulsesEnd;
    m_previousFrame = time;
    if (star.isUsable()) {
        r.offset = star.centre - m_lock;
        if (m_calibration && m_calibration->isValid()) {
            const QPointF axes = m_calibration->toAxes(r.offset);
            r.raPixels = axes.x(), r.decPixels = axes.y();
            if (m_plateScale > 0.0)
                r.raArcsec = axes.x() * m_plateScale, r.decArcsec = axes.y() * m_plateScale;
        }
    }
    std::vector<GuidePulse> pulses;
    const bool calibrating = m_work->mode == Work::Mode::Calibrating;
    if (m_work->mode != Work::Mode::None) {
        if (!star.isUsable()) {
            m_work->loss = star.loss;
            m_state = GuideState::StarLost;
            if (calibrating)
                calibrationStep(time, star, &pulses);
        } else {
            m_state = calibrating ? GuideState::Calibrating : GuideState::Guiding;
            r.stale = !fresh;
            if (fresh && calibrating)
                calibrationStep(time, star, &pulses);
            else if (fresh)
                correct(time, {r.raPixels, r.decPixels}, &pulses);
        }
    }
    for (const GuidePulse &pulse : pulses) {
        m_pulsesEnd = std::max(m_pulsesEnd, time + pulse.seconds);
        (isRa(pulse.direction) ? r.raPulse : r.decPulse) = signedSeconds(pulse);
    }
    if (record)
        *record = r;
    return pulses;
}

void GuideEngine::calibrationStep(double time, const StarMeasurement &star,
                                  std::vector<GuidePulse> *pulses)
{
    Calibrator &calibrator = *m_work->calibrator;
    if (!star.isUsable()) {
        calibrator.onLost(star.loss);
    } else if (const std::optional<GuidePulse> step = calibrator.onFrame(time, star.centre)) {
        pulses->push_back(*step);
    }
    if (calibrator.leg() == Calibrator::Leg::Done) {
        m_calibration = calibrator.result();
        m_work->fewestSteps = calibrator.fewestSteps();
        m_state = GuideState::Calibrated;
    } else if (calibrator.leg() == Calibrator::Leg::Failed) {
        m_failure = calibrator.failure();
        m_state = GuideState::Failed;
    } else {
        return;
    }
    m_work->mode = Work::Mode::None;
}

void GuideEngine::correct(double time, QPointF axes, std::vector<GuidePulse> *pulses)
{
    if (!std::isfinite(axes.x()) || !std::isfinite(axes.y()))
        return;
    const Calibration &c = *m_calibration;
    const double maxSeconds = std::max(m_guide.maxPulseSeconds, 0.0);
    // Turns one axis' move (pixels, + west or north) into a pulse, and tells the algorithm
    // what was really sent.
    const auto send = [&](AxisGuider &guider, bool raAxis, double move) {
        double sent = 0.0;
        if (std::abs(move) >= m_guide.minMovePixels && std::isfinite(move)) {
            const double rate = c.rateOf(raAxis, move > 0.0);
            const double seconds = std::min(std::abs(move) / rate, maxSeconds);
            if (seconds > 0.0) {
                const GuideDirection direction =
                    raAxis ? (move > 0.0 ? GuideDirection::West : GuideDirection::East)
                           : (move > 0.0 ? GuideDirection::North : GuideDirection::South);
                pulses->push_back({direction, seconds});
                sent = std::copysign(seconds * rate, move);
            }
        }
        guider.sent(time, sent);
    };
    send(*m_work->ra, true, m_work->ra->correction(time, axes.x()));
    send(*m_work->dec, false, decAllowed(m_guide.decMode, m_work->dec->correction(time, axes.y())));
}

void GuideEngine::pulseEnded(GuideDirection direction, double time, double heldSeconds)
{
    if (std::isfinite(time))
        m_pulsesEnd = std::max(m_pulsesEnd, time);
    const bool ra = direction == GuideDirection::West || direction == GuideDirection::East;
    if (m_state == GuideState::Calibrating && m_work->calibrator)
        m_work->calibrator->stepEnded(ra, heldSeconds);
}

void GuideEngine::cameraSilent()
{
    if (m_work->mode != Work::Mode::None)
        m_state = GuideState::CameraSilent;
}

QString GuideEngine::stateText() const
{
    switch (m_state) {
    case GuideState::Idle:
        return tr("Not guiding");
    case GuideState::Calibrating: {
        const Calibrator &c = *m_work->calibrator;
        return tr("Calibrating: %1, step %2")
            .arg(Calibrator::legName(c.leg()))
            .arg(std::max(c.step(), 1));
    }
    case GuideState::Calibrated:
        return tr("Calibrated");
    case GuideState::Guiding:
        return tr("Guiding");
    case GuideState::StarLost: {
        // The reason reads on after the colon: "Star lost: the star is too faint".
        QString why = starLossText(m_work->loss);
        if (!why.isEmpty())
            why[0] = why[0].toLower();
        return tr("Star lost: %1").arg(why);
    }
    case GuideState::CameraSilent:
        return tr("No frames from the camera");
    case GuideState::Failed:
        return tr("Calibration failed: %1").arg(m_failure);
    }
    return {};
}

QStringList GuideEngine::calibrationWarnings() const
{
    if (!m_calibration)
        return {};
    return voruna::calibrationWarnings(*m_calibration, m_cal.guideRate, m_work->fewestSteps);
}

} // namespace voruna
