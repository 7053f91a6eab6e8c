// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/fittovideo.h"

namespace voruna {

QSize fittedSize(QSize image, const FrameMetrics &metrics)
{
    return {image.width() + 2 * metrics.frameWidth,
            image.height() + metrics.captionHeight + 2 * metrics.frameHeight};
}

void fitToVideo(CaptureWindow *window)
{
    if (!window)
        return;
    const FrameMetrics metrics = window->frameMetrics();
    QSize image;
    if (!window->getStatus(&image))
        return;
    window->setWindowSize(fittedSize(image, metrics));
}

} // namespace voruna
