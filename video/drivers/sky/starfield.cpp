// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/sky/starfield.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace voruna {

namespace {

// The camera: a small bias, a dark-site sky and a little read noise, in electrons; at unity gain
// one electron makes one level of the 8-bit picture. The sensor's dark signal is SkySensor's.
constexpr double kBias = 8.0;
constexpr double kSkyRate = 150.0;         // electrons per second per pixel
constexpr double kReadNoise = 3.0;         // electrons
constexpr double kGuideStarRate = 18000.0; // a peak of about 180 at 100 ms and unity gain
constexpr int kFaintStars = 360;           // in one 4096" square of sky
constexpr double kClearAround = 40.0; // arcseconds kept free of faint stars round the guide star
constexpr std::array<float, 3> kSkyTint{0.85f, 0.92f, 1.0f};

// A small, fast generator (splitmix64): the catalogue and the noise need no more.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }

private:
    std::uint64_t m_state;
};

// Inverse of the standard normal distribution, by bisection on erf: good enough for a table.
double normalQuantile(double p)
{
    double low = -8.0;
    double high = 8.0;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (low + high);
        if (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p)
            low = mid;
        else
            high = mid;
    }
    return 0.5 * (low + high);
}

double wrapped(double arcsec)
{
    const double t = StarField::tileSize;
    return arcsec - t * std::floor((arcsec + 0.5 * t) / t);
}

double gainFactor(int gain)
{
    return std::exp2((std::clamp(gain, 0, 100) - 40) / 20.0);
}

double exposureSeconds(const SkyView &view)
{
    return std::max(0, view.exposureMs) / 1000.0;
}

// Picture levels per electron.
double levelsPerElectron(const SkyView &view)
{
    return gainFactor(view.gain) / std::max(1.0, exposureSeconds(view));
}

// Where the point `ra`, `dec` arcseconds from the middle of the sky falls in the picture of `view`.
QPointF inPicture(const SkyView &view, double ra, double dec, double scale)
{
    const double turn = std::isfinite(view.angle) ? view.angle * std::numbers::pi / 180.0 : 0.0;
    const double c = std::cos(turn);
    const double s = std::sin(turn);
    return {view.size.width() / 2 + (ra * c - dec * s) / scale,
            view.size.height() / 2 - (ra * s + dec * c) / scale};
}

std::uint8_t level(double value)
{
    return std::uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

// As level(), for the many entries of a picture's table: min and max, which need no branch nor
// call, and rounding half up.
std::uint8_t fastLevel(float value)
{
    return std::uint8_t(std::min(std::max(value + 0.5f, 0.0f), 255.0f));
}

// The share of a Gaussian of width `sigma` centred at `centre` that falls on pixels first to
// first + count - 1.
void pixelShares(double centre, double sigma, int first, int count, double *shares)
{
    const double k = 1.0 / (sigma * std::sqrt(2.0));
    double previous = std::erf((first - 0.5 - centre) * k);
    for (int i = 0; i < count; ++i) {
        const double next = std::erf((first + i + 0.5 - centre) * k);
        shares[i] = 0.5 * (next - previous);
        previous = next;
    }
}

} // namespace

StarField::StarField()
{
    for (int k = 0; k < 256; ++k)
        m_normal[std::size_t(k)] = float(normalQuantile((k + 0.5) / 256.0));
    m_stars.push_back({0.0, 0.0, kGuideStarRate, {1.0f, 1.0f, 1.0f}});
    Random random(20261207);
    while (int(m_stars.size()) <= kFaintStars) {
        const double ra = (random.uniform() - 0.5) * tileSize;
        const double dec = (random.uniform() - 0.5) * tileSize;
        const double magnitude = 0.8 + 4.2 * random.uniform(); // fainter than the guide star
        const float warmth = float(random.uniform());
        if (std::hypot(ra, dec) < kClearAround)
            continue;
        m_stars.push_back({ra,
                           dec,
                           kGuideStarRate * std::pow(10.0, -0.4 * magnitude),
                           {0.85f + 0.15f * warmth, 0.92f, 1.0f - 0.2f * warmth}});
    }
}

QPointF StarField::guideStarPosition(const SkyView &view)
{
    return inPicture(view, wrapped(view.offset.x()), wrapped(view.offset.y()), view.plateScale);
}

void StarField::render(const SkyView &view, QImage *image) const
{
    if (image->size() != view.size || image->format() != QImage::Format_RGB888)
        *image = QImage(view.size, QImage::Format_RGB888);
    if (image->isNull())
        return;
    fillBackground(view, image);
    addHotPixels(view, image);
    if (view.covered)
        return;
    const double scale =
        std::isfinite(view.plateScale) && view.plateScale > 0 ? view.plateScale : 2.0;
    const double sigma = seeingFwhm / (2.0 * std::sqrt(2.0 * std::log(2.0))) / scale;
    for (const Star &star : m_stars) {
        const QPointF at = inPicture(view, wrapped(star.ra + view.offset.x()),
                                     wrapped(star.dec + view.offset.y()), scale);
        addStar(star, at, sigma, view, image);
    }
}

void StarField::fillBackground(const SkyView &view, QImage *image) const
{
    const double seconds = exposureSeconds(view);
    const double light = levelsPerElectron(view);
    const double dark = gainFactor(view.gain);
    const double sky = view.covered ? 0.0 : kSkyRate * seconds;
    // A pixel's three levels for each of the pattern's dark currents and each of the 256 noise
    // quantiles: looked up, never computed, pixel by pixel.
    const std::shared_ptr<const SkySensor::DarkPattern> pattern = m_sensor.darkPattern(view.size);
    constexpr std::size_t rows = SkySensor::rateSteps;
    std::array<std::uint8_t, rows * 256 * 3> table;
    for (std::size_t q = 0; q < rows; ++q) {
        const double electrons = pattern->rates[q] * seconds;
        const double mean = kBias + light * sky + dark * electrons;
        const double deviation =
            std::sqrt(light * light * (sky + kReadNoise * kReadNoise) + dark * dark * electrons);
        for (std::size_t k = 0; k < 256; ++k) {
            const float value = float(mean + deviation * m_normal[k]);
            for (std::size_t c = 0; c < 3; ++c)
                table[(q * 256 + k) * 3 + c] = fastLevel(view.grey ? value : kSkyTint[c] * value);
        }
    }
    const std::uint8_t *rate = pattern->pixels.data();
    Random random(view.noiseSeed * 0x2545f4914f6cdd1dull + 1);
    const int width = image->width();
    for (int y = 0; y < image->height(); ++y) {
        std::uint8_t *out = image->scanLine(y);
        std::uint64_t bits = 0;
        for (int x = 0; x < width; ++x, ++rate, out += 3) {
            if ((x & 7) == 0)
                bits = random.next();
            const std::uint8_t *levels = &table[((std::size_t(*rate) << 8) | (bits & 0xff)) * 3];
            bits >>= 8;
            out[0] = levels[0];
            out[1] = levels[1];
            out[2] = levels[2];
        }
    }
}

void StarField::addHotPixels(const SkyView &view, QImage *image) const
{
    const double seconds = exposureSeconds(view);
    const double dark = gainFactor(view.gain);
    Random random(view.noiseSeed * 0x9e3779b97f4a7c15ull + 7);
    for (const SkySensor::HotPixel &hot : SkySensor::hotPixels(view.size)) {
        const double electrons = hot.rate * seconds;
        const double noise = std::sqrt(electrons) * m_normal[random.next() & 0xff];
        const double value = dark * (electrons + noise);
        std::uint8_t *pixel = image->scanLine(hot.at.y()) + 3 * hot.at.x();
        for (std::size_t c = 0; c < 3; ++c)
            pixel[c] = level(pixel[c] + value);
    }
}

void StarField::addStar(const Star &star, QPointF centre, double sigma, const SkyView &view,
                        QImage *image) const
{
    // A star far off the picture, or at no place at all, lights no pixel; this also keeps the
    // conversions to int below in range.
    constexpr double kFarOff = 1.0e6;
    if (!(std::abs(centre.x()) < kFarOff && std::abs(centre.y()) < kFarOff))
        return;
    constexpr int kMaxSpan = 64;
    const int radius = int(std::min(double(kMaxSpan / 2 - 1), std::ceil(4.0 * sigma)));
    const int left = std::max(0, int(std::floor(centre.x())) - radius);
    const int right = std::min(image->width() - 1, int(std::floor(centre.x())) + radius + 1);
    const int top = std::max(0, int(std::floor(centre.y())) - radius);
    const int bottom = std::min(image->height() - 1, int(std::floor(centre.y())) + radius + 1);
    if (left > right || top > bottom)
        return;
    double across[kMaxSpan];
    double down[kMaxSpan];
    pixelShares(centre.x(), sigma, left, right - left + 1, across);
    pixelShares(centre.y(), sigma, top, bottom - top + 1, down);
    const double light = levelsPerElectron(view) * star.rate * exposureSeconds(view);
    for (int y = top; y <= bottom; ++y) {
        std::uint8_t *row = image->scanLine(y) + 3 * left;
        for (int x = left; x <= right; ++x, row += 3) {
            const double value = light * across[x - left] * down[y - top];
            for (std::size_t c = 0; c < 3; ++c) {
                const double tinted = view.grey ? value : value * star.colour[c];
                row[c] = level(row[c] + tinted);
            }
        }
    }
}

} // namespace voruna
