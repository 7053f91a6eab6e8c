// SPDX-License-Identifier: GPL-3.0-or-later
// The predictive RA algorithm. The axis' own motion is the measured error less every move sent
// since the reset; it is fitted as a drift plus the periodic error's sines when the period is
// known or found, else as a local trend of the last half minute or minute, whichever has lately
// foretold it better. Each correction takes out the motion the fit predicts until the next
// correction, plus a reactive share of the error: all of the measured error's share while only
// a trend is known, and once a periodic fit explains the motion down to the measurement's own
// scatter, the fit's smooth estimate of the error with a small share of what it leaves, so
// that the air's shifts are not chased.
#include "guide/axisguider.h"
#include "guide/motionfit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <vector>

namespace voruna {

namespace {

// Intervals from a correction that moved to the next correction, kept for their median: a
// move makes the loop skip the frame exposed while it runs, so this is how far ahead a move
// must look.
constexpr std::size_t kIntervals = 9;
// The history kept at most, whatever the memory and the rate of frames.
constexpr std::size_t kMaxHistory = 4000;
// The local trend: the spans of the latest history it may follow, seconds, of which it follows
// the one that has lately foretold each next sample best; and the fewest samples it needs over
// at least half of that span.
constexpr std::array<double, 2> kTrendWindows{30.0, 60.0};
constexpr std::size_t kTrendSamples = 6;
// How much of its score a trend's span keeps at each sample.
constexpr double kScoreMemory = 0.9;
// How far ahead a correction looks, in intervals from a move to the next correction: short of
// the whole interval, since the error is seen over it rather than at its end.
constexpr double kLead = 0.7;
// A period is looked for between these many seconds, every half minute.
constexpr double kShortestPeriod = 40.0;
constexpr double kPeriodSearchEvery = 30.0;
// The share of the motion a sine must explain to count as the periodic error.
constexpr double kPeriodShare = 0.5;
// A periodic fit stands in for the measured error when its residual is within this many times
// the measurement's scatter.
constexpr double kSettledScatter = 1.5;
// The reactive share once the fit stands in, against the aggressiveness.
constexpr double kSettledShare = 0.25;

// The scatter of a history's samples about its motion, from their second differences, which a
// steady drift does not touch.
double scatter(std::span<const MotionSample> samples)
{
    if (samples.size() < 3)
        return 0.0;
    double squares = 0.0;
    for (std::size_t i = 1; i + 1 < samples.size(); ++i) {
        const double d =
            samples[i].position - (samples[i - 1].position + samples[i + 1].position) / 2.0;
        squares += d * d;
    }
    // Each second difference has 1.5 times a sample's variance.
    return std::sqrt(squares / 1.5 / double(samples.size() - 2));
}

class Predictive final : public AxisGuider {
public:
    explicit Predictive(const PredictiveSettings &settings);

    double correction(double time, double error) override;
    void sent(double time, double pixels) override;
    void reset() override;

private:
    struct Prediction {
        double now = 0.0;     // the axis' own position now, as the fit has it
        double step = 0.0;    // its motion until the next correction
        bool settled = false; // a periodic fit that explains the motion down to the scatter
    };
    void remember(double time, double error);
    std::optional<Prediction> predict(double now, double ahead);
    std::optional<Prediction> periodic(double now, double ahead, double period) const;
    std::optional<Prediction> trend(double now, double ahead) const;
    // The trend of the latest `window` seconds of history up to `now`.
    std::optional<MotionFit> trendFit(double now, double window) const;
    // Scores each trend's span by how far it missed the sample at `time`, `position`.
    void scoreTrends(double time, double position);
    // Seconds from a correction that moved to the next, the median of the latest; 0 before
    // the first.
    double interval() const;
    void searchPeriod(double now);

    PredictiveSettings m_settings;
    std::deque<MotionSample> m_history;
    std::deque<double> m_intervals;
    double m_moved = 0.0; // pixels sent since the reset
    double m_lastMove = 0.0;
    double m_foundPeriod = 0.0;
    double m_lastSearch = -HUGE_VAL;
    std::array<double, kTrendWindows.size()> m_trendScores{};
};

Predictive::Predictive(const PredictiveSettings &settings) : m_settings(settings)
{
    // Settings that make no sense fall back to the defaults, or to no period.
    const PredictiveSettings defaults;
    const auto within = [](double value, double low, double high) {
        return value >= low && value <= high;
    };
    if (!within(m_settings.aggressiveness, 0.0, 1.0))
        m_settings.aggressiveness = defaults.aggressiveness;
    if (!within(m_settings.memory, 0.0, 1e6))
        m_settings.memory = defaults.memory;
    if (!within(m_settings.period, 0.0, 1e6))
        m_settings.period = 0.0;
}

double Predictive::correction(double time, double error)
{
    if (!std::isfinite(time) || !std::isfinite(error))
        return 0.0;
    remember(time, error);
    const double share = m_settings.aggressiveness;
    double move = -share * error;
    if (const std::optional<Prediction> p = predict(time, interval() * kLead)) {
        if (p->settled) {
            const double expected = p->now + m_moved;
            move = -expected - p->step - kSettledShare * share * (error - expected);
        } else {
            move -= p->step;
        }
    }
    m_moved += move;
    m_lastMove = move;
    return move;
}

void Predictive::sent(double, double pixels)
{
    if (!std::isfinite(pixels))
        return;
    m_moved += pixels - m_lastMove;
    m_lastMove = pixels;
}

void Predictive::reset()
{
    m_history.clear();
    m_intervals.clear();
    m_moved = 0.0;
    m_lastMove = 0.0;
    m_foundPeriod = 0.0;
    m_lastSearch = -HUGE_VAL;
    m_trendScores.fill(0.0);
}

void Predictive::remember(double time, double error)
{
    if (!m_history.empty()) {
        const double since = time - m_history.back().time;
        if (!(since > 0.0)) {
            // The clock went back or stood still: the history no longer lines up with it.
            reset();
        } else if (m_lastMove != 0.0) {
            m_intervals.push_back(since);
            if (m_intervals.size() > kIntervals)
                m_intervals.pop_front();
        }
    }
    scoreTrends(time, error - m_moved);
    m_history.push_back({time, error - m_moved});
    while (m_history.size() > kMaxHistory || m_history.front().time < time - m_settings.memory)
        m_history.pop_front();
}

double Predictive::interval() const
{
    if (m_intervals.empty())
        return 0.0;
    std::vector<double> sorted(m_intervals.begin(), m_intervals.end());
    const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    return *middle;
}

std::optional<Predictive::Prediction> Predictive::predict(double now, double ahead)
{
    if (!(ahead > 0.0) || m_history.size() < kTrendSamples)
        return std::nullopt;
    double period = m_settings.period;
    if (!(period > 0.0)) {
        searchPeriod(now);
        period = m_foundPeriod;
    }
    if (period > 0.0 && now - m_history.front().time >= period) {
        if (const std::optional<Prediction> p = periodic(now, ahead, period))
            return p;
    }
    return trend(now, ahead);
}

void Predictive::searchPeriod(double now)
{
    if (now - m_lastSearch < kPeriodSearchEvery)
        return;
    m_lastSearch = now;
    const double span = now - m_history.front().time;
    if (span < 2.0 * kShortestPeriod)
        return;
    // A period is taken once the history holds 1.2 turns of it (the fit that uses it must still
    // explain the motion down to the scatter); the search looks up to periods as long as the
    // history, so that a longer one does not pass for the longest it may take.
    const std::vector<MotionSample> samples(m_history.begin(), m_history.end());
    const double found = findPeriod(samples, kShortestPeriod, span, kPeriodShare).value_or(0.0);
    m_foundPeriod = found <= span / 1.2 ? found : 0.0;
}

std::optional<Predictive::Prediction> Predictive::periodic(double now, double ahead,
                                                           double period) const
{
    const std::vector<MotionSample> samples(m_history.begin(), m_history.end());
    const std::optional<MotionFit> fit = MotionFit::fit(samples, {period, 2, false});
    if (!fit || !(fit->residual() <= kSettledScatter * scatter(samples)))
        return std::nullopt;
    return Prediction{fit->at(now), fit->at(now + ahead) - fit->at(now), true};
}

std::optional<MotionFit> Predictive::trendFit(double now, double window) const
{
    std::vector<MotionSample> recent;
    for (auto it = m_history.rbegin(); it != m_history.rend() && it->time >= now - window; ++it)
        recent.push_back(*it);
    if (recent.size() < kTrendSamples || now - recent.back().time < window / 2.0)
        return std::nullopt;
    std::reverse(recent.begin(), recent.end());
    return MotionFit::fit(recent, {0.0, 0, true});
}

void Predictive::scoreTrends(double time, double position)
{
    if (m_history.empty())
        return;
    for (std::size_t i = 0; i < kTrendWindows.size(); ++i) {
        if (const auto fit = trendFit(m_history.back().time, kTrendWindows[i])) {
            const double miss = position - fit->at(time);
            m_trendScores[i] = kScoreMemory * m_trendScores[i] + (1.0 - kScoreMemory) * miss * miss;
        }
    }
}

std::optional<Predictive::Prediction> Predictive::trend(double now, double ahead) const
{
    const auto best = std::min_element(m_trendScores.begin(), m_trendScores.end());
    const std::size_t choice = std::size_t(best - m_trendScores.begin());
    const std::optional<MotionFit> fit = trendFit(now, kTrendWindows[choice]);
    if (!fit)
        return std::nullopt;
    return Prediction{fit->at(now), fit->at(now + ahead) - fit->at(now), false};
}

} // namespace

std::unique_ptr<AxisGuider> makePredictiveGuider(const PredictiveSettings &settings)
{
    return std::make_unique<Predictive>(settings);
}

} // namespace voruna
