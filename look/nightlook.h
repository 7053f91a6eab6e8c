// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>

namespace voruna {

// The application's dynamic property that is true while the night look is on: a window of any
// folder asks it (isNightLook()) when it draws colours of its own.
inline constexpr char kNightProperty[] = "vorunaNight";

// True while the night look is on.
bool isNightLook();

// Turns the night look on or off for the whole program: the application's palette (every
// widget gets its palette change and repaints) and kNightProperty. Off gives back the palette
// the program had before, exactly.
void setNightLook(bool on);

// Dark red on black, with no green or blue in any role or group.
QPalette nightPalette();

// A colour as the night look shows it: its brightest channel in red, alpha kept.
QColor nightColor(const QColor &day);

// `day` as the look now on shows it.
QColor lookColor(const QColor &day);

// A lamp's colour at night. A lamp's states differ by brightness instead of hue: green (found)
// is the brightest, red (failed, moving) clearly dimmer, grey (idle) dim, black stays black.
QColor nightLampColor(const QColor &day);

// A picture as the night look shows it: each pixel's brightest channel in red, alpha kept.
QImage nightImage(const QImage &day);

} // namespace voruna
