// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/darkframe.h"

#include "guide/starpatch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

namespace voruna {

namespace {

// A pixel glows by itself when it stands this many deviations of the dark's fine structure
// above its neighbours.
constexpr double hotSigmas = 6.0;
// Frames of another exposure in a row, once the camera should have taken the one asked for,
// before the darks give up on it.
constexpr int mostOtherExposures = 5;
// A dark with more hot pixels than this share keeps the strongest: more is a light leak, not
// a sensor's defects.
constexpr double mostHot = 0.02;
// About this many pixels give the scatter of the fine structure.
constexpr int scatterSamples = 65536;

float darkAt(const DarkFrame &dark, int x, int y)
{
    return dark.mean[size_t(y) * size_t(dark.size.width()) + size_t(x)];
}

// The lower median of the neighbours of (x, y) inside the frame that `skip` leaves: the ring of
// eight, and the one around it when fewer than three of them are left (the rest of a hot cluster
// may be half of what is left, hence the lower median). `value` gives a pixel's value.
template<typename Value, typename Skip>
float neighbourMedian(int x, int y, QSize size, Value value, Skip skip)
{
    std::array<float, 24> near{};
    int n = 0;
    for (int reach = 1; reach <= 2 && n < 3; ++reach)
        for (int dy = -reach; dy <= reach; ++dy)
            for (int dx = -reach; dx <= reach; ++dx) {
                const int nx = x + dx, ny = y + dy;
                if (std::max(std::abs(dx), std::abs(dy)) == reach && nx >= 0 && ny >= 0
                    && nx < size.width() && ny < size.height() && !skip(nx, ny))
                    near[size_t(n++)] = value(nx, ny);
            }
    if (n == 0)
        return value(x, y);
    std::nth_element(near.begin(), near.begin() + (n - 1) / 2, near.begin() + n);
    return near[size_t((n - 1) / 2)];
}

template<typename Pixel>
void correctRows(const FrameView &raw, const DarkFrame *dark, float pedestal, uchar *out,
                 qsizetype stride)
{
    const float top = float(raw.maxValue());
    for (int y = 0; y < raw.height; ++y) {
        const auto *in = reinterpret_cast<const Pixel *>(static_cast<const uchar *>(raw.pixels)
                                                         + qsizetype(y) * raw.stride);
        auto *row = reinterpret_cast<Pixel *>(out + qsizetype(y) * stride);
        if (!dark) {
            std::copy(in, in + raw.width, row);
            continue;
        }
        const float *d = dark->mean.data() + size_t(y) * size_t(raw.width);
        for (int x = 0; x < raw.width; ++x)
            row[x] = Pixel(std::clamp(float(in[x]) - d[x] + pedestal + 0.5f, 0.0f, top));
    }
}

template<typename Pixel>
void repairHotPixels(const HotPixelMap &map, uchar *pixels, qsizetype stride)
{
    const auto at = [pixels, stride](int x, int y) -> Pixel & {
        return reinterpret_cast<Pixel *>(pixels + qsizetype(y) * stride)[x];
    };
    for (const QPoint &p : map.pixels())
        at(p.x(), p.y()) = Pixel(std::lround(neighbourMedian(
            p.x(), p.y(), map.size(), [&at](int x, int y) { return float(at(x, y)); },
            [&map](int x, int y) { return map.contains(QPoint(x, y)); })));
}

} // namespace

bool sameExposure(double a, double b)
{
    return std::abs(a - b) <= 1e-3 * std::max(std::abs(a), std::abs(b)) + 1e-7;
}

bool DarkStacker::add(const FrameView &frame)
{
    if (!frame.isValid())
        return false;
    const QSize size(frame.width, frame.height);
    if (m_count == 0) {
        m_size = size;
        m_bits = frame.bits;
        m_sum.assign(size_t(size.width()) * size_t(size.height()), 0);
    } else if (size != m_size || frame.bits != m_bits || m_count >= 65535) {
        return false;
    }
    std::uint32_t *sum = m_sum.data();
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            *sum++ += frame.at(x, y);
    ++m_count;
    return true;
}

DarkFrame DarkStacker::result() const
{
    DarkFrame dark;
    if (m_count == 0)
        return dark;
    dark.size = m_size;
    dark.bits = m_bits;
    dark.exposureSeconds = m_exposure;
    dark.frames = m_count;
    dark.mean.resize(m_sum.size());
    std::transform(m_sum.begin(), m_sum.end(), dark.mean.begin(),
                   [this](std::uint32_t s) { return float(double(s) / m_count); });
    return dark;
}

HotPixelMap HotPixelMap::fromDark(const DarkFrame &dark)
{
    HotPixelMap map;
    if (!dark.isValid())
        return map;
    const int width = dark.size.width(), height = dark.size.height();
    map.m_size = dark.size;
    map.m_hot.assign(dark.mean.size(), 0);
    // Each pixel against the median of its neighbours: a smooth glow or gradient stands out
    // nowhere. The scatter of that excess comes from pixels spread over the frame.
    const auto value = [&dark](int x, int y) { return darkAt(dark, x, y); };
    const auto excessAt = [&](size_t i) {
        const int x = int(i % size_t(width)), y = int(i / size_t(width));
        return dark.mean[i] - neighbourMedian(x, y, dark.size, value, [](int, int) { return false; });
    };
    const size_t count = dark.mean.size();
    const size_t step = std::max<size_t>(1, count / scatterSamples);
    std::vector<float> samples;
    for (size_t i = step / 2; i < count; i += step)
        samples.push_back(excessAt(i));
    const SkyLevel fine = clippedLevel(samples);
    // Never less than one step of an 8-bit camera: a perfectly smooth dark flags nothing.
    const double floor = (dark.bits == 16 ? 65535.0 : 255.0) / 255.0;
    const float threshold = float(fine.level + std::max(hotSigmas * fine.noise, floor));
    // A pixel no higher than its lowest neighbour plus the threshold cannot stand that far above
    // their median: only the few others are looked at closely.
    std::vector<std::pair<float, size_t>> hot; // excess, pixel
    for (int y = 0; y < height; ++y) {
        const float *row = dark.mean.data() + size_t(y) * size_t(width);
        const float *up = y > 0 ? row - width : row + width;
        const float *down = y + 1 < height ? row + width : row - width;
        for (int x = 0; x < width; ++x) {
            const int l = x > 0 ? x - 1 : x + 1, r = x + 1 < width ? x + 1 : x - 1;
            if (width < 2 || height < 2)
                continue;
            const float lowest = std::min({up[l], up[x], up[r], row[l], row[r], down[l], down[x],
                                           down[r]});
            if (row[x] - lowest <= threshold)
                continue;
            const size_t i = size_t(y) * size_t(width) + size_t(x);
            if (const float e = excessAt(i); e > threshold)
                hot.emplace_back(e, i);
        }
    }
    // A cluster's pixels stand against neighbours partly hot themselves (at an edge, mostly):
    // each neighbour of a hot pixel is weighed again against its cool neighbours alone, until
    // no more are found.
    std::vector<std::uint8_t> flags(count, 0);
    for (const auto &h : hot)
        flags[h.second] = 1;
    for (size_t from = 0; from < hot.size() && hot.size() <= size_t(mostHot * double(count));) {
        const size_t upTo = hot.size();
        for (size_t k = from; k < upTo; ++k) {
            const int hx = int(hot[k].second % size_t(width)), hy = int(hot[k].second / size_t(width));
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = hx + dx, y = hy + dy;
                    const size_t i = size_t(y) * size_t(width) + size_t(x);
                    if (x < 0 || y < 0 || x >= width || y >= height || flags[i])
                        continue;
                    const float e = darkAt(dark, x, y)
                                    - neighbourMedian(x, y, dark.size, value, [&](int nx, int ny) {
                                          return flags[size_t(ny) * size_t(width) + size_t(nx)] != 0;
                                      });
                    if (e > threshold) {
                        flags[i] = 1;
                        hot.emplace_back(e, i);
                    }
                }
        }
        from = upTo;
    }
    std::sort(hot.begin(), hot.end(), [](auto &a, auto &b) { return a.second < b.second; });
    const auto most = size_t(mostHot * double(count));
    if (hot.size() > most) {
        std::nth_element(hot.begin(), hot.begin() + qsizetype(most), hot.end(),
                         std::greater<>());
        hot.resize(most);
        std::sort(hot.begin(), hot.end(), [](auto &a, auto &b) { return a.second < b.second; });
    }
    for (const auto &[e, i] : hot) {
        map.m_hot[i] = 1;
        map.m_pixels.emplace_back(int(i % size_t(width)), int(i / size_t(width)));
    }
    return map;
}

bool HotPixelMap::contains(QPoint pixel) const
{
    return pixel.x() >= 0 && pixel.y() >= 0 && pixel.x() < m_size.width()
           && pixel.y() < m_size.height()
           && m_hot[size_t(pixel.y()) * size_t(m_size.width()) + size_t(pixel.x())];
}

void DarkCorrection::setDark(std::optional<DarkFrame> dark)
{
    m_dark = dark && dark->isValid() ? std::move(dark) : std::nullopt;
    m_pedestal = 0.0f;
    if (m_dark) {
        std::vector<float> samples;
        const size_t step = std::max<size_t>(1, m_dark->mean.size() / scatterSamples);
        for (size_t i = step / 2; i < m_dark->mean.size(); i += step)
            samples.push_back(m_dark->mean[i]);
        m_pedestal = float(clippedLevel(samples).level);
    }
    m_lastPixels = nullptr;
}

void DarkCorrection::setHotPixels(HotPixelMap map)
{
    m_hot = std::move(map);
    m_lastPixels = nullptr;
}

bool DarkCorrection::appliesTo(const FrameView &raw) const
{
    return raw.isValid()
           && ((m_dark && m_dark->fits(raw))
               || (!m_hot.isEmpty() && m_hot.size() == QSize(raw.width, raw.height)));
}

FrameView DarkCorrection::apply(const FrameView &raw)
{
    if (!appliesTo(raw))
        return raw;
    if (m_lastPixels == raw.pixels && m_last.time == raw.time && m_last.width == raw.width
        && m_last.height == raw.height && m_last.bits == raw.bits)
        return m_last;
    const qsizetype stride = qsizetype(raw.width) * (raw.bits / 8);
    m_store.resize(size_t(stride) * size_t(raw.height));
    const DarkFrame *dark = m_dark && m_dark->fits(raw) ? &*m_dark : nullptr;
    const bool repair = !m_hot.isEmpty() && m_hot.size() == QSize(raw.width, raw.height);
    if (raw.bits == 16) {
        correctRows<quint16>(raw, dark, m_pedestal, m_store.data(), stride);
        if (repair)
            repairHotPixels<quint16>(m_hot, m_store.data(), stride);
    } else {
        correctRows<uchar>(raw, dark, m_pedestal, m_store.data(), stride);
        if (repair)
            repairHotPixels<uchar>(m_hot, m_store.data(), stride);
    }
    m_last = raw;
    m_last.pixels = m_store.data();
    m_last.stride = stride;
    m_lastPixels = raw.pixels;
    return m_last;
}

DarkTaker::DarkTaker(std::vector<double> exposures, int framesEach)
    : m_exposures(std::move(exposures)),
      m_framesEach(std::max(1, framesEach)),
      m_stacker(m_exposures.empty() ? 0.0 : m_exposures.front())
{
}

double DarkTaker::exposure() const
{
    return isDone() ? 0.0 : m_exposures[m_index];
}

int DarkTaker::framesDone() const
{
    return int(m_index) * m_framesEach + (isDone() ? 0 : m_stacker.count());
}

DarkTaker::Step DarkTaker::add(const FrameView &frame, double exposureSeconds)
{
    if (isDone())
        return Step::Passed;
    // Until an exposure's length has passed since the camera was asked for it, a frame may
    // still be one begun before.
    const auto length = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(exposure()));
    const bool settling = m_setAt && frame.time < *m_setAt + length;
    if (!sameExposure(exposureSeconds, exposure())) {
        if (!settling && ++m_otherExposures >= mostOtherExposures)
            return Step::NotKept;
        return Step::Passed;
    }
    m_otherExposures = 0;
    if (!m_settled || settling) {
        // This frame may have begun before the camera took the new exposure.
        m_settled = true;
        return Step::Passed;
    }
    if (!m_stacker.add(frame))
        return Step::Refused;
    if (m_stacker.count() < m_framesEach)
        return Step::Added;
    m_ready = m_stacker.result();
    ++m_index;
    m_settled = false;
    m_otherExposures = 0;
    m_stacker = DarkStacker(this->exposure());
    return Step::ExposureDone;
}

void DarkTaker::exposureSet(std::chrono::steady_clock::time_point when, double seconds)
{
    if (isDone())
        return;
    m_exposures[m_index] = seconds;
    m_stacker = DarkStacker(seconds);
    m_settled = false;
    m_setAt = when;
    m_otherExposures = 0;
}

DarkFrame DarkTaker::takeDark()
{
    DarkFrame dark = m_ready.value_or(DarkFrame{});
    m_ready.reset();
    return dark;
}

} // namespace voruna
