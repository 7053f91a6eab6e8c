// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/calibration.h"

#include <cmath>
#include <numbers>

namespace voruna {

namespace {

double length(QPointF p)
{
    return std::hypot(p.x(), p.y());
}

double degreesOf(QPointF p)
{
    // Screen y grows downwards; angles are read with y up.
    return std::atan2(-p.y(), p.x()) * 180.0 / std::numbers::pi;
}

} // namespace

bool Calibration::isValid() const
{
    const double cross = west.x() * north.y() - west.y() * north.x();
    return raRate() > 0.0 && decRate() > 0.0 && std::isfinite(cross) &&
           std::abs(cross) > 1e-6 * raRate() * decRate();
}

double Calibration::raRate() const
{
    return length(west);
}

double Calibration::decRate() const
{
    return length(north);
}

double Calibration::rateOf(bool raAxis, bool positive) const
{
    if (raAxis)
        return positive || eastRate <= 0.0 ? raRate() : eastRate;
    return positive || southRate <= 0.0 ? decRate() : southRate;
}

double Calibration::raAngle() const
{
    return degreesOf(west);
}

double Calibration::axesAngle() const
{
    double a = std::abs(degreesOf(north) - degreesOf(west));
    if (a > 180.0)
        a = 360.0 - a;
    return a;
}

QPointF Calibration::toAxes(QPointF offset) const
{
    // offset = ra * unit(west) + dec * unit(north): solve the 2 x 2 system.
    const double wr = raRate(), nr = decRate();
    if (wr <= 0.0 || nr <= 0.0)
        return {std::nan(""), std::nan("")};
    const QPointF w = west / wr, n = north / nr;
    const double det = w.x() * n.y() - w.y() * n.x();
    if (std::abs(det) < 1e-9)
        return {std::nan(""), std::nan("")};
    const double ra = (offset.x() * n.y() - offset.y() * n.x()) / det;
    const double dec = (w.x() * offset.y() - w.y() * offset.x()) / det;
    return {ra, dec};
}

} // namespace voruna
