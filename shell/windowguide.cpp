// SPDX-License-Identifier: GPL-3.0-or-later
// The guide loop joined to the windows: the video window's stars feed it, the console's port
// carries its corrections, and every way out of a window stops it first.
#include "guide/guidesession.h"
#include "guide/window/guidewindow.h"
#include "link/serialcontrol.h"
#include "shell/windowflow.h"
#include "video/capturesubwindow.h"
#include "video/form2.h"

namespace voruna {

void WindowFlow::connectGuiding()
{
    Form2 *video = m_form2.get();
    GuideSession *session = m_guideSession.get();
    connect(video, &Form2::starMeasured, this, &WindowFlow::Form2_starMeasured);
    connect(video, &Form2::cameraLost, session, &GuideSession::cameraLost);
    connect(video, &Form2::mnuStopGuidingClicked, this, &WindowFlow::stopGuiding);
    connect(video, &Form2::mnuGuidingClicked, this, &WindowFlow::Form2_mnuGuiding_Click);
    connect(video, &Form2::cameraConnected, this, &WindowFlow::describeGuideSetup);
    // What the guide loop cannot do quietly shows on the video window's status line.
    connect(session, &GuideSession::note, video, &Form2::setStatusText);
}

void WindowFlow::Form2_mnuGuiding_Click()
{
    showGuideWindow();
}

void WindowFlow::Form2_starMeasured(const StarMeasurement &star)
{
    m_guideSession->onStar(star);
    if (!m_guideWindow)
        return;
    // A star lost for a moment keeps its place; one no longer followed has none.
    if (star.isUsable())
        m_guideWindow->setStarPosition(star.centre);
    else if (!m_form2 || !m_form2->guideStar().isFollowing())
        m_guideWindow->setStarPosition(std::nullopt);
}

void WindowFlow::stopGuiding()
{
    if (m_guideSession->isActive())
        m_guideSession->stop();
    else
        m_guideSession->stopCorrections();
}

void WindowFlow::describeGuideSetup()
{
    const CaptureSubWindow *sub =
        m_form2 ? dynamic_cast<CaptureSubWindow *>(m_form2->captureWindow()) : nullptr;
    DriverCaps caps;
    const bool connected = sub && sub->driverGetCaps(&caps) && sub->device();
    const QString key = connected ? caps.driver.key : QString();
    const int port = m_serial.portOpen() ? m_serial.commPort() : -1;
    m_guideSession->setCamera(key, port);
    if (!m_guideWindow)
        return;
    if (connected) {
        CameraFacts facts = sub->device()->cameraFacts();
        if (facts.name.isEmpty())
            facts.name = sub->windowTitle();
        m_guideWindow->setCamera(key, facts.name, facts, sub->device()->arcsecondsPerPixel());
    }
    m_guideWindow->setPort(port);
}

void WindowFlow::showGuideWindow()
{
    if (!m_guideWindow)
        m_guideWindow = std::make_unique<GuideWindow>(*m_guideSession);
    describeGuideSetup();
    if (m_form2) {
        const std::optional<StarMeasurement> &star = m_form2->guideStar().star();
        m_guideWindow->setStarPosition(m_form2->guideStar().isFollowing() && star
                                           ? std::optional<QPointF>(star->centre)
                                           : std::nullopt);
    }
    m_guideWindow->show();
    m_guideWindow->raise();
    m_guideWindow->activateWindow();
}

void WindowFlow::closeGuideWindow()
{
    // Closing it stops guiding, as the user's close does.
    if (m_guideWindow)
        m_guideWindow->close();
    m_guideWindow.reset();
}

} // namespace voruna
