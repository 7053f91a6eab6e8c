// SPDX-License-Identifier: GPL-3.0-or-later
// The slew pad of the guide console: press to start a movement, release to stop it.
#include "shell/form1.h"
#include "shell/lamp.h"
#include "shell/slewbutton.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QWidget>

#include <utility>

namespace voruna {

void Form1::startSlew(Direction direction, Lamp *lamp)
{
    Q_EMIT linkWanted();
    const DirectionCommands commands = commandsFor(direction);
    // The adaptor may have gone (unplugged): the link lamp says so, the pad still follows the hand.
    if (MSComm1.setOutput(commands.start) != CommError::Ok)
        Shape1->setFillColor(colorFromRgbInt(kRed));
    lamp->setFillColor(colorFromRgbInt(kRed));
    Label1->setText(commands.text);
}

void Form1::stopSlew(Direction direction, Lamp *lamp)
{
    const DirectionCommands commands = commandsFor(direction);
    if (MSComm1.setOutput(commands.stop) != CommError::Ok)
        Shape1->setFillColor(colorFromRgbInt(kRed));
    lamp->setFillColor(colorFromRgbInt(kGrey));
    Label1->setText(QString());
}

void Form1::Form1_Command1_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)
{
    startSlew(Direction::North, Shape2);
}

void Form1::Form1_Command1_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)
{
    stopSlew(Direction::North, Shape2);
}

void Form1::Form1_Command2_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)
{
    startSlew(Direction::West, Shape3);
}

void Form1::Form1_Command2_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)
{
    stopSlew(Direction::West, Shape3);
}

void Form1::Form1_Command3_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)
{
    startSlew(Direction::East, Shape4);
}

void Form1::Form1_Command3_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)
{
    stopSlew(Direction::East, Shape4);
}

void Form1::Form1_Command4_MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)
{
    startSlew(Direction::South, Shape5);
}

void Form1::Form1_Command4_MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)
{
    stopSlew(Direction::South, Shape5);
}

void Form1::abandonHeldPad()
{
    for (SlewButton *button : {Command1, Command2, Command3, Command4})
        button->abandonHold();
}

SlewButton *Form1::buttonForKey(int key) const
{
    // As the pad's pictures point.
    switch (key) {
    case Qt::Key_Up:
        return Command1;
    case Qt::Key_Right:
        return Command2;
    case Qt::Key_Left:
        return Command3;
    case Qt::Key_Down:
        return Command4;
    default:
        return nullptr;
    }
}

void Form1::arrowKey(int key, bool pressed)
{
    SlewButton *button = buttonForKey(key);
    if (!button)
        return;
    if (!pressed) {
        button->keyUp();
        return;
    }
    // A hidden console slews nothing; a held key is let go as it hides.
    if (button->isKeyHeld() || !isVisible())
        return;
    // The other key of the axis lets go: its stop goes out before this key's start.
    const std::pair<SlewButton *, SlewButton *> axes[] = {{Command1, Command4},
                                                          {Command2, Command3}};
    for (const auto &[one, other] : axes) {
        if (button == one)
            other->keyUp();
        else if (button == other)
            one->keyUp();
    }
    button->keyDown();
}

void Form1::abandonKeyHolds()
{
    for (SlewButton *button : {Command1, Command2, Command3, Command4})
        button->keyUp();
}

bool Form1::consoleArrowKey(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != this)
        return false;
    if (event->type() == QEvent::FocusIn) {
        // The keyboard moved (Tab, a click, the menu bar): a key's release may not come here.
        abandonKeyHolds();
        return false;
    }
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (!buttonForKey(key->key()))
        return false;
    // The port list keeps its own arrow keys while it has the focus, and so does the menu bar
    // (also those they leave unused, which would come on to the window).
    const QWidget *focus = QApplication::focusWidget();
    if (focus && (focus == Combo1 || Combo1->isAncestorOf(focus) || focus == menuBar()))
        return false;
    if (!key->isAutoRepeat())
        arrowKey(key->key(), event->type() == QEvent::KeyPress);
    return true;
}

void Form1::portGone()
{
    // The serial control has closed the port of a device that went away (unplugged, hung up):
    // the pad goes with it, which also ends a hold (its lamp greys and the direction text
    // empties); "Connect" or a port change brings the link back.
    Shape1->setFillColor(colorFromRgbInt(kRed));
    for (SlewButton *b : {Command1, Command2, Command3, Command4})
        b->setEnabled(false);
    Q_EMIT portWentAway();
}

void Form1::describePorts()
{
    // Looked up as the list opens, so a device plugged in since shows.
    for (int i = 0; i < Combo1->count(); ++i)
        Combo1->setItemData(i, MSComm1.describePort(i + 1), Qt::ToolTipRole);
}

void Form1::hideEvent(QHideEvent *event)
{
    abandonHeldPad();
    QMainWindow::hideEvent(event);
}

void Form1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        abandonHeldPad();
    QMainWindow::changeEvent(event);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && watched == Combo1 && !Combo1->hasFocus())
        return true;
    if (consoleArrowKey(watched, event))
        return true;
    // A menu or other popup that opens takes the mouse, and the held button's release with it.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        const auto *widget = static_cast<QWidget *>(watched);
        if (widget->windowType() == Qt::Popup)
            abandonHeldPad();
        if (widget == Combo1->view()->window())
            describePorts();
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace voruna
