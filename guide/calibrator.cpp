// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/calibrator.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace voruna {

namespace {

// Steps a leg takes when the star moves at the expected rate.
constexpr int kTargetSteps = 8;
// A leg that reaches the distance in fewer steps cannot give its rate; below the second figure
// the rate rests on few points.
constexpr int kFewestSteps = 3;
constexpr int kFewStepsWarning = 6;
// Frames in a row without the star before calibration gives up.
constexpr int kLostFramesAllowed = 5;
// Degrees off square past which the axes cannot guide, and past which they are doubtful.
constexpr double kSquareFailure = 30.0;
constexpr double kSquareWarning = 10.0;
// The two legs of an axis keep their own rates when they differ by more than this share.
constexpr double kApartShare = 0.2;
// Two moves in a row agreeing within this share are steady.
constexpr double kSteadyShare = 0.3;

QString tr(const char *text)
{
    return QCoreApplication::translate("Calibrator", text);
}

double length(QPointF p)
{
    return std::hypot(p.x(), p.y());
}

QString pixels(double value)
{
    return QString::number(value, 'f', 1);
}

// The axis' vector out (west or north) and its rate back from the slopes of its two legs; true
// when the legs keep rates of their own.
bool combine(QPointF out, QPointF back, QPointF *vector, double *backRate)
{
    const QPointF mean = (out - back) / 2.0;
    const double outRate = length(out), returnRate = length(back);
    const double meanLength = length(mean);
    if (meanLength > 0.0 && std::abs(outRate - returnRate) > kApartShare * meanLength) {
        *vector = mean * (outRate / meanLength);
        *backRate = returnRate;
        return true;
    }
    *vector = mean;
    *backRate = meanLength;
    return false;
}

} // namespace

std::optional<QPointF> slopeOf(const std::vector<CalibrationSample> &samples)
{
    if (samples.size() < 2)
        return std::nullopt;
    double t = 0.0;
    QPointF p;
    for (const CalibrationSample &s : samples)
        t += s.held, p += s.star;
    t /= double(samples.size());
    p /= double(samples.size());
    double tt = 0.0;
    QPointF tp;
    for (const CalibrationSample &s : samples) {
        tt += (s.held - t) * (s.held - t);
        tp += (s.held - t) * (s.star - p);
    }
    if (tt <= 0.0)
        return std::nullopt;
    return tp / tt;
}

std::optional<QPointF> rateWithDrift(const std::vector<CalibrationSample> &out,
                                     const std::vector<CalibrationSample> &back)
{
    constexpr int n = 4; // the place at the middle, the rate, the drift and its change
    std::vector<CalibrationSample> all = out;
    const double outHeld = out.empty() ? 0.0 : out.back().held;
    for (const CalibrationSample &s : back)
        all.push_back({outHeld - s.held, s.time, s.star});
    if (all.size() < n + 2)
        return std::nullopt;
    const double middle = (all.front().time + all.back().time) / 2.0;
    const double span = std::max(all.back().time - all.front().time, 1e-9) / 2.0;
    // The normal equations, with the two coordinates as two right-hand sides.
    double a[n][n + 2] = {};
    for (const CalibrationSample &s : all) {
        const double tau = (s.time - middle) / span;
        const double row[n] = {1.0, s.held, tau, tau * tau};
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j)
                a[i][j] += row[i] * row[j];
            a[i][n] += row[i] * s.star.x();
            a[i][n + 1] += row[i] * s.star.y();
        }
    }
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r) {
            if (std::abs(a[r][c]) > std::abs(a[pivot][c]))
                pivot = r;
        }
        std::swap(a[c], a[pivot]);
        if (std::abs(a[c][c]) < 1e-9)
            return std::nullopt;
        for (int r = 0; r < n; ++r) {
            const double f = r == c ? 0.0 : a[r][c] / a[c][c];
            for (int j = c; j < n + 2; ++j)
                a[r][j] -= f * a[c][j];
        }
    }
    return QPointF(a[1][n] / a[1][1], a[1][n + 1] / a[1][1]);
}

Calibrator::Calibrator(const CalibrationSettings &settings, double plateScale)
    : m_settings(settings)
    , m_plateScale(std::max(plateScale, 0.0))
{
    m_distance = std::max(settings.distancePixels,
                          m_plateScale > 0.0 ? settings.distanceArcsec / m_plateScale : 0.0);
    // Without a scale the star is taken to move the guide rate's arcseconds in pixels: short
    // steps, of which a slower mount simply takes more.
    const double expected = settings.guideRate / (m_plateScale > 0.0 ? m_plateScale : 1.0);
    m_stepSeconds = std::clamp(m_distance / (kTargetSteps * std::max(expected, 1e-3)), 0.05, 4.0);
}

std::optional<GuidePulse> Calibrator::onFrame(double time, QPointF star)
{
    m_time = time;
    m_lostInRow = 0;
    switch (m_leg) {
    case Leg::West:
    case Leg::North:
        return m_samples.empty() ? begin(m_leg, star) : stepOut(star);
    case Leg::East:
    case Leg::South:
        return stepBack(star);
    case Leg::Backlash:
        return clearBacklash(star);
    case Leg::Done:
    case Leg::Failed:
        break;
    }
    return std::nullopt;
}

void Calibrator::onLost(StarLoss loss)
{
    if (m_leg == Leg::Done || m_leg == Leg::Failed || ++m_lostInRow <= kLostFramesAllowed)
        return;
    fail(tr("The star was lost while calibrating (%1, %2 frames in a row): choose a brighter "
            "star, or wait for clouds to pass, and calibrate again.")
             .arg(starLossText(loss).toLower())
             .arg(m_lostInRow));
}

int Calibrator::fewestSteps() const
{
    return std::min(m_westSteps, m_northSteps);
}

QString Calibrator::legName(Leg leg)
{
    switch (leg) {
    case Leg::West:
        return tr("west");
    case Leg::East:
        return tr("east");
    case Leg::Backlash:
        return tr("clearing the Dec backlash");
    case Leg::North:
        return tr("north");
    case Leg::South:
        return tr("south");
    case Leg::Done:
        return tr("done");
    case Leg::Failed:
        return tr("failed");
    }
    return {};
}

std::optional<GuidePulse> Calibrator::begin(Leg leg, QPointF star)
{
    m_leg = leg;
    m_steps = 0;
    m_held = 0.0;
    m_samples = {{0.0, m_time, star}};
    m_clearingMoves.clear();
    static constexpr GuideDirection directions[] = {GuideDirection::West, GuideDirection::East,
                                                    GuideDirection::North, GuideDirection::North,
                                                    GuideDirection::South};
    return takeStep(directions[int(leg)]);
}

GuidePulse Calibrator::takeStep(GuideDirection direction)
{
    ++m_steps;
    m_held += m_stepSeconds;
    m_stepOpen = true;
    return {direction, m_stepSeconds};
}

void Calibrator::stepEnded(bool raAxis, double heldSeconds)
{
    const bool raLeg = m_leg == Leg::West || m_leg == Leg::East;
    // Only the leg's own step counts, once; a length far from the plan is no measurement.
    if (!m_stepOpen || raAxis != raLeg || !std::isfinite(heldSeconds) || heldSeconds < 0.0 ||
        heldSeconds > 2.0 * m_stepSeconds + 1.0)
        return;
    m_stepOpen = false;
    m_held += heldSeconds - m_stepSeconds;
}

std::optional<GuidePulse> Calibrator::stepOut(QPointF star)
{
    const bool west = m_leg == Leg::West;
    m_samples.push_back({m_held, m_time, star});
    const double gone = length(star - m_samples.front().star);
    const QString direction = legName(m_leg);
    if (gone >= m_distance) {
        if (m_steps < kFewestSteps) {
            fail(tr("The star went the %1 px %2 in %3 steps, too few to measure the rate: enter "
                    "the pixel scale (or check it) and calibrate again.")
                     .arg(pixels(m_distance), direction)
                     .arg(m_steps));
            return std::nullopt;
        }
        (west ? m_westSlope : m_northSlope) = slopeOf(m_samples).value_or(QPointF());
        (west ? m_westSteps : m_northSteps) = m_steps;
        if (west)
            m_westSamples = m_samples;
        return begin(west ? Leg::East : Leg::South, star);
    }
    if (m_steps >= m_settings.maxSteps) {
        fail(tr("Moving %1, the star went only %2 px in %3 steps, not the %4 px needed: check "
                "that the adaptor's cable reaches the mount's guide port and that the mount "
                "tracks.")
                 .arg(direction, pixels(gone))
                 .arg(m_steps)
                 .arg(pixels(m_distance)));
        return std::nullopt;
    }
    return takeStep(west ? GuideDirection::West : GuideDirection::North);
}

std::optional<GuidePulse> Calibrator::stepBack(QPointF star)
{
    const bool east = m_leg == Leg::East;
    m_samples.push_back({m_held, m_time, star});
    if (m_steps < (east ? m_westSteps : m_northSteps))
        return takeStep(east ? GuideDirection::East : GuideDirection::South);
    if (east) {
        m_eastSlope = slopeOf(m_samples).value_or(QPointF());
        m_raWithDrift = rateWithDrift(m_westSamples, m_samples);
        return begin(Leg::Backlash, star);
    }
    // The first steps south take up the backlash: the rate counts from the first step that
    // moved the star at least three quarters as far as a step north did.
    const double steady = 0.75 * length(m_northSlope) * m_stepSeconds;
    std::size_t first = 0;
    while (first + 1 < m_samples.size()
           && length(m_samples[first + 1].star - m_samples[first].star) < steady)
        ++first;
    m_southSlope = slopeOf({m_samples.begin() + std::ptrdiff_t(first), m_samples.end()});
    finish();
    return std::nullopt;
}

std::optional<GuidePulse> Calibrator::clearBacklash(QPointF star)
{
    m_clearingMoves.push_back(length(star - m_samples.back().star));
    m_samples.push_back({m_held, m_time, star});
    // Steady: two moves in a row that agree, each at least a quarter of a step west's.
    const double least = 0.25 * length(m_westSlope) * m_stepSeconds;
    const std::size_t n = m_clearingMoves.size();
    if (n >= 2) {
        const double a = m_clearingMoves[n - 2], b = m_clearingMoves[n - 1];
        if (std::min(a, b) >= least && std::abs(a - b) <= kSteadyShare * std::max(a, b))
            return begin(Leg::North, star);
    }
    if (m_steps >= m_settings.maxSteps) {
        fail(tr("Moving north, the star never moved steadily in %1 steps: check that the Dec "
                "axis moves on guide commands (and is not clamped).")
                 .arg(m_steps));
        return std::nullopt;
    }
    return takeStep(GuideDirection::North);
}

void Calibrator::finish()
{
    Calibration c;
    c.plateScale = m_plateScale;
    // The drift in RA (the periodic error) may change within the legs, along RA: where the
    // two legs agree, the fit that follows its change gives the rate of both. Its direction is
    // noisier than the legs' mean, which keeps the angle.
    if (!combine(m_westSlope, m_eastSlope, &c.west, &c.eastRate) && m_raWithDrift
        && c.eastRate > 0.0) {
        const QPointF unit = c.west / c.eastRate;
        const double rate = QPointF::dotProduct(*m_raWithDrift, unit);
        if (rate > 0.0)
            c.west = unit * rate, c.eastRate = rate;
    }
    if (m_southSlope) {
        combine(m_northSlope, *m_southSlope, &c.north, &c.southRate);
    } else {
        c.north = m_northSlope;
        c.southRate = 0.0;
    }
    if (!c.isValid()) {
        fail(tr("West and north moved the star along the same line: the axes cannot be told "
                "apart. Check the mount and calibrate again."));
        return;
    }
    const double offSquare = std::abs(c.axesAngle() - 90.0);
    if (offSquare > kSquareFailure) {
        fail(tr("West and north move the star %1 degrees apart, far from square: one axis "
                "may not have moved, only the sky's drift. Check the mount and calibrate "
                "again.")
                 .arg(c.axesAngle(), 0, 'f', 0));
        return;
    }
    m_result = c;
    m_leg = Leg::Done;
}

void Calibrator::fail(const QString &reason)
{
    m_failure = reason;
    m_leg = Leg::Failed;
}

QStringList calibrationWarnings(const Calibration &calibration, double guideRate, int fewestSteps)
{
    QStringList warnings;
    if (!calibration.isValid())
        return warnings;
    const double offSquare = std::abs(calibration.axesAngle() - 90.0);
    if (offSquare > kSquareWarning)
        warnings << tr("West and north move the star %1 degrees apart rather than 90: "
                       "guiding may wander; calibrate again if it does.")
                        .arg(calibration.axesAngle(), 0, 'f', 0);
    if (fewestSteps > 0 && fewestSteps < kFewStepsWarning)
        warnings << tr("The calibration rests on only %1 steps on one axis: its rates may be "
                       "rough.")
                        .arg(fewestSteps);
    const double scale = calibration.plateScale;
    if (scale > 0.0 && guideRate > 0.0) {
        const double expected = guideRate / scale;
        const struct {
            QString name;
            double rate;
        } axes[] = {{tr("West"), calibration.raRate()}, {tr("North"), calibration.decRate()}};
        for (const auto &axis : axes) {
            if (axis.rate < 0.5 * expected || axis.rate > 2.0 * expected)
                warnings << tr("%1 moves the star %2 px/s, where %3\"/s at %4\"/px would move it "
                               "%5 px/s: check the mount's guide rate and the pixel scale.")
                                .arg(axis.name)
                                .arg(axis.rate, 0, 'f', 2)
                                .arg(guideRate, 0, 'g', 3)
                                .arg(scale, 0, 'g', 3)
                                .arg(expected, 0, 'f', 2);
        }
    }
    return warnings;
}

} // namespace voruna
