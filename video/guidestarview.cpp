// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/guidestarview.h"

#include "guide/starfinder.h"

#include <QLineF>

#include <algorithm>

namespace voruna {

namespace {

StarMeasurement lostFor(StarLoss loss)
{
    StarMeasurement none;
    none.loss = loss;
    return none;
}

} // namespace

GuideStarView::GuideStarView(const StarSettings &settings)
    : m_settings(settings), m_tracker(settings)
{
}

void GuideStarView::onFrame(const FrameView &frame)
{
    if (!m_tracker.isFollowing())
        return;
    const StarMeasurement measured = m_tracker.track(frame);
    m_loss = measured.loss;
    if (measured.isUsable())
        m_star = measured;
}

bool GuideStarView::start(const StarMeasurement &star)
{
    m_loss = star.loss;
    if (!star.isUsable())
        return false;
    m_star = star;
    m_tracker.follow(star);
    return true;
}

bool GuideStarView::chooseNear(const FrameView &frame, QPointF near)
{
    return start(measureStar(frame, near, m_settings));
}

bool GuideStarView::pickBest(const FrameView &frame)
{
    if (!frame.isValid())
        return start(lostFor(StarLoss::BadFrame));
    const std::optional<StarMeasurement> best = findGuideStar(frame, m_settings);
    return start(best.value_or(lostFor(StarLoss::NoStar)));
}

void GuideStarView::stop()
{
    m_tracker.stop();
    m_star.reset();
    m_loss = StarLoss::None;
}

QPointF GuideStarView::reticle(QSize frameSize) const
{
    return m_reticle.value_or(QPointF((frameSize.width() - 1) / 2.0, (frameSize.height() - 1) / 2.0));
}

PictureOverlay GuideStarView::overlay(QSize frameSize) const
{
    PictureOverlay out;
    out.frameSize = frameSize;
    const QPointF aim = reticle(frameSize);
    if (m_reticleShown)
        out.reticle = aim;
    if (m_loss != StarLoss::None) {
        out.lost = true;
        out.lines << QStringLiteral("Star lost: %1").arg(starLossText(m_loss));
    }
    if (!m_star)
        return out;
    const StarMeasurement &star = *m_star;
    const double half = std::max(6.0, 1.5 * star.hfd);
    out.box = QRectF(star.centre - QPointF(half, half), QSizeF(2 * half, 2 * half));
    if (out.lost)
        return out;
    out.lines << QStringLiteral("SNR %1  HFD %2 px").arg(star.snr, 0, 'f', 1).arg(star.hfd, 0, 'f', 2);
    const double distance = QLineF(aim, star.centre).length();
    QString offset = QStringLiteral("Off reticle %1 px").arg(distance, 0, 'f', 2);
    if (m_plateScale > 0.0)
        offset += QStringLiteral(" = %1\"").arg(distance * m_plateScale, 0, 'f', 1);
    out.lines << offset;
    return out;
}

namespace {

// Rec. 601 weights in 256ths, as the eye sees a colour camera's channels.
template <typename Sample, int Step, int Red, int Green, int Blue>
void weighRows(const QImage &frame, QImage *grey)
{
    for (int y = 0; y < frame.height(); ++y) {
        const auto *in = reinterpret_cast<const Sample *>(frame.constScanLine(y));
        auto *out = reinterpret_cast<Sample *>(grey->scanLine(y));
        for (int x = 0; x < frame.width(); ++x, in += Step)
            out[x] = Sample((77u * in[Red] + 150u * in[Green] + 29u * in[Blue]) >> 8);
    }
}

// The colour frame's luminance into `store`, reused when it has the size; false for a format
// no camera sends.
bool weigh(const QImage &frame, QImage *store)
{
    switch (frame.format()) {
    case QImage::Format_RGB888:
    case QImage::Format_RGB32:
        // Qt's own conversion of 8-bit colour is as quick as the loop below, and spreads large
        // frames over threads.
        *store = frame.convertToFormat(QImage::Format_Grayscale8);
        return true;
    case QImage::Format_RGBX64:
        // Qt's goes through floating point here, ten times slower.
        if (store->size() != frame.size() || store->format() != QImage::Format_Grayscale16
            || !store->isDetached())
            *store = QImage(frame.size(), QImage::Format_Grayscale16);
        weighRows<quint16, 4, 0, 1, 2>(frame, store);
        return true;
    default:
        return false;
    }
}

} // namespace

FrameView luminanceView(const QImage &frame, QImage *store)
{
    const QImage *grey = &frame;
    if (frame.format() != QImage::Format_Grayscale8 && frame.format() != QImage::Format_Grayscale16) {
        if (!weigh(frame, store))
            return {};
        grey = store;
    }
    return {.width = grey->width(),
            .height = grey->height(),
            .stride = grey->bytesPerLine(),
            .bits = grey->format() == QImage::Format_Grayscale16 ? 16 : 8,
            .pixels = grey->constBits(),
            .time = {}};
}

} // namespace voruna
