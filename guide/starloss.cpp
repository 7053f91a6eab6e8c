// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/starloss.h"

#include <QCoreApplication>

namespace voruna {

QString starLossText(StarLoss loss)
{
    switch (loss) {
    case StarLoss::None:
        return QString();
    case StarLoss::BadFrame:
        return QCoreApplication::translate("StarLoss", "The frame cannot be read as a picture");
    case StarLoss::NoStar:
        return QCoreApplication::translate("StarLoss", "No star in the search box");
    case StarLoss::HotPixel:
        return QCoreApplication::translate("StarLoss", "A hot pixel, not a star");
    case StarLoss::NearEdge:
        return QCoreApplication::translate("StarLoss", "The star is too close to the edge");
    case StarLoss::Saturated:
        return QCoreApplication::translate("StarLoss", "The star is saturated");
    case StarLoss::TooFaint:
        return QCoreApplication::translate("StarLoss", "The star is too faint");
    case StarLoss::BrightnessJump:
        return QCoreApplication::translate(
            "StarLoss", "The star's brightness changed suddenly (a cloud, or not the same star)");
    }
    return QString();
}

} // namespace voruna
