// SPDX-License-Identifier: GPL-3.0-or-later
// The video window's guide star: chosen, followed and shown over the picture.
#include "video/capturesubwindow.h"
#include "video/form2.h"
#include "video/previewwidget.h"

#include <QAction>
#include <QMenu>

namespace voruna {

CaptureSubWindow *Form2::captureSubWindow() const
{
    // The capture layer's windows are all sub-windows of the client area.
    return dynamic_cast<CaptureSubWindow *>(m_captureWindow);
}

void Form2::buildGuidingMenus()
{
    // Guiding comes after the guide star's commands, with keys none of the window's use.
    mnuLine4->setSeparator(true);
    mnuGuiding->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    mnuStopGuiding->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    mnuControl->addActions({mnuLine4, mnuGuiding, mnuStopGuiding});
    connect(mnuGuiding, &QAction::triggered, this, &Form2::mnuGuidingClicked);
    connect(mnuStopGuiding, &QAction::triggered, this, &Form2::mnuStopGuidingClicked);
}

void Form2::guideFrame(const FrameView &frame)
{
    m_frameSize = QSize(frame.width, frame.height);
    m_guideStar.onFrame(frame);
    // Drawn only when the picture is: with the preview off the overlay stays with it.
    if (mnuPreview->isChecked())
        showGuideStar();
    StarMeasurement measured;
    if (!m_guideStar.isFollowing())
        measured.loss = StarLoss::NoStar;
    else if (m_guideStar.loss() != StarLoss::None)
        measured.loss = m_guideStar.loss();
    else if (m_guideStar.star())
        measured = *m_guideStar.star();
    Q_EMIT starMeasured(measured);
}

void Form2::pictureClicked(QPointF framePoint, Qt::KeyboardModifiers modifiers)
{
    CaptureSubWindow *sub = captureSubWindow();
    if (!sub)
        return;
    if (modifiers & Qt::ShiftModifier) {
        m_guideStar.putReticle(framePoint);
    } else {
        const FrameView frame = cleanFrame(sub->newestLuminance());
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
    const FrameView frame = cleanFrame(sub->newestLuminance());
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
