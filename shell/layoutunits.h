// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QRect>
#include <QStringList>

namespace voruna {

// Layout lengths are in twips; 15 twips make one pixel.
constexpr int twips(int value)
{
    return value / 15;
}
QRect twipsRect(int left, int top, int width, int height);

// A font of the layouts sized in pixels: the layout's points as they come out at 96 dots per
// inch, so texts keep their places in the pixel-sized boxes on any screen. A later family
// stands in where an earlier one is not installed.
QFont layoutFont(const QStringList &families, int pixels, bool bold = false, bool italic = false);
// Arial in pixels, Liberation Sans (Arial's metrics) standing in.
QFont arialPixels(int pixels, bool bold = false, bool italic = false);
// Arial in points, as the guide console sizes its texts.
QFont arialPoints(qreal points, bool bold = false);

// Arial 8.25, the small text of every window: in points, and in pixels at 96 dots per inch.
inline constexpr qreal kSmallTextPoints = 8.25;
inline constexpr int kSmallTextPixels = 11;

} // namespace voruna
