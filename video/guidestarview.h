// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/startracker.h"

#include <QImage>
#include <QRectF>
#include <QStringList>

#include <optional>

namespace voruna {

// What the video window draws over the picture, in the camera frame's pixels (pixel (i, j)
// centred at (i, j)): the box around the guide star, the reticle and the star's numbers.
struct PictureOverlay {
    QSize frameSize;
    std::optional<QRectF> box;
    std::optional<QPointF> reticle;
    QStringList lines;
    // The star is lost: the lines say why.
    bool lost = false;
};

// The guide star of the video window: chosen by a click or picked in the frame, then followed
// from frame to frame. Keeps its last measurement, why it is lost, and the reticle.
class GuideStarView {
public:
    explicit GuideStarView(const StarSettings &settings = {});

    // A new frame's luminance; follows the star in it. The view is read only during the call.
    void onFrame(const FrameView &frame);
    // Takes the star nearest `near` in `frame`; false (and the reason in lossText()) when there
    // is none fit to guide on there.
    bool chooseNear(const FrameView &frame, QPointF near);
    // Takes the best star of `frame`; false when it has none.
    bool pickBest(const FrameView &frame);
    void stop();
    bool isFollowing() const { return m_tracker.isFollowing(); }
    const std::optional<StarMeasurement> &star() const { return m_star; }
    StarLoss loss() const { return m_loss; }

    // The reticle sits at the frame's centre until it is put somewhere.
    void putReticle(QPointF where) { m_reticle = where; }
    void centreReticle() { m_reticle.reset(); }
    QPointF reticle(QSize frameSize) const;
    void setReticleShown(bool shown) { m_reticleShown = shown; }
    bool isReticleShown() const { return m_reticleShown; }
    // Arcseconds a pixel covers; 0 when the camera does not know.
    void setPlateScale(double arcsecondsPerPixel) { m_plateScale = arcsecondsPerPixel; }

    PictureOverlay overlay(QSize frameSize) const;

private:
    bool start(const StarMeasurement &star);

    StarSettings m_settings;
    StarTracker m_tracker;
    std::optional<StarMeasurement> m_star;
    StarLoss m_loss = StarLoss::None;
    std::optional<QPointF> m_reticle;
    bool m_reticleShown = true;
    double m_plateScale = 0.0;
};

// The luminance of `frame` (a ShownFrame's converted frame) at its own depth, borrowed from it
// when it is grey already, else converted into `store`. An invalid view for other formats.
FrameView luminanceView(const QImage &frame, QImage *store);

} // namespace voruna
