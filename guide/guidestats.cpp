// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/guidestats.h"

#include <algorithm>
#include <cmath>

namespace voruna {

namespace {

struct Axis {
    double squares = 0.0;
    double peak = 0.0;
    int count = 0;

    void add(double value)
    {
        if (!std::isfinite(value))
            return;
        squares += value * value;
        peak = std::max(peak, std::abs(value));
        ++count;
    }
    double rms() const { return count ? std::sqrt(squares / count) : kNoValue; }
    double peakOrNone() const { return count ? peak : kNoValue; }
};

} // namespace

GuideStats guideStats(const std::deque<GuideRecord> &records, double now, double window,
                      double scale)
{
    Axis ra, dec;
    const double from = now - window;
    for (const GuideRecord &record : records) {
        if (record.time < from || record.time > now)
            continue;
        ra.add(record.raPixels * scale);
        dec.add(record.decPixels * scale);
    }
    GuideStats stats;
    stats.raRms = ra.rms();
    stats.decRms = dec.rms();
    stats.totalRms = std::hypot(stats.raRms, stats.decRms);
    if (!ra.count || !dec.count)
        stats.totalRms = kNoValue;
    stats.raPeak = ra.peakOrNone();
    stats.decPeak = dec.peakOrNone();
    stats.raSamples = ra.count;
    stats.decSamples = dec.count;
    return stats;
}

} // namespace voruna
