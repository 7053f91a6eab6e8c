// SPDX-License-Identifier: GPL-3.0-or-later
// How well the guide loop holds the star through a realistic simulated night (the adaptor
// simulator's --night: 2" seeing, 5" of periodic error over 230.5 s, Dec drift, 5" of Dec
// backlash, the camera turned 15 degrees), in simulated time: 2 s exposures back to back at
// 2"/px, 640 px wide at gain 0. Each row calibrates, settles for a minute and is judged over
// ten guided minutes from the simulator's truth file alone: per axis the population standard
// deviation of the star's place (tracking error plus the frame's seeing shift), arcseconds, and
// the root of their squares. The unguided row of each seed is the same night over the same
// minutes with nothing sent: the baseline, of the error and of the time a night costs to
// render. Calibration is set beside the simulator's angle and rates, also for calibrations
// started later in the night, at other phases of the periodic error.

#include "tools/guidesim/guidenight.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {

using namespace voruna;

// One way of guiding the table compares.
struct Variant {
    const char *name;
    bool guided = true;
    GuideSettings guide;
};

GuideSettings usual(double raAggressiveness, double hysteresis, double decAggressiveness,
                    int persistence, double minMove)
{
    GuideSettings s;
    s.raAlgorithm = GuideSettings::RaAlgorithm::Hysteresis;
    s.hysteresis = {raAggressiveness, hysteresis};
    s.dec = {decAggressiveness, persistence};
    s.minMovePixels = minMove;
    return s;
}

GuideSettings predictive()
{
    GuideSettings s = GuideSettings{};
    s.raAlgorithm = GuideSettings::RaAlgorithm::Predictive;
    return s;
}

// The defaults first, then the other figures tried while choosing them.
const std::vector<Variant> variants = {
    {"unguided", false, {}},
    {"hysteresis + resist-switch (defaults)", true,
     usual(HysteresisSettings{}.aggressiveness, HysteresisSettings{}.hysteresis,
           ResistSwitchSettings{}.aggressiveness, ResistSwitchSettings{}.persistence,
           GuideSettings{}.minMovePixels)},
    {"predictive + resist-switch (defaults)", true, predictive()},
    {"hyst 0.7/0.1 + r-s 1.0, min 0.15 px", true, usual(0.7, 0.1, 1.0, 3, 0.15)},
    {"hyst 1.0/0.0 + r-s 0.5, min 0.05 px", true, usual(1.0, 0.0, 0.5, 3, 0.05)},
    {"hyst 1.1/0.35 + r-s 1.0, min 0.05 px", true, usual(1.1, 0.35, 1.0, 3, 0.05)},
    {"hyst 2.0/0.7 + r-s 0.5 (rings on a step)", true, usual(2.0, 0.7, 0.5, 3, 0.05)},
};

struct Row {
    QString name;
    std::uint64_t seed = 0;
    GuideNightResult night;
};
std::vector<Row> rows;
// The judged window of each seed's first guided row, which its unguided row uses.
std::map<std::uint64_t, std::pair<double, double>> windows;

void guideNight(benchmark::State &state)
{
    const Variant &variant = variants.at(std::size_t(state.range(0)));
    GuideNightSetup setup;
    setup.seed = std::uint64_t(state.range(1));
    setup.calibrateFrom = double(state.range(2));
    setup.guided = variant.guided;
    setup.guide = variant.guide;
    if (!variant.guided) {
        const auto window = windows.find(setup.seed);
        setup.unguidedFrom = window != windows.end() ? window->second.first : 240.0;
    }
    Row row{QString::fromLatin1(variant.name), setup.seed, {}};
    if (setup.calibrateFrom > 0.0)
        row.name += QStringLiteral(", from %1 s").arg(setup.calibrateFrom);
    for (auto _ : state)
        row.night = runGuideNight(setup);
    if (variant.guided && row.night.calibrated && !windows.count(setup.seed))
        windows[setup.seed] = {row.night.judgedFrom, row.night.judgedTo};
    state.counters["rms_ra"] = row.night.rmsRa;
    state.counters["rms_dec"] = row.night.rmsDec;
    state.counters["rms"] = row.night.total();
    state.counters["frames"] = row.night.frames;
    rows.push_back(row);
}

double percentOff(double measured, double truth)
{
    return truth > 0.0 ? 100.0 * (measured - truth) / truth : 0.0;
}

void printCalibration(const GuideNightResult &n)
{
    const Calibration &c = n.calibration;
    const double east = c.eastRate > 0.0 ? c.eastRate : c.raRate();
    const double south = c.southRate > 0.0 ? c.southRate : c.decRate();
    std::printf(" %5.0f %6.2f %+6.2f %+5.1f %+5.1f %+5.1f %+5.1f", n.calibratedAt, c.raAngle(),
                c.raAngle() - n.trueAngle, percentOff(c.raRate(), n.trueRates[0]),
                percentOff(east, n.trueRates[1]), percentOff(c.decRate(), n.trueRates[2]),
                percentOff(south, n.trueRates[3]));
}

void printTable()
{
    // cal at: seconds the calibration took; angle: the west direction's, and its difference
    // from the simulator's camera angle; W E N S: each rate against the simulator's, per cent;
    // ra/unguided: the guided RA RMS over the unguided one of the same seed and minutes.
    std::printf("\n%-50s %4s %5s %6s %6s %5s %5s %5s %5s %6s %6s %6s %6s %6s %6s %6s %5s %5s\n",
                "algorithm", "seed", "cal@s", "angle", "d.ang", "W%", "E%", "N%", "S%", "ra\"",
                "dec\"", "total\"", "peakRA", "peakDe", "ra/ung", "pulses", "stale", "lost");
    std::map<std::uint64_t, const Row *> unguided;
    for (const Row &r : rows) {
        if (r.name == QLatin1String("unguided"))
            unguided[r.seed] = &r;
    }
    for (const Row &r : rows) {
        const GuideNightResult &n = r.night;
        std::printf("%-50s %4llu", qPrintable(r.name), static_cast<unsigned long long>(r.seed));
        if (n.calibrated)
            printCalibration(n);
        else
            std::printf(" %5s %6s %6s %5s %5s %5s %5s", "-", "-", "-", "-", "-", "-", "-");
        const auto base = unguided.find(r.seed);
        const double ratio = base != unguided.end() && base->second->night.rmsRa > 0.0
                                 ? n.rmsRa / base->second->night.rmsRa
                                 : 0.0;
        std::printf(" %6.3f %6.3f %6.3f %6.2f %6.2f %6.3f %6d %5d %5d%s%s\n", n.rmsRa, n.rmsDec,
                    n.total(), n.peakRa, n.peakDec, ratio, n.pulses, n.stale, n.lost,
                    n.failure.isEmpty() ? "" : "  ", qPrintable(n.failure));
    }
}

} // namespace

// Each seed's guided rows first, so that its unguided row is judged over their minutes.
// The defaults also calibrate later in the night, where the periodic error runs the other way
// or turns within the calibration.
BENCHMARK(guideNight)
    ->ArgNames({"variant", "seed", "from"})
    ->ArgsProduct({{1, 2, 3, 4, 5, 6}, {1, 2, 3}, {0}})
    ->ArgsProduct({{1}, {1}, {30, 60, 120, 180}})
    ->ArgsProduct({{0}, {1, 2, 3}, {0}})
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
