// SPDX-License-Identifier: GPL-3.0-or-later
// The arrow keys in the video window: handed on whole (press, release), never used here.
#include "video/form2.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>

namespace voruna {

namespace {

bool isArrowKey(int key)
{
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right;
}

} // namespace

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != this)
        return QMainWindow::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (type == QEvent::FocusIn) {
        // The keyboard moved within the window (a click, Tab, the menu bar).
        Q_EMIT arrowKeysLost();
    } else if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        // Before the picture's scroll area would scroll with them.
        // The menu bar, when the keyboard works it, keeps them.
        const auto *key = static_cast<QKeyEvent *>(event);
        if (isArrowKey(key->key()) && QApplication::focusWidget() != menuBar()) {
            if (!key->isAutoRepeat())
                Q_EMIT arrowKey(key->key(), type == QEvent::KeyPress);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form2::hideEvent(QHideEvent *event)
{
    Q_EMIT arrowKeysLost();
    QMainWindow::hideEvent(event);
}

} // namespace voruna
