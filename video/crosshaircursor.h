// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCursor>
#include <QImage>

namespace voruna {

// The window's 32 x 32 cross-hair: black arms of two three-pixel bars each, split by a clear
// two-pixel slit through the centre, so the hot spot (15, 15) stays clear. ARGB32, every other
// pixel transparent. In the night look the arms are dark red instead of black, so that they
// show over the red picture.
QImage crossHairImage();

// The cross-hair as a mouse pointer with its hot spot at (15, 15).
QCursor crossHairCursor();

} // namespace voruna
