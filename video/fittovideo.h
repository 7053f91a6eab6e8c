// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturelayer.h"

namespace voruna {

// The outer size that gives a picture area of `image` inside a window with the decoration
// `metrics`: width + 2 x frame width, height + caption + 2 x frame height.
QSize fittedSize(QSize image, const FrameMetrics &metrics);

// Sizes `window` to its current image plus caption and frame; position and stacking stay.
// Leaves the size alone when the image size cannot be read (no driver) or `window` is null.
void fitToVideo(CaptureWindow *window);

} // namespace voruna
