// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/guidesim/guidenight.h"

#include "guide/starfinder.h"
#include "guide/startracker.h"
#include "mountfeed/mountfeed.h"
#include "tools/adaptorsim/mountmodel.h"
#include "tools/adaptorsim/seeing.h"
#include "tools/adaptorsim/simoptions.h"
#include "tools/adaptorsim/truthlog.h"
#include "video/drivers/sky/skycamera.h"
#include "video/drivers/sky/starfield.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>

namespace voruna {

namespace {

using Clock = MountModel::Clock;

// A calibration still under way after this long has gone wrong.
constexpr double kLongestCalibration = 1800.0;

char letterOf(GuideDirection d)
{
    switch (d) {
    case GuideDirection::North:
        return 'n';
    case GuideDirection::South:
        return 's';
    case GuideDirection::West:
        return 'w';
    case GuideDirection::East:
        return 'e';
    }
    return '?';
}

// One frame line of the truth file: its time and the star's place on the sky, arcseconds.
struct TruthFrame {
    double seconds = 0.0;
    SkyOffset star;
};

std::vector<TruthFrame> readTruth(const QString &path)
{
    std::vector<TruthFrame> frames;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(',');
        if (f.size() == 8 && f[1] == "frame")
            frames.push_back(
                {f[0].toDouble(),
                 {f[4].toDouble() + f[6].toDouble(), f[5].toDouble() + f[7].toDouble()}});
    }
    return frames;
}

// The luminance of a grey RGB888 picture, one byte a pixel.
FrameView luminance(const QImage &picture, std::vector<uchar> *grey)
{
    grey->resize(std::size_t(picture.width() * picture.height()));
    for (int y = 0; y < picture.height(); ++y) {
        const uchar *in = picture.constScanLine(y);
        for (int x = 0; x < picture.width(); ++x)
            (*grey)[std::size_t(y * picture.width() + x)] = in[3 * x + 1];
    }
    return {picture.width(), picture.height(), picture.width(), 8, grey->data(), {}};
}

class Night {
public:
    Night(const GuideNightSetup &setup, const QString &truthPath);
    GuideNightResult run();

private:
    Clock::time_point at(double seconds) const
    {
        return m_origin
               + std::chrono::duration_cast<Clock::duration>(
                   std::chrono::duration<double>(seconds));
    }
    void applyCommandsUntil(double seconds);
    StarMeasurement takeFrame(double seconds, std::uint64_t index);
    void send(double seconds, const std::vector<GuidePulse> &pulses);
    void follow(double seconds, const StarMeasurement &star);

    GuideNightSetup m_setup;
    SimOptions m_options;
    Clock::time_point m_origin{};
    MountModel m_mount;
    Seeing m_seeing;
    TruthLog m_truth;
    StarField m_sky;
    StarTracker m_tracker;
    GuideEngine m_engine;
    // Commands waiting for their time: start (true) or stop of a direction's letter.
    std::multimap<double, std::pair<bool, char>> m_commands;
    MountReading m_first;
    QImage m_picture;
    std::vector<uchar> m_grey;
    double m_end = 0.0;
    GuideNightResult m_result;
};

Night::Night(const GuideNightSetup &setup, const QString &truthPath)
    : m_setup(setup)
    , m_options(
          parseSimOptions(setup.simArguments
                          + QStringList{QStringLiteral("--seed"), QString::number(setup.seed)})
              .options)
    , m_mount(m_options.mount, m_origin)
    , m_seeing(m_options.seeingFwhm, m_options.seed.value_or(setup.seed))
    , m_engine(setup.guide, setup.calibration)
{
    QString error;
    m_truth.open(truthPath, &error);
    m_engine.setPlateScale(SkyCamera::plateScale);
    m_result.trueAngle = m_options.cameraAngle;
    // The truth's order n, s, w, e as the result's west, east, north, south.
    const auto &rates = m_options.mount.guideRates;
    const double order[4] = {rates[2], rates[3], rates[0], rates[1]};
    for (int i = 0; i < 4; ++i)
        m_result.trueRates[i] = order[i] / SkyCamera::plateScale;
    m_end = setup.guided ? std::numeric_limits<double>::infinity()
                         : setup.unguidedFrom + setup.judgedSeconds;
    m_result.judgedFrom = setup.unguidedFrom;
    m_result.judgedTo = m_end;
}

void Night::applyCommandsUntil(double seconds)
{
    while (!m_commands.empty() && m_commands.begin()->first <= seconds) {
        const auto [when, command] = *m_commands.begin();
        m_commands.erase(m_commands.begin());
        const Clock::time_point now = at(when);
        const bool done =
            command.first ? m_mount.start(command.second, now) : m_mount.stop(command.second, now);
        if (!done && command.first)
            ++m_result.overlaps;
        const QByteArray event =
            (command.first ? "start " : "stop ") + QByteArray(1, command.second);
        m_truth.write(TruthLog::line(m_mount.secondsAt(now), event,
                                     {m_mount.raAt(now), m_mount.decAt(now)},
                                     m_mount.trackingErrorAt(now), std::nullopt));
    }
}

StarMeasurement Night::takeFrame(double seconds, std::uint64_t index)
{
    applyCommandsUntil(seconds);
    const Clock::time_point now = at(seconds);
    const SkyOffset error = m_mount.trackingErrorAt(now);
    const SkyOffset shift = m_seeing.next();
    m_truth.write(TruthLog::line(m_mount.secondsAt(now), "frame",
                                 {m_mount.raAt(now), m_mount.decAt(now)}, error, shift));
    const MountReading reading{error.ra,
                               error.dec,
                               QString::fromStdString(m_mount.moving()),
                               m_mount.secondsAt(now),
                               shift.ra,
                               shift.dec,
                               m_options.cameraAngle};
    if (index == 0)
        m_first = reading;
    SkyView view;
    view.size = QSize(m_setup.width, m_setup.width * 3 / 4);
    view.plateScale = SkyCamera::plateScale;
    view.exposureMs = int(std::lround(m_setup.exposureSeconds * 1000.0));
    view.gain = m_setup.gain;
    view.grey = true;
    view.noiseSeed = index + 1;
    view.offset = skyOffset(m_first, reading);
    view.angle = reading.angle;
    m_sky.render(view, &m_picture);
    const FrameView frame = luminance(m_picture, &m_grey);
    if (index > 0)
        return m_tracker.track(frame);
    StarMeasurement star;
    star.loss = StarLoss::NoStar;
    if (const std::optional<StarMeasurement> picked = findGuideStar(frame, StarSettings{})) {
        star = *picked;
        m_tracker.follow(star);
    }
    return star;
}

void Night::send(double seconds, const std::vector<GuidePulse> &pulses)
{
    std::array<int, 2> perAxis{};
    for (const GuidePulse &pulse : pulses) {
        const bool ra =
            pulse.direction == GuideDirection::West || pulse.direction == GuideDirection::East;
        if (++perAxis[ra ? 0 : 1] > 1)
            ++m_result.doubledAxes;
        const double start = seconds + m_setup.latencySeconds;
        m_commands.insert({start, {true, letterOf(pulse.direction)}});
        m_commands.insert({start + pulse.seconds, {false, letterOf(pulse.direction)}});
        ++m_result.pulses;
    }
}

// Moves the loop on from calibrating to guiding, and sets the judged time.
void Night::follow(double seconds, const StarMeasurement &star)
{
    if (m_engine.state() == GuideState::Calibrated && !m_result.calibrated) {
        m_result.calibrated = true;
        m_result.calibration = *m_engine.calibration();
        m_result.calibratedAt = seconds;
        m_engine.guide(seconds, star.centre);
        m_result.judgedFrom = seconds + m_setup.settleSeconds;
        m_result.judgedTo = m_result.judgedFrom + m_setup.judgedSeconds;
        m_end = m_result.judgedTo;
    } else if (m_engine.state() == GuideState::Failed) {
        m_result.failure = m_engine.failureText();
        m_end = seconds;
    }
}

GuideNightResult Night::run()
{
    for (std::uint64_t k = 0;; ++k) {
        const double seconds = double(k) * m_setup.exposureSeconds;
        if (seconds > m_end)
            break;
        if (m_setup.guided && !m_result.calibrated
            && seconds > m_setup.calibrateFrom + kLongestCalibration) {
            m_result.failure = QStringLiteral("calibration still under way after %1 s: %2")
                                   .arg(kLongestCalibration)
                                   .arg(m_engine.stateText());
            break;
        }
        const StarMeasurement star = takeFrame(seconds, k);
        ++m_result.frames;
        if (!star.isUsable())
            ++m_result.lost;
        if (!m_setup.guided)
            continue;
        if (k == 0 && !star.isUsable()) {
            m_result.failure = QStringLiteral("no guide star in the first frame");
            break;
        }
        if (m_engine.state() == GuideState::Idle) {
            if (seconds >= m_setup.calibrateFrom && star.isUsable())
                m_engine.calibrate(seconds, star.centre);
            continue;
        }
        GuideRecord record;
        send(seconds, m_engine.onFrame(seconds, star, &record));
        m_result.stale += record.stale ? 1 : 0;
        m_result.records.push_back(record);
        follow(seconds, star);
    }
    applyCommandsUntil(std::numeric_limits<double>::infinity());
    return m_result;
}

// The population standard deviation of the star's place per axis over the judged time.
void judge(const std::vector<TruthFrame> &truth, GuideNightResult *result)
{
    std::vector<SkyOffset> judged;
    for (const TruthFrame &f : truth) {
        if (f.seconds >= result->judgedFrom && f.seconds <= result->judgedTo)
            judged.push_back(f.star);
    }
    result->judgedFrames = int(judged.size());
    if (judged.empty())
        return;
    SkyOffset mean;
    for (const SkyOffset &s : judged)
        mean.ra += s.ra / double(judged.size()), mean.dec += s.dec / double(judged.size());
    double ra = 0.0, dec = 0.0;
    for (const SkyOffset &s : judged) {
        ra += (s.ra - mean.ra) * (s.ra - mean.ra);
        dec += (s.dec - mean.dec) * (s.dec - mean.dec);
        result->peakRa = std::max(result->peakRa, std::abs(s.ra - mean.ra));
        result->peakDec = std::max(result->peakDec, std::abs(s.dec - mean.dec));
    }
    result->rmsRa = std::sqrt(ra / double(judged.size()));
    result->rmsDec = std::sqrt(dec / double(judged.size()));
}

} // namespace

double GuideNightResult::total() const
{
    return std::hypot(rmsRa, rmsDec);
}

GuideNightResult runGuideNight(const GuideNightSetup &setup)
{
    QTemporaryDir folder;
    const QString truthPath = folder.filePath(QStringLiteral("truth.csv"));
    GuideNightResult result;
    {
        Night night(setup, truthPath);
        result = night.run();
    }
    if (result.calibrated || !setup.guided)
        judge(readTruth(truthPath), &result);
    return result;
}

} // namespace voruna
