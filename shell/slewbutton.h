// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QToolButton>

namespace voruna {

// A press-and-hold picture button of the slew pad. Every mouse button presses it; the release
// comes back to it also outside it (the toolkit's implicit grab). Keyboard activation does not
// press it. When a hold is lost (the window hides or loses activation, a menu takes the mouse,
// the button is disabled) it reports the release itself, so a movement never outlives the hold.
// An arrow key holds it the same way through keyDown()/keyUp(); its reports carry no button.
class SlewButton final : public QToolButton {
    Q_OBJECT
public:
    explicit SlewButton(QWidget *parent = nullptr);

    bool isHeld() const { return m_held != Qt::NoButton || m_keyHeld; }
    bool isKeyHeld() const { return m_keyHeld; }
    // A key hold: the press reports once (again only after its release), the release once.
    void keyDown();
    void keyUp();
    // Ends a hold whose release will not arrive: reports one release if anything was held.
    void abandonHold();

Q_SIGNALS:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    Qt::MouseButtons m_held = Qt::NoButton;
    bool m_keyHeld = false;
};

} // namespace voruna
