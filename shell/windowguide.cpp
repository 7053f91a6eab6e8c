// SPDX-License-Identifier: GPL-3.0-or-later
// The guide loop joined to the windows: the video window's stars feed it, the console's port
// carries its corrections, and every way out of a window stops it first.
#include "guide/guidesession.h"
#include "link/serialcontrol.h"
#include "shell/windowflow.h"
#include "video/capturesubwindow.h"
#include "video/form2.h"

#include <QStatusBar>
#include <QWidget>

namespace voruna {

void WindowFlow::connectGuiding()
{
    Form2 *video = m_form2.get();
    GuideSession *session = m_guideSession.get();
    connect(video, &Form2::starMeasured, session, &GuideSession::onStar);
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
    const bool connected = sub && sub->driverGetCaps(&caps);
    const QString key = connected ? caps.driver.key : QString();
    m_guideSession->setCamera(key, m_serial.commPort());
}

void WindowFlow::showGuideWindow()
{
    describeGuideSetup();
}

void WindowFlow::closeGuideWindow()
{
    m_guideWindow.reset();
}

} // namespace voruna
