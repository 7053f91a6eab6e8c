// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/starmeasure.h"

#include "guide/starpatch.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace voruna {

namespace {

constexpr double fwhmPerSigma = 2.3548;
// A spot must stand this many deviations above the sky, summed over its 3 x 3 pixels, to count.
constexpr double detectionSigmas = 5.0;
// A flat top: this many pixels of a star at exactly its highest value.
constexpr int flatTopPixels = 5;

// The pixels of `patch` within `radius` of `centre`, as a clipped box.
struct Disc {
    int x0, x1, y0, y1;
    double r2;
    Disc(const StarPatch &patch, QPointF centre, double radius)
        : x0(std::max(patch.left(), int(std::ceil(centre.x() - radius))))
        , x1(std::min(patch.right(), int(std::floor(centre.x() + radius))))
        , y0(std::max(patch.top(), int(std::ceil(centre.y() - radius))))
        , y1(std::min(patch.bottom(), int(std::floor(centre.y() + radius))))
        , r2(radius * radius)
    {}
};

double squaredDistance(int x, int y, QPointF c)
{
    return (x - c.x()) * (x - c.x()) + (y - c.y()) * (y - c.y());
}

double sum3x3(const StarPatch &patch, int x, int y)
{
    double sum = 0.0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            sum += patch.at(x + dx, y + dy);
    return sum;
}

// The centre of the brightest 3 x 3 block within `radius` of `near`, and its sum.
std::optional<std::pair<QPoint, double>> brightestSpot(const StarPatch &patch, QPoint near,
                                                       int radius)
{
    std::optional<std::pair<QPoint, double>> best;
    for (int y = std::max(near.y() - radius, patch.top() + 1);
         y <= std::min(near.y() + radius, patch.bottom() - 1); ++y) {
        for (int x = std::max(near.x() - radius, patch.left() + 1);
             x <= std::min(near.x() + radius, patch.right() - 1); ++x) {
            const double sum = sum3x3(patch, x, y);
            if (!best || sum > best->second)
                best = std::pair{QPoint(x, y), sum};
        }
    }
    return best;
}

// The first moment of the pixels more than `threshold` above `sky`; `centre` when none is.
QPointF thresholdCentroid(const StarPatch &patch, QPointF centre, double radius, double sky,
                          double threshold)
{
    const Disc disc(patch, centre, radius);
    double mass = 0.0, mx = 0.0, my = 0.0;
    for (int y = disc.y0; y <= disc.y1; ++y) {
        for (int x = disc.x0; x <= disc.x1; ++x) {
            const double d = patch.at(x, y) - sky;
            if (d > threshold && squaredDistance(x, y, centre) <= disc.r2) {
                mass += d;
                mx += d * x;
                my += d * y;
            }
        }
    }
    return mass > 0.0 ? QPointF(mx / mass, my / mass) : centre;
}

// The diameter within which half the flux inside `radius` lies; 0 when there is no flux. Each
// pixel's flux counts as spread evenly over the radii half a pixel either side of its centre's,
// so that the answer moves smoothly with the star's place on the grid.
double halfFluxDiameter(const StarPatch &patch, QPointF centre, double radius, double sky)
{
    const Disc disc(patch, centre, radius);
    std::vector<std::pair<double, double>> pixels; // (distance, flux)
    double total = 0.0;
    for (int y = disc.y0; y <= disc.y1; ++y) {
        for (int x = disc.x0; x <= disc.x1; ++x) {
            const double r2 = squaredDistance(x, y, centre);
            if (r2 <= disc.r2) {
                pixels.emplace_back(std::sqrt(r2), patch.at(x, y) - sky);
                total += pixels.back().second;
            }
        }
    }
    if (total <= 0.0)
        return 0.0;
    const auto enclosed = [&pixels](double r) {
        double sum = 0.0;
        for (const auto &[distance, flux] : pixels) {
            const double from = std::max(distance - 0.5, 0.0), to = distance + 0.5;
            sum += flux * std::clamp((r - from) / (to - from), 0.0, 1.0);
        }
        return sum;
    };
    double low = 0.0, high = radius + 0.5;
    for (int step = 0; step < 16; ++step) { // to a few thousandths of a pixel
        const double middle = 0.5 * (low + high);
        (enclosed(middle) < 0.5 * total ? low : high) = middle;
    }
    return low + high;
}

// The centre where the Gaussian-weighted first moment (weights of `sigma`, the star's own
// width) is zero: for a Gaussian star on a flat sky that is the most likely centre, free of
// the thresholded moment's pull towards the pixel grid. Each step moves twice the weighted
// moment, which lands on the centre at once when the widths match. `start` if it wanders.
QPointF windowedCentroid(const StarPatch &patch, QPointF start, double sigma, double radius,
                         double sky)
{
    const double spread = 1.0 / (2.0 * sigma * sigma);
    std::vector<double> wx, wy;
    QPointF c = start;
    for (int round = 0; round < 40; ++round) {
        const Disc disc(patch, c, radius);
        if (disc.x1 < disc.x0 || disc.y1 < disc.y0)
            return start;
        wx.resize(size_t(disc.x1 - disc.x0 + 1));
        wy.resize(size_t(disc.y1 - disc.y0 + 1));
        for (int x = disc.x0; x <= disc.x1; ++x)
            wx[size_t(x - disc.x0)] = std::exp(-(x - c.x()) * (x - c.x()) * spread);
        for (int y = disc.y0; y <= disc.y1; ++y)
            wy[size_t(y - disc.y0)] = std::exp(-(y - c.y()) * (y - c.y()) * spread);
        double mass = 0.0, mx = 0.0, my = 0.0;
        for (int y = disc.y0; y <= disc.y1; ++y) {
            for (int x = disc.x0; x <= disc.x1; ++x) {
                if (squaredDistance(x, y, c) > disc.r2)
                    continue;
                const double wd =
                    wx[size_t(x - disc.x0)] * wy[size_t(y - disc.y0)] * (patch.at(x, y) - sky);
                mass += wd;
                mx += wd * (x - c.x());
                my += wd * (y - c.y());
            }
        }
        if (mass <= 0.0)
            return start;
        const QPointF step(2.0 * mx / mass, 2.0 * my / mass);
        c += step;
        if (std::hypot(c.x() - start.x(), c.y() - start.y()) > radius / 2)
            return start;
        if (std::abs(step.x()) + std::abs(step.y()) < 1e-5)
            break;
    }
    return c;
}

// Sky, rough centre and half-flux diameter of the star around `spot`, with the sky ring
// starting at `inner`.
struct Shape {
    SkyLevel sky;
    QPointF rough;
    double hfd = 0.0;
};

Shape measureShape(const StarPatch &patch, QPointF spot, double inner, double ringWidth)
{
    Shape shape;
    shape.sky = patch.ringSky(spot, inner, inner + ringWidth);
    const double reach = inner - 1.0;
    shape.rough = thresholdCentroid(patch, spot, reach, shape.sky.level, 3.0 * shape.sky.noise);
    shape.hfd = halfFluxDiameter(patch, shape.rough, reach, shape.sky.level);
    return shape;
}

// Flux, peak and saturation within the aperture, the signal-to-noise ratio and the edge.
void measureAperture(const StarPatch &patch, const FrameView &frame, const StarSettings &settings,
                     double inner, int skyPixels, StarMeasurement *m)
{
    const double radius = std::clamp(1.5 * m->hfd, 2.0, inner - 1.0);
    const Disc disc(patch, m->centre, radius);
    int pixels = 0, atPeak = 0;
    for (int y = disc.y0; y <= disc.y1; ++y) {
        for (int x = disc.x0; x <= disc.x1; ++x) {
            if (squaredDistance(x, y, m->centre) > disc.r2)
                continue;
            const double value = patch.at(x, y);
            m->flux += value - m->sky;
            ++pixels;
            if (value > m->peak) {
                m->peak = value;
                atPeak = 0;
            }
            atPeak += value == m->peak;
        }
    }
    const int level = settings.saturationLevel > 0 ? settings.saturationLevel : frame.maxValue();
    m->saturated = m->peak >= level || atPeak >= flatTopPixels;
    const double variance =
        std::max(m->flux, 0.0) / settings.gain
        + pixels * m->skyNoise * m->skyNoise * (1.0 + double(pixels) / std::max(skyPixels, 1));
    m->snr = m->flux > 0.0 ? m->flux / std::sqrt(variance) : 0.0;
    const QPointF c = m->centre;
    if (c.x() - radius < -0.5 || c.y() - radius < -0.5 || c.x() + radius > frame.width - 0.5
        || c.y() + radius > frame.height - 0.5)
        m->loss = StarLoss::NearEdge;
}

bool hotPixelNear(const StarPatch &patch, QPoint near, int radius)
{
    return std::any_of(patch.repairedPixels().begin(), patch.repairedPixels().end(), [&](QPoint p) {
        return std::abs(p.x() - near.x()) <= radius && std::abs(p.y() - near.y()) <= radius;
    });
}

// The centre, size, flux and saturation of the star found around `shape`'s rough centre, with
// the sky ring from `inner` outwards.
void refine(const StarPatch &patch, const FrameView &frame, const StarSettings &settings,
            const Shape &shape, double inner, StarMeasurement *m)
{
    m->sky = shape.sky.level;
    m->skyNoise = shape.sky.noise;
    m->roughCentre = shape.rough;
    const double sigma = std::clamp(shape.hfd / fwhmPerSigma, 0.5, settings.maxHfd / fwhmPerSigma);
    m->centre = windowedCentroid(patch, shape.rough, sigma, inner - 1.0, m->sky);
    m->hfd = halfFluxDiameter(patch, m->centre, inner - 1.0, m->sky);
    measureAperture(patch, frame, settings, inner, shape.sky.count, m);
}

StarLoss judge(const StarMeasurement &m, const StarSettings &settings)
{
    if (m.loss != StarLoss::None)
        return m.loss;
    if (m.snr < settings.minSnr)
        return StarLoss::TooFaint;
    if (m.hfd < settings.minHfd)
        return StarLoss::HotPixel;
    if (m.hfd > settings.maxHfd)
        return StarLoss::NoStar;
    return m.saturated ? StarLoss::Saturated : StarLoss::None;
}

// `settings` with its lengths within the frame's size and its floors sane, whatever was asked.
StarSettings bounded(StarSettings settings, const FrameView &frame)
{
    const int side = std::max(frame.width, frame.height);
    const auto within = [](double v, double low, double high) {
        return std::isfinite(v) ? std::clamp(v, low, high) : low;
    };
    settings.searchRadius = std::clamp(settings.searchRadius, 0, side);
    settings.ringInner = within(settings.ringInner, 2.0, side);
    settings.ringWidth = within(settings.ringWidth, 1.0, side);
    settings.minHfd = within(settings.minHfd, 0.0, side);
    settings.maxHfd = within(settings.maxHfd, 1.0, side);
    settings.gain = within(settings.gain, 1e-3, 1e6);
    return settings;
}

} // namespace

StarMeasurement measureStar(const FrameView &frame, QPointF near, const StarSettings &wished)
{
    StarMeasurement m;
    if (!frame.isValid()) {
        m.loss = StarLoss::BadFrame;
        return m;
    }
    if (!(near.x() >= -0.5 && near.y() >= -0.5 && near.x() < frame.width - 0.5
          && near.y() < frame.height - 0.5)) {
        m.loss = StarLoss::NoStar;
        return m;
    }
    const QPoint start(int(std::lround(near.x())), int(std::lround(near.y())));
    const StarSettings settings = bounded(wished, frame);
    const int ringReach = int(std::ceil(settings.ringInner + settings.ringWidth));
    const StarPatch box(frame, start, settings.searchRadius + ringReach);
    const auto spot = brightestSpot(box, start, settings.searchRadius);
    Shape shape;
    if (spot)
        shape = measureShape(box, spot->first, settings.ringInner, settings.ringWidth);
    if (!spot || spot->second - 9.0 * shape.sky.level < detectionSigmas * 3.0 * shape.sky.noise) {
        m.loss =
            hotPixelNear(box, start, settings.searchRadius) ? StarLoss::HotPixel : StarLoss::NoStar;
        return m;
    }
    const double inner =
        std::max(settings.ringInner, std::min(2.0 * shape.hfd, 2.0 * settings.maxHfd));
    if (inner > settings.ringInner) {
        // A wide star reaches into the ring: move the ring out, clear of it.
        const StarPatch wide(frame, spot->first, int(std::ceil(inner + settings.ringWidth)));
        refine(wide, frame, settings, measureShape(wide, spot->first, inner, settings.ringWidth),
               inner, &m);
    } else {
        refine(box, frame, settings, shape, inner, &m);
    }
    m.loss = judge(m, settings);
    return m;
}

} // namespace voruna
