// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/adaptorprotocol.h"
#include "link/serialcontrol.h"
#include "shell/messageboxes.h"

#include <QElapsedTimer>
#include <QMainWindow>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;

namespace voruna {

class Lamp;
class SlewButton;
class ConsoleSurface;

// The guide console: slew pad, direction indicator, port list, Connect and the link lamp.
// The serial control and the message boxes are handed in and must outlive the window.
class Form1 final : public QMainWindow {
    Q_OBJECT
public:
    Form1(SerialControl &serial, MessageBoxes &messages, QWidget *parent = nullptr);
    ~Form1() override;

    // Load handling: settings read, port list, saved selection, open sequence and probe.
    // The window owner runs it once per load, before the window shows.
    void Form1_Form_Load();

    void Form1_Combo1_Click();
    void Form1_Command5_Click();
    void Form1_savesettigsmenu_Click();

    void Form1_Command1_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);
    void Form1_Command1_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);
    void Form1_Command2_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);
    void Form1_Command2_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);
    void Form1_Command3_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);
    void Form1_Command3_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);
    void Form1_Command4_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);
    void Form1_Command4_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint);

    // Ends a hold whose release will not come: the held button's stop command goes out now.
    void abandonHeldPad();
    // The arrow keys hold the pad's arrows: a press starts the arrow's movement, its release
    // stops it, auto-repeat does nothing. A second key on the same axis stops the first and
    // then takes the axis over; keys on both axes move both. Keys from the console itself and
    // from the video window come here.
    void arrowKey(int key, bool pressed);
    // Ends the key holds whose releases will not come here (the keyboard went elsewhere).
    void abandonKeyHolds();

    // Controls, by their layout names.
    QLabel *Label1;
    Lamp *Shape1, *Shape2, *Shape3, *Shape4, *Shape5;
    SlewButton *Command1, *Command2, *Command3, *Command4;
    QLabel *Label2;
    QComboBox *Combo1;
    QPushButton *Command5;
    QLabel *Label3;
    SerialControl &MSComm1;
    QMenu *filenemu;
    QAction *savesettigsmenu, *bar1, *exitmenu, *videomenu, *aboutmenu;
    // After the layout's items: the night look, shared with the video window's.
    QAction *bar2, *nightmenu;

Q_SIGNALS:
    void exitmenuClicked();
    void videomenuClicked();
    void aboutmenuClicked();
    // The user turned the night look on or off; nightmenu is checked for on.
    void nightmenuClicked();
    // The user closed the console through its close box.
    void closeBoxUsed();
    // The user is about to use the port (a slew press, a port change, Connect): whatever else
    // moves the mount stops on this signal, before the console's own bytes go out.
    void linkWanted();
    // The port's device went away (unplugged, hung up) and the port is closed.
    void portWentAway();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void buildMenus();
    void connectHandlers();
    void fillPortList();
    void applySavedIndex(int savedIndex);
    void failurePath(const QString &message);
    void runProbeWait();
    void printCounter(int value);
    void startSlew(Direction direction, Lamp *lamp);
    SlewButton *buttonForKey(int key) const;
    // An arrow key within the console: slews, and never moves the focus. True when taken.
    bool consoleArrowKey(QObject *watched, QEvent *event);
    void stopSlew(Direction direction, Lamp *lamp);
    void portGone();
    void Combo1_selectionSettled();
    void Combo1_textTyped();
    void describePorts();

    MessageBoxes &m_messages;
    ConsoleSurface *m_surface;
    QElapsedTimer m_lastCounterPaint;
    bool m_shownBefore = false;
    // The selection that the last port change ran for.
    int m_changedForIndex = -1;
};

} // namespace voruna
