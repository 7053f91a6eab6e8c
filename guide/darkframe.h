// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/frameview.h"

#include <QPoint>
#include <QSize>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace voruna {

// A master dark: the mean of frames taken at one exposure with the telescope covered, at the
// levels and depth of the frames it was taken from (the luminance the star is measured in).
struct DarkFrame {
    QSize size;
    int bits = 8;
    double exposureSeconds = 0.0;
    int frames = 0;
    // Row by row, width() * height() values.
    std::vector<float> mean;

    bool isValid() const
    {
        return !size.isEmpty() && (bits == 8 || bits == 16) && frames > 0
               && mean.size() == size_t(size.width()) * size_t(size.height());
    }
    // Frames of this size and depth can take it.
    bool fits(const FrameView &frame) const
    {
        return isValid() && frame.width == size.width() && frame.height == size.height()
               && frame.bits == bits;
    }
};

// Whether two exposures are the same for a dark: within a thousandth (the cameras give their
// exposures in milliseconds or in hundreds of microseconds).
bool sameExposure(double a, double b);

// Adds frames into their mean. Frames of another size or depth than the first are refused.
class DarkStacker {
public:
    explicit DarkStacker(double exposureSeconds) : m_exposure(exposureSeconds) {}
    bool add(const FrameView &frame);
    int count() const { return m_count; }
    // The mean of the frames added; invalid when none was.
    DarkFrame result() const;

private:
    double m_exposure;
    QSize m_size;
    int m_bits = 8;
    int m_count = 0;
    std::vector<std::uint32_t> m_sum; // exact up to 65535 frames of 16 bits
};

// The pixels of a sensor that glow by themselves: in a master dark, those standing well above
// the dark's own level and its scatter (a robust one, which the hot pixels do not widen).
class HotPixelMap {
public:
    HotPixelMap() = default;
    static HotPixelMap fromDark(const DarkFrame &dark);

    QSize size() const { return m_size; }
    const std::vector<QPoint> &pixels() const { return m_pixels; }
    bool contains(QPoint pixel) const;
    bool isEmpty() const { return m_pixels.empty(); }

private:
    QSize m_size;
    std::vector<QPoint> m_pixels;  // in reading order
    std::vector<std::uint8_t> m_hot; // one flag a pixel
};

// Cleans frames before the star is measured: subtracts the dark of the frame's exposure (keeping
// the dark's median, so the sky stays above zero and its noise whole), then gives each hot
// pixel the median of its cool neighbours. Either part may be missing; without both a frame
// goes through as it is.
class DarkCorrection {
public:
    // The dark subtracted from frames it fits; nullopt subtracts none.
    void setDark(std::optional<DarkFrame> dark);
    void setHotPixels(HotPixelMap map);
    const std::optional<DarkFrame> &dark() const { return m_dark; }
    const HotPixelMap &hotPixels() const { return m_hot; }

    // `raw` cleaned, in a buffer of this object's valid until the next call with another frame
    // (the same frame asked again is not cleaned twice); `raw` itself when nothing applies.
    FrameView apply(const FrameView &raw);
    // Whether apply() changes frames like `raw`.
    bool appliesTo(const FrameView &raw) const;

private:
    std::optional<DarkFrame> m_dark;
    float m_pedestal = 0.0f;
    HotPixelMap m_hot;
    std::vector<std::uint8_t> m_store;
    const void *m_lastPixels = nullptr;
    FrameView m_last;
};

// Takes the darks of a list of exposures, a number of frames each: frames of the exposure now
// being taken are added, others are passed over, and so is each frame that may have begun before
// the camera took the exposure: the first after each change, and any that ended less than an
// exposure after the change was made.
class DarkTaker {
public:
    DarkTaker(std::vector<double> exposures, int framesEach);

    enum class Step {
        Passed,       // the frame was not used
        Added,        // one more frame of the current exposure
        ExposureDone, // the current exposure's dark is ready: takeDark(); the next one begins
        Refused,      // a frame of another size or depth: the camera changed under the darks
        NotKept,      // frame after frame of another exposure: the camera did not take this one
    };
    Step add(const FrameView &frame, double exposureSeconds);
    DarkFrame takeDark();
    // The camera was asked for the current exposure at `when` and tells `seconds` now (its own
    // rounding of what was asked).
    void exposureSet(std::chrono::steady_clock::time_point when, double seconds);

    bool isDone() const { return m_index >= m_exposures.size(); }
    // The exposure being taken now; 0 when done.
    double exposure() const;
    int framesEach() const { return m_framesEach; }
    int framesDone() const;
    int framesTotal() const { return m_framesEach * int(m_exposures.size()); }

private:
    std::vector<double> m_exposures;
    int m_framesEach;
    size_t m_index = 0;
    bool m_settled = false;
    std::optional<std::chrono::steady_clock::time_point> m_setAt;
    int m_otherExposures = 0;
    DarkStacker m_stacker;
    std::optional<DarkFrame> m_ready;
};

} // namespace voruna
