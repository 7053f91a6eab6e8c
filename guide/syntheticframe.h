// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/frameview.h"

#include <QPointF>

#include <cstdint>
#include <vector>

namespace voruna {

// How a synthetic frame is exposed: the sky in electrons per pixel, the read noise in
// electrons, the bias and the conversion in ADU.
struct SyntheticExposure {
    double sky = 10.0;
    double readNoise = 5.0;
    double bias = 100.0;
    double adusPerElectron = 1.0;
    // Where the sensor clips, in ADU; 0 clips at the depth's top only.
    int clipLevel = 0;
    // Without noise every pixel takes its expected value, rounded.
    bool noise = true;
    std::uint64_t seed = 1;
};

// A camera frame drawn from stars of known place and brightness, for measuring the measurement:
// Gaussian stars integrated over each pixel's area, photon noise on star and sky, read noise,
// clipping at the depth's top. Rows carry a few bytes of padding, as many cameras' do.
class SyntheticFrame {
public:
    SyntheticFrame(int width, int height, int bits);

    // Adds a star of `fwhm` pixels at half maximum holding `electrons` in all.
    void addStar(QPointF centre, double fwhm, double electrons);
    // Sets one pixel to `adu` after every exposure, as a hot pixel does.
    void addHotPixel(QPoint where, int adu);
    // Removes the stars and hot pixels.
    void clear();
    // Draws the frame's pixels from the stars.
    void expose(const SyntheticExposure &exposure);

    // The pixels of the last exposure; valid while this object lives and is not exposed again.
    FrameView view() const;
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int m_width;
    int m_height;
    int m_bits;
    qsizetype m_stride;
    std::vector<double> m_electrons;
    std::vector<std::pair<QPoint, int>> m_hotPixels;
    std::vector<unsigned char> m_pixels;
};

} // namespace voruna
