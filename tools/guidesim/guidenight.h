// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guideengine.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace voruna {

// A night under the adaptor simulator's sky, run in simulated time: the mount model with the
// simulator's own options, a camera that streams exposures back to back (each rendered from the
// mount at its end, as the sky camera renders it), the guide star picked in the first frame and
// followed, and the guide loop calibrating, then guiding. Each correction reaches the mount a
// little after its frame and stops after its seconds. What really happened is written to a
// truth file through the simulator's own writer and read back to judge the night.
struct GuideNightSetup {
    // The simulator's options; the seed of its seeing is added.
    QStringList simArguments{QStringLiteral("--night")};
    std::uint64_t seed = 1;
    // false: nothing is calibrated or sent, the mount runs free.
    bool guided = true;
    // Calibration starts on the first frame this many seconds into the night: the periodic
    // error's phase then.
    double calibrateFrom = 0.0;
    GuideSettings guide;
    CalibrationSettings calibration;
    double exposureSeconds = 2.0;
    // From a frame's end to its correction's start at the mount.
    double latencySeconds = 0.02;
    int width = 640; // the picture is 4:3
    int gain = 0;
    // Guiding settles this long before it is judged, then is judged this long.
    double settleSeconds = 60.0;
    double judgedSeconds = 600.0;
    // Unguided: when judging starts, seconds after the first frame (a guided night's start).
    double unguidedFrom = 0.0;
};

struct GuideNightResult {
    // Calibration: ended well (or not, and why), when, and what it found.
    bool calibrated = false;
    QString failure;
    Calibration calibration;
    double calibratedAt = 0.0;
    // What the simulator really does: the camera's angle (degrees) and the rates of west,
    // east, north and south in pixels per second.
    double trueAngle = 0.0;
    double trueRates[4] = {};
    // The judged time and, from the truth, the population standard deviation of the star's
    // place per axis (tracking error plus the frame's seeing shift), arcseconds.
    double judgedFrom = 0.0, judgedTo = 0.0;
    int judgedFrames = 0;
    double rmsRa = 0.0, rmsDec = 0.0;
    double peakRa = 0.0, peakDec = 0.0; // the largest distance from the mean
    double total() const;
    // The loop's own account: frames, frames without the star, stale frames, pulses sent;
    // faults of the loop: frames that asked one axis twice, starts of a direction still moving.
    int frames = 0, lost = 0, stale = 0, pulses = 0;
    int doubledAxes = 0, overlaps = 0;
    std::vector<GuideRecord> records;
};

GuideNightResult runGuideNight(const GuideNightSetup &setup);

} // namespace voruna
