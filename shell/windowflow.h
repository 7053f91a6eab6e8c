// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <memory>

namespace voruna {

class CaptureLayer;
class GuideSession;
class GuideWindow;
class SerialGuideOutput;
struct StarMeasurement;
class Form1;
class Form2;
class Form4;
class Form5;
class MessageBoxes;
class SerialControl;

// The owner of the program's windows. Each exists at most once and is reached by its name;
// showing a window that is not loaded loads it (its load handling runs to the end before it
// shows), unloading runs its unload handling and destroys it, and unloading a window that is
// not loaded does nothing. The devices are handed in and must outlive the flow.
class WindowFlow final : public QObject {
    Q_OBJECT
public:
    WindowFlow(SerialControl &serial, MessageBoxes &messages, CaptureLayer &capture,
               QObject *parent = nullptr);
    ~WindowFlow() override;

    // Program start: loads and shows the splash window, whose timer hands over to the console.
    void start();

    // The windows now loaded, or nullptr.
    Form5 *form5() const { return m_form5.get(); }
    Form1 *form1() const { return m_form1.get(); }
    Form4 *form4() const { return m_form4.get(); }
    Form2 *form2() const { return m_form2.get(); }

    // The guide loop over the console's port, living as long as the flow.
    GuideSession &guideSession() const { return *m_guideSession; }
    // The guiding window now open, or nullptr.
    GuideWindow *guideWindow() const { return m_guideWindow.get(); }

    // Unloads the video window and the console, as "Exit" does, without ending the program:
    // for the ways out that do not pass through "Exit" (the event loop ending, a signal).
    void unloadAll();
    // Stops a held slew and guiding now (the stops go out first), for an end of the process
    // that runs no more of the program.
    void releaseHeldSlew();

    void Form5_Timer1_Timer();
    void Form1_exitmenu_Click();
    void Form1_videomenu_Click();
    void Form1_aboutmenu_Click();
    void Form2_mnuguide_Click();
    void Form2_mnuclose_Click();
    void Form1_nightmenu_Click();
    void Form2_mnuNight_Click();
    void Form2_mnuGuiding_Click();

Q_SIGNALS:
    // "Exit" has unloaded the windows: the program ends now.
    void ended();

private:
    void showForm1();
    void showForm2();
    void showForm4();
    void unloadForm1();
    void unloadForm2();
    void unloadForm4();
    void Form2_closeBox();
    // Turns the night look on or off for every window, ticks both windows' items and remembers
    // it for the next start.
    void setNight(bool on);
    void connectGuiding();
    void showGuideWindow();
    void closeGuideWindow();
    // Tells the session (and the guiding window) which camera and port it guides with.
    void describeGuideSetup();
    void stopGuiding();
    void Form2_starMeasured(const StarMeasurement &star);

    SerialControl &m_serial;
    MessageBoxes &m_messages;
    CaptureLayer &m_capture;
    std::unique_ptr<Form5> m_form5;
    std::unique_ptr<Form1> m_form1;
    std::unique_ptr<Form4> m_form4;
    std::unique_ptr<Form2> m_form2;
    std::unique_ptr<SerialGuideOutput> m_guideOutput;
    std::unique_ptr<GuideSession> m_guideSession;
    std::unique_ptr<GuideWindow> m_guideWindow;
    bool m_handedOver = false;
};

} // namespace voruna
