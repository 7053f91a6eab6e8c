// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/windowflow.h"

#include "guide/window/guidewindow.h"
#include "look/nightlook.h"
#include "settings/displayfile.h"
#include "shell/form1.h"
#include "shell/form4.h"
#include "shell/form5.h"
#include "shell/serialguideoutput.h"
#include "video/capture/capturelayer.h"
#include "video/form2.h"

#include <QAction>
#include <QTimer>
#include <QtDebug>

namespace voruna {

namespace {

void bringForward(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

WindowFlow::WindowFlow(SerialControl &serial, MessageBoxes &messages, CaptureLayer &capture,
                       QObject *parent)
    : QObject(parent)
    , m_serial(serial)
    , m_messages(messages)
    , m_capture(capture)
    , m_guideOutput(std::make_unique<SerialGuideOutput>(serial))
    , m_guideSession(std::make_unique<GuideSession>(*m_guideOutput))
{}

WindowFlow::~WindowFlow()
{
    // Whatever is still loaded when the program ends goes without running any handling; the
    // video window's notifications must not outlive it all the same. Guiding stops first,
    // while the port is still open.
    stopGuiding();
    closeGuideWindow();
    unloadForm2();
}

void WindowFlow::start()
{
    m_form5 = std::make_unique<Form5>();
    connect(m_form5->Timer1, &QTimer::timeout, this, &WindowFlow::Form5_Timer1_Timer);
    m_form5->show();
}

void WindowFlow::Form5_Timer1_Timer()
{
    // The console's load may wait in a message box while the timer could tick again: the
    // hand-over happens once.
    if (m_handedOver)
        return;
    m_handedOver = true;
    m_form5->Timer1->stop();
    m_form5->hide();
    showForm1();
}

void WindowFlow::showForm1()
{
    if (!m_form1) {
        m_form1 = std::make_unique<Form1>(m_serial, m_messages);
        // Queued: the console is destroyed by these, never from inside its own menu.
        connect(m_form1.get(), &Form1::exitmenuClicked, this, &WindowFlow::Form1_exitmenu_Click,
                Qt::QueuedConnection);
        connect(m_form1.get(), &Form1::closeBoxUsed, this, &WindowFlow::Form1_exitmenu_Click,
                Qt::QueuedConnection);
        connect(m_form1.get(), &Form1::videomenuClicked, this, &WindowFlow::Form1_videomenu_Click);
        connect(m_form1.get(), &Form1::aboutmenuClicked, this, &WindowFlow::Form1_aboutmenu_Click);
        // Direct: guiding's stops go out before the console's own bytes.
        connect(m_form1.get(), &Form1::linkWanted, this, &WindowFlow::stopGuiding);
        // Queued: the port the console opens for it is known once its handler has run.
        connect(m_form1.get(), &Form1::linkWanted, this, &WindowFlow::describeGuideSetup,
                Qt::QueuedConnection);
        connect(m_form1.get(), &Form1::portWentAway, m_guideSession.get(),
                &GuideSession::portLost);
        connect(m_form1.get(), &Form1::nightmenuClicked, this, &WindowFlow::Form1_nightmenu_Click);
        m_form1->nightmenu->setChecked(isNightLook());
        m_form1->Form1_Form_Load();
    }
    bringForward(m_form1.get());
}

void WindowFlow::showForm2()
{
    if (!m_form2) {
        m_form2 = std::make_unique<Form2>(m_capture);
        connect(m_form2.get(), &Form2::mnuguideClicked, this, &WindowFlow::Form2_mnuguide_Click);
        connect(m_form2.get(), &Form2::mnucloseClicked, this, &WindowFlow::Form2_mnuclose_Click,
                Qt::QueuedConnection);
        connect(m_form2.get(), &Form2::closeBoxUsed, this, &WindowFlow::Form2_closeBox,
                Qt::QueuedConnection);
        connectGuiding();
        // The arrow keys slew with the console's pad, which stops guiding first as a press does.
        connect(m_form2.get(), &Form2::arrowKey, this, [this](int key, bool pressed) {
            if (m_form1)
                m_form1->arrowKey(key, pressed);
        });
        connect(m_form2.get(), &Form2::arrowKeysLost, this, [this] {
            if (m_form1)
                m_form1->abandonKeyHolds();
        });
        connect(m_form2.get(), &Form2::mnuNightClicked, this, &WindowFlow::Form2_mnuNight_Click);
        m_form2->mnuNight->setChecked(isNightLook());
        m_form2->Form2_Form_Load();
    }
    bringForward(m_form2.get());
}

void WindowFlow::showForm4()
{
    if (!m_form4) {
        m_form4 = std::make_unique<Form4>();
        connect(m_form4.get(), &Form4::closeBoxUsed, this, &WindowFlow::unloadForm4,
                Qt::QueuedConnection);
    }
    bringForward(m_form4.get());
}

void WindowFlow::unloadForm1()
{
    // Destroying the console closes its port: guiding's stops go out on it first.
    stopGuiding();
    m_form1.reset();
}

void WindowFlow::unloadForm2()
{
    if (!m_form2)
        return;
    // No camera, no guiding.
    stopGuiding();
    m_form2->Form2_Form_Unload();
    m_form2.reset();
}

void WindowFlow::unloadForm4()
{
    m_form4.reset();
}

void WindowFlow::unloadAll()
{
    closeGuideWindow();
    unloadForm2();
    unloadForm1();
}

void WindowFlow::releaseHeldSlew()
{
    stopGuiding();
    if (m_form1)
        m_form1->abandonHeldPad();
}

void WindowFlow::Form1_exitmenu_Click()
{
    unloadAll();
    Q_EMIT ended();
}

void WindowFlow::Form1_videomenu_Click()
{
    showForm2();
}

void WindowFlow::Form1_aboutmenu_Click()
{
    showForm4();
}

void WindowFlow::Form2_mnuguide_Click()
{
    showForm1();
}

void WindowFlow::Form2_mnuclose_Click()
{
    unloadForm2();
    showForm1();
}

void WindowFlow::Form1_nightmenu_Click()
{
    setNight(m_form1->nightmenu->isChecked());
}

void WindowFlow::Form2_mnuNight_Click()
{
    setNight(m_form2->mnuNight->isChecked());
}

void WindowFlow::setNight(bool on)
{
    setNightLook(on);
    if (m_form1)
        m_form1->nightmenu->setChecked(on);
    if (m_form2)
        m_form2->mnuNight->setChecked(on);
    // The look is on screen either way; only the next start would not know it.
    if (saveNightLook(on) != SaveResult::Saved)
        qWarning("voruna: the night look could not be remembered in %s",
                 qPrintable(displayFilePath()));
}

void WindowFlow::Form2_closeBox()
{
    // The close box leaves the console where it is.
    unloadForm2();
}

} // namespace voruna
