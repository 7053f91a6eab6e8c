// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/slewbutton.h"

#include <QMouseEvent>

namespace voruna {

SlewButton::SlewButton(QWidget *parent) : QToolButton(parent)
{
    setFocusPolicy(Qt::TabFocus);
}

void SlewButton::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    m_held |= event->button();
    setDown(true);
    Q_EMIT mouseDown(event->button(), event->modifiers(), event->position().toPoint());
}

void SlewButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A quick second press is a press like any other.
    mousePressEvent(event);
}

void SlewButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (!(m_held & event->button()))
        return; // its hold was already ended
    m_held &= ~event->button();
    if (!isHeld())
        setDown(false);
    Q_EMIT mouseUp(event->button(), event->modifiers(), event->position().toPoint());
}

void SlewButton::mouseMoveEvent(QMouseEvent *event)
{
    // The button stays down while held, wherever the pointer goes.
    event->accept();
}

void SlewButton::keyDown()
{
    if (m_keyHeld || !isEnabled())
        return;
    m_keyHeld = true;
    setDown(true);
    Q_EMIT mouseDown(Qt::NoButton, Qt::NoModifier, QPoint());
}

void SlewButton::keyUp()
{
    if (!m_keyHeld)
        return;
    m_keyHeld = false;
    if (!isHeld())
        setDown(false);
    Q_EMIT mouseUp(Qt::NoButton, Qt::NoModifier, QPoint());
}

void SlewButton::abandonHold()
{
    if (!isHeld())
        return;
    m_held = Qt::NoButton;
    m_keyHeld = false;
    setDown(false);
    Q_EMIT mouseUp(Qt::NoButton, Qt::NoModifier, QPoint());
}

void SlewButton::changeEvent(QEvent *event)
{
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        abandonHold();
}

} // namespace voruna
