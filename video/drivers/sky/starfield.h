// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/drivers/sky/skysensor.h"

#include <QImage>
#include <QPointF>
#include <QSize>

#include <array>
#include <cstdint>
#include <vector>

namespace voruna {

// One picture of the simulated sky as the sky camera takes it.
struct SkyView {
    QSize size{640, 480};
    // Arcseconds per pixel.
    double plateScale = 2.0;
    // How far the sky has moved in the picture, in arcseconds: x along RA (+ = west), y along
    // Dec (+ = north). The camera is turned so that a move to the west shifts the stars to the
    // right and a move to the north shifts them up, the way the slew pad's arrows point.
    QPointF offset;
    // Degrees the camera is turned against RA and Dec: the sky, offset included, turns this
    // much counter-clockwise on the picture (at 90, a move west shifts the stars up).
    double angle = 0.0;
    // Exposure in milliseconds and gain (0 to 100; every 20 doubles the signal, 40 is unity).
    // Past one second the light's levels are divided by the seconds, as a camera of more bits
    // would be shown at 8: the sky keeps the level of one second while its noise falls. The
    // sensor's own dark signal is not divided, so it keeps growing with the exposure and a dark
    // of one exposure never matches a frame of another.
    int exposureMs = 100;
    int gain = 40;
    // The telescope is covered: no sky and no stars, only the sensor's bias, dark signal and
    // read noise, as when darks are taken.
    bool covered = false;
    // Grey: the same value in all three channels; otherwise a faint colour per star and a
    // slightly blue sky.
    bool grey = false;
    // Chooses the noise; the same seed gives the same picture.
    std::uint64_t noiseSeed = 1;
};

// The simulated sky: a bright guide star, at the middle of the picture when the offset is
// zero, and fainter stars around it, all blurred by seeing into Gaussian points (6 arcseconds
// across at half maximum), over a sky background with noise. The sky repeats every 4096
// arcseconds on both axes, so a long slew brings the same stars round again. The camera's sensor
// adds its dark signal and hot pixels (SkySensor).
class StarField {
public:
    StarField();

    // Renders `view` into `image` as RGB888 (reallocated only when the size or format differ).
    // Depends on nothing but `view`.
    void render(const SkyView &view, QImage *image) const;

    // Where the guide star's centre falls in the picture of `view`, in pixels, with pixel
    // (i, j) covering i - 0.5 to i + 0.5 across and j - 0.5 to j + 0.5 down.
    static QPointF guideStarPosition(const SkyView &view);

    static constexpr double seeingFwhm = 6.0;  // arcseconds
    static constexpr double tileSize = 4096.0; // arcseconds

private:
    struct Star {
        double ra = 0.0; // arcseconds from the guide star
        double dec = 0.0;
        double rate = 0.0; // electrons per second in all
        std::array<float, 3> colour{1.0f, 1.0f, 1.0f};
    };
    void fillBackground(const SkyView &view, QImage *image) const;
    void addHotPixels(const SkyView &view, QImage *image) const;
    void addStar(const Star &star, QPointF centre, double sigma, const SkyView &view,
                 QImage *image) const;

    SkySensor m_sensor;
    std::vector<Star> m_stars;
    std::array<float, 256> m_normal{}; // standard normal values at 256 evenly spaced quantiles
};

} // namespace voruna
