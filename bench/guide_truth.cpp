// SPDX-License-Identifier: GPL-3.0-or-later
// How well the guide star's measured motion agrees with what the simulated sky really did. A
// realistic night (the adaptor simulator's own --night figures) runs unguided for ten minutes
// of simulated time; every 2 s the sky camera takes a frame, rendered from the mount reading as
// it comes over the feed, exactly as the camera renders it. The guide star is picked on the
// first frame and followed; each measured position, relative to the first frame, is set beside
// the truth the simulator writes to its truth file (written here through the simulator's own
// writer and read back as a user would), turned into pixels by the plate scale and the
// camera's angle. A row gives the RMS difference per axis and in all, beside the RMS of the
// star's true motion for scale.
//
// The row with seeing off is the baseline: the measurement's own error. The air shifts the
// whole star image each frame, in the picture as in the truth, so a measurement that keeps up
// shows the same difference with seeing on. The camera draws its noise from the frame's number,
// so seeds change the seeing only. Gain 0 keeps the field's brighter stars below clipping; at
// gain 40 a 2 s frame's sky sits at 158 of 255 and only faint stars are left to guide on.

#include "guide/starfinder.h"
#include "guide/startracker.h"
#include "mountfeed/mountfeed.h"
#include "video/drivers/sky/skycamera.h"
#include "video/drivers/sky/starfield.h"
#include "tools/adaptorsim/mountmodel.h"
#include "tools/adaptorsim/seeing.h"
#include "tools/adaptorsim/simoptions.h"
#include "tools/adaptorsim/truthlog.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <vector>

namespace {

using namespace voruna;
using namespace std::chrono_literals;

constexpr int frameCount = 300; // ten minutes, a frame every 2 s
constexpr auto cadence = 2s;
// The stars' Gaussian sigma in pixels, for the precision a star of a given SNR allows.
const double starSigma = StarField::seeingFwhm / 2.3548 / SkyCamera::plateScale;

struct Row {
    QString name;
    int frames = 0, lost = 0;
    double rmsX = 0, rmsY = 0, meanX = 0, meanY = 0, motion = 0, snr = 0;
    std::optional<QPointF> picked;  // none: no star fit to guide in the first frame
    std::optional<double> absolute; // RMS against the bright star's stated place, if picked
};
std::vector<Row> rows;

// One frame line of the truth file: the tracking error and the seeing shift, arcseconds.
struct Truth {
    SkyOffset error, seeing;
};

std::vector<Truth> readTruth(const QString &path)
{
    QFile file(path);
    std::vector<Truth> frames;
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.split(',');
        if (f.size() == 8 && f[1] == "frame")
            frames.push_back(
                {{f[4].toDouble(), f[5].toDouble()}, {f[6].toDouble(), f[7].toDouble()}});
    }
    return frames;
}

// Where the sky's move of `ra`, `dec` arcseconds shifts the stars in the picture: west right,
// north up, the whole turned `angle` degrees counter-clockwise.
QPointF inPixels(double ra, double dec, double angle, double plateScale)
{
    const double turn = angle * std::numbers::pi / 180.0;
    const double c = std::cos(turn), s = std::sin(turn);
    return {(ra * c - dec * s) / plateScale, -(ra * s + dec * c) / plateScale};
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

// The simulator's side: the mount and the air, read once per frame as the camera asks, each
// reading written to the truth file and sent over the feed's wire format.
std::vector<MountReading> runNight(const SimOptions &options, const QString &truthPath)
{
    const MountModel::Clock::time_point origin{};
    MountModel mount(options.mount, origin);
    Seeing seeing(options.seeingFwhm, options.seed.value_or(0));
    TruthLog truth;
    QString error;
    truth.open(truthPath, &error);
    std::vector<MountReading> readings;
    for (int k = 0; k < frameCount; ++k) {
        const auto now = origin + k * cadence;
        const SkyOffset err = mount.trackingErrorAt(now);
        const SkyOffset shift = seeing.next();
        truth.write(TruthLog::line(mount.secondsAt(now), "frame",
                                   {mount.raAt(now), mount.decAt(now)}, err, shift));
        const MountReading reading{err.ra,
                                   err.dec,
                                   QString::fromStdString(mount.moving()),
                                   mount.secondsAt(now),
                                   shift.ra,
                                   shift.dec,
                                   options.cameraAngle};
        QByteArray line = mountReadingLine(reading);
        line.chop(1);
        readings.push_back(parseMountReading(line).value_or(MountReading{}));
    }
    return readings;
}

// How the sky camera is set.
struct Camera {
    QSize size;
    int exposureMs = 2000;
    int gain = 0;
};

// The picture the sky camera renders for the reading `now` when `first` started its picture.
SkyView cameraView(const MountReading &first, const MountReading &now, const Camera &camera,
                   std::uint64_t frameIndex)
{
    SkyView view;
    view.size = camera.size;
    view.plateScale = SkyCamera::plateScale;
    view.exposureMs = camera.exposureMs;
    view.gain = camera.gain;
    view.grey = true;
    view.noiseSeed = frameIndex + 1;
    view.offset = skyOffset(first, now);
    view.angle = now.angle;
    return view;
}

// Picks the guide star in the first frame, follows it through the rest and sums each frame's
// difference from the truth into `row`.
void followNight(const std::vector<MountReading> &readings, const std::vector<Truth> &truth,
                 double angle, const Camera &camera, Row *row)
{
    const StarField sky;
    const StarSettings settings;
    StarTracker tracker(settings);
    QImage picture;
    std::vector<uchar> grey;
    double sx = 0, sy = 0, sxx = 0, syy = 0, motion = 0, absolute = 0;
    int measured = 0;
    bool middle = false; // the star picked is the field's bright one, whose place is known
    for (std::size_t k = 0; k < readings.size() && k < truth.size(); ++k) {
        const SkyView view = cameraView(readings.front(), readings[k], camera, k);
        sky.render(view, &picture);
        const FrameView frame = luminance(picture, &grey);
        ++row->frames;
        StarMeasurement star;
        if (k == 0) {
            const std::optional<StarMeasurement> picked = findGuideStar(frame, settings);
            if (!picked)
                break;
            star = *picked;
            tracker.follow(star);
            row->picked = star.centre;
            middle = QLineF(star.centre, StarField::guideStarPosition(view)).length() < 2.0;
        } else {
            star = tracker.track(frame);
        }
        if (!star.isUsable()) {
            ++row->lost;
            continue;
        }
        const Truth &t = truth[k], &t0 = truth.front();
        const QPointF moved = inPixels(t.error.ra - t0.error.ra + t.seeing.ra - t0.seeing.ra,
                                       t.error.dec - t0.error.dec + t.seeing.dec - t0.seeing.dec,
                                       angle, SkyCamera::plateScale);
        const QPointF d = (star.centre - *row->picked) - moved;
        sx += d.x(), sy += d.y(), sxx += d.x() * d.x(), syy += d.y() * d.y();
        motion += QPointF::dotProduct(moved, moved);
        row->snr += star.snr;
        ++measured;
        if (middle) {
            const QPointF a = star.centre - StarField::guideStarPosition(view);
            absolute += QPointF::dotProduct(a, a);
        }
    }
    const int n = std::max(measured, 1);
    row->rmsX = std::sqrt(sxx / n), row->rmsY = std::sqrt(syy / n);
    row->meanX = sx / n, row->meanY = sy / n;
    row->motion = std::sqrt(motion / n);
    row->snr /= n;
    if (middle)
        row->absolute = std::sqrt(absolute / n);
}

void truthAgainstMeasurement(benchmark::State &state)
{
    const auto seed = std::uint64_t(state.range(0));
    const bool steady = state.range(1) == 0;
    Camera camera;
    camera.gain = int(state.range(2));
    camera.size = QSize(int(state.range(3)), int(state.range(3)) * 3 / 4);
    camera.exposureMs = int(state.range(4));
    // The simulator's own figures for the night, so that the two never part.
    QStringList arguments{"--night", "--seed", QString::number(seed)};
    if (steady)
        arguments << "--seeing"
                  << "0";
    const SimOptions options = parseSimOptions(arguments).options;
    QTemporaryDir folder;
    const QString truthPath = folder.filePath("truth.csv");
    Row row;
    row.name = QStringLiteral("%1, %2 ms, gain %3, seed %4, %5")
                   .arg(camera.size.width())
                   .arg(camera.exposureMs)
                   .arg(camera.gain)
                   .arg(seed)
                   .arg(steady ? QStringLiteral("seeing off") : QStringLiteral("seeing 2\""));
    for (auto _ : state) {
        const std::vector<MountReading> readings = runNight(options, truthPath);
        followNight(readings, readTruth(truthPath), options.cameraAngle, camera, &row);
    }
    state.counters["frames"] = row.frames;
    state.counters["lost"] = row.lost;
    state.counters["rms_x"] = row.rmsX;
    state.counters["rms_y"] = row.rmsY;
    state.counters["rms"] = std::hypot(row.rmsX, row.rmsY);
    state.counters["motion"] = row.motion;
    rows.push_back(row);
}

void printTable()
{
    // scatter: the RMS about the mean difference, which the first frame's own error sets;
    // sigma/snr: the star's width over its SNR, near the least scatter per axis it allows;
    // absolute: the RMS distance from where the renderer says it drew the bright middle star,
    // when that is the star picked.
    std::printf("\n%-42s %6s %4s %7s %7s %7s %7s %7s %7s %7s %5s %9s %8s  %s\n", "camera, night",
                "frames", "lost", "rms x", "rms y", "rms", "mean x", "mean y", "scatter", "motion",
                "snr", "sigma/snr", "absolute", "picked at");
    for (const Row &r : rows) {
        const double scatter = std::sqrt(std::max(
            0.0, r.rmsX * r.rmsX + r.rmsY * r.rmsY - r.meanX * r.meanX - r.meanY * r.meanY));
        std::printf("%-42s %6d %4d %7.4f %7.4f %7.4f %7.4f %7.4f %7.4f %7.3f %5.0f %9.4f %8s  "
                    "%s\n",
                    qPrintable(r.name), r.frames, r.lost, r.rmsX, r.rmsY,
                    std::hypot(r.rmsX, r.rmsY), r.meanX, r.meanY, scatter, r.motion, r.snr,
                    starSigma / std::max(r.snr, 1.0),
                    r.absolute ? qPrintable(QString::number(*r.absolute, 'f', 4)) : "-",
                    r.picked ? qPrintable(QStringLiteral("%1, %2")
                                              .arg(r.picked->x(), 0, 'f', 1)
                                              .arg(r.picked->y(), 0, 'f', 1))
                             : "no star");
    }
}

} // namespace

BENCHMARK(truthAgainstMeasurement)
    ->ArgNames({"seed", "seeing", "gain", "width", "ms"})
    ->Args({1, 0, 0, 640, 2000})
    ->ArgsProduct({{1, 2, 3, 4, 5}, {1}, {0}, {640}, {2000}})
    ->Args({1, 0, 40, 640, 2000})
    ->Args({1, 1, 40, 640, 2000})
    ->Args({1, 1, 0, 320, 2000})
    ->Args({1, 1, 40, 320, 2000})
    // The camera as it starts: the bright middle star, whose drawn place is known.
    ->Args({1, 0, 40, 320, 100})
    ->Args({1, 1, 40, 320, 100})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printTable();
    return 0;
}
