// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/starmeasure.h"

namespace voruna {

// Follows one star from frame to frame: each frame is searched around where the star was last
// measured well, and the star counts as lost in a frame that has no usable star there, or whose
// star's flux jumped against the running mean of the frames before (a cloud, an aeroplane, a
// hot pixel or another star taken for it). A lost frame moves nothing: the next frame is
// searched at the same place, against the same mean.
class StarTracker {
public:
    explicit StarTracker(const StarSettings &settings = {});

    // Starts following `star` (picked in a frame, or measured where the user clicked).
    void follow(const StarMeasurement &star);
    // Stops following; track() then finds nothing.
    void stop();
    bool isFollowing() const { return m_following; }
    // Where the star was last measured well.
    QPointF position() const { return m_position; }
    double meanFlux() const { return m_meanFlux; }
    // Forgets the running mean (after the exposure or gain changed): the next star sets it.
    void resetBrightness() { m_meanFlux = 0.0; }

    // Measures the star in `frame`; `loss` tells why it is lost in this frame, if it is.
    StarMeasurement track(const FrameView &frame);

private:
    StarSettings m_settings;
    QPointF m_position;
    double m_meanFlux = 0.0;
    bool m_following = false;
};

} // namespace voruna
