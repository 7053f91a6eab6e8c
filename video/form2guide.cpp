// SPDX-License-Identifier: GPL-3.0-or-later
// The video window's guide star: chosen, followed and shown over the picture.
#include "video/capturesubwindow.h"
#include "video/form2.h"
#include "video/previewwidget.h"

#include <QAction>

namespace voruna {

CaptureSubWindow *Form2::captureSubWindow() const
{
    // The capture layer's windows are all sub-windows of the client area.
    return dynamic_cast<CaptureSubWindow *>(m_captureWindow);
}

void Form2::guideFrame(const FrameView &frame)
{
    m_frameSize = QSize(frame.width, frame.height);
    m_guideStar.onFrame(frame);
    showGuideStar();
}

void Form2::pictureClicked(QPointF framePoint, Qt::KeyboardModifiers modifiers)
{
    CaptureSubWindow *sub = captureSubWindow();
    if (!sub)
        return;
    if (modifiers & Qt::ShiftModifier) {
        m_guideStar.putReticle(framePoint);
    } else {
        const FrameView frame = sub->newestLuminance();
        if (!frame.isValid())
            return;
        m_frameSize = QSize(frame.width, frame.height);
        m_guideStar.chooseNear(frame, framePoint);
    }
    showGuideStar();
}

void Form2::pickStar()
{
    CaptureSubWindow *sub = captureSubWindow();
    if (!sub)
        return;
    const FrameView frame = sub->newestLuminance();
    m_frameSize = QSize(frame.width, frame.height);
    m_guideStar.pickBest(frame);
    showGuideStar();
}

void Form2::reticleOnStar()
{
    if (const auto &star = m_guideStar.star())
        m_guideStar.putReticle(star->centre);
    else
        m_guideStar.centreReticle();
    showGuideStar();
}

void Form2::showGuideStar()
{
    if (CaptureSubWindow *sub = captureSubWindow())
        sub->picture()->setOverlay(m_guideStar.overlay(m_frameSize));
}

} // namespace voruna
