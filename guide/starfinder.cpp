// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/starfinder.h"

#include "guide/starpatch.h"

#include <algorithm>
#include <cmath>

namespace voruna {

namespace {

// About this many pixels, spread over the frame, give its sky level.
constexpr int skySamples = 4096;
// A candidate's 3 x 3 block must stand this many deviations of its sum above the sky.
constexpr double detectionSigmas = 5.0;
// Two measurements closer than this are one star found twice.
constexpr double sameStar = 3.0;
// The brightest spots are measured until this many stars well below clipping are found: the
// best signal-to-noise ratio is among them.
constexpr int enoughStars = 8;

struct Candidate {
    QPoint at;
    double score; // the 3 x 3 block's sum above the sky
};

SkyLevel frameSky(const FrameView &frame)
{
    const int step = std::max(1, int(std::sqrt(double(frame.width) * frame.height / skySamples)));
    std::vector<float> samples;
    samples.reserve(size_t(frame.width / step + 1) * size_t(frame.height / step + 1));
    for (int y = step / 2; y < frame.height; y += step)
        for (int x = step / 2; x < frame.width; x += step)
            samples.push_back(float(frame.at(x, y)));
    return clippedLevel(samples);
}

// Adds pixel `x` of row `here` when it is a local maximum whose side neighbours are lit too (a
// hot pixel's are dark) and whose 3 x 3 block stands `least` above the sky. A plateau gives its
// first pixel in reading order.
template<typename Pixel>
void considerPeak(const Pixel *up, const Pixel *here, const Pixel *down, int x, int y, SkyLevel sky,
                  double least, std::vector<Candidate> *out)
{
    const Pixel v = here[x];
    if (v <= up[x - 1] || v <= up[x] || v <= up[x + 1] || v <= here[x - 1] || v < here[x + 1]
        || v < down[x - 1] || v < down[x] || v < down[x + 1])
        return;
    const double excess = v - sky.level;
    const double side = std::max({up[x], down[x], here[x - 1], here[x + 1]}) - sky.level;
    if (side < 0.25 * excess)
        return;
    const double score = double(up[x - 1]) + up[x] + up[x + 1] + here[x - 1] + v + here[x + 1]
                         + down[x - 1] + down[x] + down[x + 1] - 9.0 * sky.level;
    if (score >= least)
        out->push_back({QPoint(x, y), score});
}

// The peaks above `threshold` at least `margin` from the edges. Runs of pixels all below it,
// most of the sky, are passed over a block at a time.
template<typename Pixel>
void collectPeaks(const FrameView &frame, int margin, double threshold, SkyLevel sky,
                  std::vector<Candidate> *out)
{
    constexpr int block = 32;
    const auto row = [&frame](int y) {
        return reinterpret_cast<const Pixel *>(static_cast<const uchar *>(frame.pixels)
                                               + qsizetype(y) * frame.stride);
    };
    const double least = detectionSigmas * 3.0 * sky.noise;
    // Integer samples: above `threshold` is above its whole part.
    const int limit = int(std::min(std::floor(threshold), 65535.0));
    const int last = frame.width - margin;
    for (int y = margin; y < frame.height - margin; ++y) {
        const Pixel *up = row(y - 1), *here = row(y), *down = row(y + 1);
        for (int x = margin; x < last;) {
            const int end = std::min(x + block, last);
            if (end - x == block) {
                Pixel highest = 0;
                for (int k = 0; k < block; ++k)
                    highest = std::max(highest, here[x + k]);
                if (highest <= limit) {
                    x = end;
                    continue;
                }
            }
            for (; x < end; ++x)
                if (here[x] > limit)
                    considerPeak(up, here, down, x, y, sky, least, out);
        }
    }
}

bool awayFromEdges(const StarMeasurement &star, const FrameView &frame, int margin)
{
    const QPointF c = star.centre;
    return c.x() >= margin && c.y() >= margin && c.x() <= frame.width - 1 - margin
           && c.y() <= frame.height - 1 - margin;
}

} // namespace

std::vector<StarMeasurement> findGuideStars(const FrameView &frame, const StarSettings &settings,
                                            int limit)
{
    std::vector<StarMeasurement> stars;
    if (!frame.isValid())
        return stars;
    const SkyLevel sky = frameSky(frame);
    const int margin = std::max(1, settings.edgeMargin);
    // One ADU more than three deviations: in a shallow, quiet frame a single level step
    // would pass three deviations.
    const double threshold = sky.level + 3.0 * sky.noise + 1.0;
    std::vector<Candidate> candidates;
    if (frame.bits == 16)
        collectPeaks<quint16>(frame, margin, threshold, sky, &candidates);
    else
        collectPeaks<uchar>(frame, margin, threshold, sky, &candidates);
    const auto measured = std::min<size_t>(size_t(std::max(limit, 0)), candidates.size());
    std::partial_sort(candidates.begin(), candidates.begin() + qsizetype(measured),
                      candidates.end(),
                      [](const Candidate &a, const Candidate &b) { return a.score > b.score; });
    const double level = settings.saturationLevel > 0 ? settings.saturationLevel : frame.maxValue();
    const auto nearClipping = [level](const StarMeasurement &s) { return s.peak > 0.9 * level; };
    StarSettings near = settings;
    near.searchRadius = 2;
    int wellExposed = 0;
    for (size_t i = 0; i < measured && wellExposed < enoughStars; ++i) {
        const StarMeasurement star = measureStar(frame, candidates[i].at, near);
        if (!star.isUsable() || !awayFromEdges(star, frame, margin)
            || std::any_of(stars.begin(), stars.end(), [&](const StarMeasurement &kept) {
                   return std::hypot(kept.centre.x() - star.centre.x(),
                                     kept.centre.y() - star.centre.y())
                          < sameStar;
               }))
            continue;
        stars.push_back(star);
        wellExposed += !nearClipping(star);
    }
    std::stable_sort(stars.begin(), stars.end(),
                     [&](const StarMeasurement &a, const StarMeasurement &b) {
                         if (nearClipping(a) != nearClipping(b))
                             return !nearClipping(a);
                         return a.snr > b.snr;
                     });
    return stars;
}

std::optional<StarMeasurement> findGuideStar(const FrameView &frame, const StarSettings &settings)
{
    const auto stars = findGuideStars(frame, settings);
    if (stars.empty())
        return std::nullopt;
    return stars.front();
}

} // namespace voruna
