// SPDX-License-Identifier: GPL-3.0-or-later
// Guiding end to end in real time, judged by the simulator's truth: the real adaptor simulator
// (--night) on its pseudo-terminal, opened through the program's serial control; the sky camera
// reading its mount feed (2 s exposures, 640 x 480 grey at gain 0, as guide_night); the guide
// star picked and followed as the video window does; the guide session calibrating, then
// guiding, its corrections going out as the adaptor's start and stop commands. After a settle,
// the guided time is judged from the truth file alone, as guide_night judges it: per axis the
// population standard deviation of the star's place (tracking error plus seeing), arcseconds,
// and the root of their squares; the calibration beside the simulator's angle and rates. From
// the same file: how long after each frame's reading its correction's start reached the
// simulator (calibration's steps and guiding's corrections alike). Not a test: it takes
// minutes a run. Columns: the seconds calibration took, its angle and that less the
// simulator's, each rate against the simulator's (per cent), the RMS, the judged frames, frames
// without the star, the median and largest frame-to-start time (ms) over the starts counted.
//
//   guide_realtime [--seeds 1,2,3] [--exposure-ms 2000] [--settle 20] [--judged 60]
//                  [--algorithm predictive|hysteresis]
#include "guide/guidesession.h"
#include "link/adaptorprotocol.h"
#include "link/portmap.h"
#include "link/qtserialcontrol.h"
#include "mountfeed/mountfeed.h"
#include "shell/serialguideoutput.h"
#include "tools/adaptorsim/simoptions.h"
#include "video/drivers/sky/skycamera.h"
#include "video/guidestarview.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace voruna;

namespace {

struct Options {
    QList<int> seeds{1};
    int exposureMs = 2000;
    double settleSeconds = 20.0;
    double judgedSeconds = 60.0;
    GuideSettings::RaAlgorithm algorithm = GuideSettings::RaAlgorithm::Predictive;
};

struct Result {
    QString failure;
    Calibration calibration;
    double calibrationSeconds = 0.0; // simulator seconds from the first frame
    double judgedFrom = 0.0, judgedTo = 0.0; // simulator seconds
    int judgedFrames = 0;
    double rmsRa = 0.0, rmsDec = 0.0;
    std::vector<double> latencyMs; // a frame's reading to its correction's start
    int frames = 0, lost = 0;
};

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// The star of a frame as the video window hands it to guiding.
StarMeasurement measured(const GuideStarView &view)
{
    StarMeasurement star;
    if (!view.isFollowing())
        star.loss = StarLoss::NoStar;
    else if (view.loss() != StarLoss::None)
        star.loss = view.loss();
    else if (view.star())
        star = *view.star();
    return star;
}

// The truth file: per axis the population standard deviation of the star's place over the
// judged frames; and for each start command, the time since the frame reading before it.
void judge(const QString &truthPath, Result *r)
{
    QFile file(truthPath);
    if (!file.open(QIODevice::ReadOnly)) {
        r->failure = QStringLiteral("no truth file");
        return;
    }
    std::vector<std::pair<double, double>> judged;
    double lastFrame = -1.0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(',');
        if (f.size() != 8)
            continue;
        const double t = f[0].toDouble();
        if (f[1] == "frame") {
            lastFrame = t;
            if (r->judgedTo > 0.0 && t >= r->judgedFrom && t <= r->judgedTo)
                judged.push_back({f[4].toDouble() + f[6].toDouble(),
                                  f[5].toDouble() + f[7].toDouble()});
        } else if (f[1].startsWith("start") && lastFrame >= 0.0) {
            r->latencyMs.push_back((t - lastFrame) * 1000.0);
        }
    }
    r->judgedFrames = int(judged.size());
    if (judged.empty())
        return;
    double mra = 0.0, mdec = 0.0;
    for (const auto &[ra, dec] : judged)
        mra += ra / double(judged.size()), mdec += dec / double(judged.size());
    double sra = 0.0, sdec = 0.0;
    for (const auto &[ra, dec] : judged)
        sra += (ra - mra) * (ra - mra), sdec += (dec - mdec) * (dec - mdec);
    r->rmsRa = std::sqrt(sra / double(judged.size()));
    r->rmsDec = std::sqrt(sdec / double(judged.size()));
}

QString simulatorProgram()
{
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../tools"))
        .filePath(QStringLiteral("voruna-adaptor-sim"));
}

// The simulator with its port link and its mount socket in `home`, as a user's would be in
// theirs; its truth written to `truthPath`. false with the reason in `failure`.
bool startSimulator(QProcess &sim, const QTemporaryDir &home, int seed, const QString &truthPath,
                    QString *failure)
{
    const QString runtime = home.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    sim.setProcessEnvironment(env);
    sim.start(simulatorProgram(), {QStringLiteral("--night"), QStringLiteral("--seed"),
                                   QString::number(seed), QStringLiteral("--truth"), truthPath});
    QByteArray printed;
    const bool ready = waitUntil(
        [&] { return (printed += sim.readAllStandardOutput()).contains("ready:"); }, 5000);
    const QString feedPath = mountFeedPath(runtime + QStringLiteral("/voruna"), 1);
    if (!ready || !waitUntil([&] { return mountFeedAnswers(feedPath); }, 5000)) {
        *failure = QStringLiteral("the simulator did not start: ")
                   + QString::fromLocal8Bit(sim.readAllStandardError());
        return false;
    }
    return true;
}

// The guide star and the session, fed each frame of the camera as the video window feeds them.
struct Guider {
    Guider(const Options &o, Result &result, GuideSession &s) : options(o), r(result), session(s)
    {}
    const Options &options;
    Result &r;
    GuideSession &session;
    GuideStarView view;
    double readingAt = 0.0; // the simulator's time of the newest reading
    double firstAt = -1.0;
    bool done = false;

    void onFrame(const FrameView &frame)
    {
        ++r.frames;
        if (firstAt < 0.0) {
            firstAt = readingAt;
            if (!view.pickBest(frame))
                return finish(QStringLiteral("no guide star in the first frame"));
            session.calibrate(view.star()->centre);
            return;
        }
        view.onFrame(frame);
        const StarMeasurement star = measured(view);
        r.lost += star.isUsable() ? 0 : 1;
        session.onStar(star);
        const GuideState state = session.engine().state();
        if (state == GuideState::Calibrated && star.isUsable()) {
            r.calibration = *session.engine().calibration();
            r.calibrationSeconds = readingAt - firstAt;
            session.guide(star.centre);
            r.judgedFrom = readingAt + options.settleSeconds;
            r.judgedTo = r.judgedFrom + options.judgedSeconds;
        } else if (state == GuideState::Failed) {
            finish(session.engine().failureText());
        } else if (r.judgedTo > 0.0 && readingAt > r.judgedTo) {
            done = true;
        }
    }
    void finish(const QString &failure)
    {
        r.failure = failure;
        done = true;
    }
};

// One night: the simulator started, calibrated, guided, stopped, judged.
Result runNight(const Options &o, int seed)
{
    Result r;
    QTemporaryDir home;
    const QString truthPath = home.filePath(QStringLiteral("truth.csv"));
    QProcess sim;
    if (!startSimulator(sim, home, seed, truthPath, &r.failure))
        return r;
    const QString ports = home.filePath(QStringLiteral("voruna/ports"));
    QtSerialControl serial([ports](int n) { return deviceForPort(n, ports, {}); });
    ErrorTrap trap;
    trap.arm();
    runOpenSequence(serial, 0, trap);
    auto feed = std::make_unique<MountFeed>();
    QString error;
    const QString feedPath = mountFeedPath(home.filePath(QStringLiteral("run/voruna")), 1);
    if (!trap.clean() || !feed->open(feedPath, &error)) {
        r.failure = trap.clean() ? error : describe(trap.firstError());
        return r;
    }
    SerialGuideOutput output(serial);
    GuideSession session(output);
    session.setLogFolder(home.filePath(QStringLiteral("state")));
    GuideSettings settings;
    settings.raAlgorithm = o.algorithm;
    session.engine().setGuideSettings(settings);
    session.engine().setPlateScale(SkyCamera::plateScale);
    Guider guider(o, r, session);
    // The reading's simulator time, heard before the camera makes its frame of it.
    QObject::connect(feed.get(), &MountFeed::readingArrived,
                     [&guider](const MountReading &m) { guider.readingAt = m.seconds; });

    SkyCamera camera(std::move(feed), 1);
    camera.setFormat({fourccCode('G', 'R', 'E', 'Y'), QSize(640, 480), {1, 15}});
    camera.setControl(SkyCamera::exposureControl, o.exposureMs);
    camera.setControl(SkyCamera::gainControl, 0);
    ShownFrame shown;
    QImage store;
    QObject::connect(&camera, &CaptureDevice::frameArrived, [&] {
        if (!guider.done && camera.takeFrame(&shown))
            guider.onFrame(luminanceView(shown.frame, &store));
    });
    QObject::connect(&camera, &CaptureDevice::failed,
                     [&guider](int, const QString &text) { guider.finish(text); });
    camera.start();
    if (!waitUntil([&] { return guider.done; }, 1800 * 1000))
        r.failure = QStringLiteral("still under way after half an hour: ")
                    + session.engine().stateText();
    session.stop();
    sim.terminate();
    sim.waitForFinished(5000);
    judge(truthPath, &r);
    return r;
}

Options parse(const QStringList &args)
{
    Options o;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &key = args[i], &value = args[i + 1];
        if (key == QLatin1String("--seeds")) {
            o.seeds.clear();
            for (const QString &s : value.split(QLatin1Char(',')))
                o.seeds.append(s.toInt());
        } else if (key == QLatin1String("--exposure-ms")) {
            o.exposureMs = value.toInt();
        } else if (key == QLatin1String("--settle")) {
            o.settleSeconds = value.toDouble();
        } else if (key == QLatin1String("--judged")) {
            o.judgedSeconds = value.toDouble();
        } else if (key == QLatin1String("--algorithm")) {
            o.algorithm = value == QLatin1String("hysteresis")
                              ? GuideSettings::RaAlgorithm::Hysteresis
                              : GuideSettings::RaAlgorithm::Predictive;
        }
    }
    return o;
}

double percentOff(double measured, double truth)
{
    return 100.0 * (measured - truth) / truth;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray("?");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    // The simulator's own truth: its camera angle, and the rates west, east, north, south.
    const SimOptions truth =
        parseSimOptions({QStringLiteral("--night"), QStringLiteral("--seed"), QStringLiteral("1")})
            .options;
    const auto &g = truth.mount.guideRates; // n, s, w, e in arcseconds a second
    const double rates[4] = {g[2] / SkyCamera::plateScale, g[3] / SkyCamera::plateScale,
                             g[0] / SkyCamera::plateScale, g[1] / SkyCamera::plateScale};
    std::printf("exposure %d ms, settle %.0f s, judged %.0f s, %s; load before: %s\n",
                o.exposureMs, o.settleSeconds, o.judgedSeconds,
                o.algorithm == GuideSettings::RaAlgorithm::Predictive ? "predictive"
                                                                       : "hysteresis",
                loadAverage().constData());
    std::printf("%4s %6s %6s %6s %5s %5s %5s %5s %6s %6s %6s %6s %5s %8s %8s %8s\n", "seed",
                "cal s", "angle", "d.ang", "W%", "E%", "N%", "S%", "ra\"", "dec\"", "total\"",
                "frames", "lost", "lat.med", "lat.max", "starts");
    for (int seed : o.seeds) {
        Result r = runNight(o, seed);
        const Calibration &c = r.calibration;
        // East and South as measured on the way back, where they were.
        const double east = c.eastRate > 0.0 ? c.eastRate : c.raRate();
        const double south = c.southRate > 0.0 ? c.southRate : c.decRate();
        std::sort(r.latencyMs.begin(), r.latencyMs.end());
        const double median = r.latencyMs.empty() ? 0.0 : r.latencyMs[r.latencyMs.size() / 2];
        const double worst = r.latencyMs.empty() ? 0.0 : r.latencyMs.back();
        std::printf("%4d %6.0f %6.2f %+6.2f %+5.1f %+5.1f %+5.1f %+5.1f %6.3f %6.3f %6.3f %6d %5d "
                    "%8.1f %8.1f %8zu %s\n",
                    seed, r.calibrationSeconds, c.raAngle(), c.raAngle() - truth.cameraAngle,
                    percentOff(c.raRate(), rates[0]), percentOff(east, rates[1]),
                    percentOff(c.decRate(), rates[2]), percentOff(south, rates[3]),
                    r.rmsRa, r.rmsDec, std::hypot(r.rmsRa, r.rmsDec), r.judgedFrames, r.lost,
                    median, worst, r.latencyMs.size(), qPrintable(r.failure));
        std::fflush(stdout);
    }
    std::printf("load after: %s\n", loadAverage().constData());
    return 0;
}
