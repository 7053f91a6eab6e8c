// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointF>
#include <QStringList>

namespace voruna {

// How the adaptor's directions move the star in the picture: what calibration learns and the
// guide loop turns offsets with. Pixel (i, j) is centred at (i, j), y grows downwards.
struct Calibration {
    // Pixels per second the star moves in the picture while West, or North, is held.
    QPointF west;
    QPointF north;
    // Pixels per second of East and South, measured on the way back; 0 when not measured
    // (the West and North rates stand in for them).
    double eastRate = 0.0;
    double southRate = 0.0;
    // Arcseconds per pixel when calibration ran; 0 when unknown.
    double plateScale = 0.0;

    bool isValid() const;
    // Rates along the axes in pixels per second.
    double raRate() const;
    double decRate() const;
    double rateOf(bool raAxis, bool positive) const;
    // The angle of the west direction in the picture, degrees counter-clockwise from +x as
    // seen on the screen (y up), in (-180, 180].
    double raAngle() const;
    // The angle between the axes, degrees; 90 for square axes.
    double axesAngle() const;
    // Splits an offset in the picture into pixels along RA (x: + west) and Dec (y: + north).
    QPointF toAxes(QPointF offset) const;
};

} // namespace voruna
