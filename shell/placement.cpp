// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/placement.h"

#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace voruna {

namespace {

constexpr int kFrameLookMs = 20;
constexpr int kFrameLooks = 50;

QMargins frameOf(const QWidget &window)
{
    const QWindow *handle = window.windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

// Looks for the frame every few milliseconds; the window system tells of it only after the
// window manager has taken the window in.
void lookForFrame(QWidget *window, QPoint placedAt, int looksLeft)
{
    if (!window->isVisible() || window->pos() != placedAt)
        return;
    if (!frameOf(*window).isNull()) {
        centreOnScreen(*window);
        return;
    }
    if (looksLeft > 0)
        QTimer::singleShot(kFrameLookMs, window, [window, placedAt, looksLeft] {
            lookForFrame(window, placedAt, looksLeft - 1);
        });
}

} // namespace

void centreOnScreen(QWidget &window)
{
    const QScreen *screen = window.screen();
    if (!screen)
        return;
    const QSize whole = window.size().grownBy(frameOf(window));
    const QRect area = screen->availableGeometry();
    // For a top-level window, move() places the frame's outer corner.
    window.move(area.x() + (area.width() - whole.width()) / 2,
                area.y() + (area.height() - whole.height()) / 2);
}

void recentreOnceFramed(QWidget &window)
{
    lookForFrame(&window, window.pos(), kFrameLooks);
}

} // namespace voruna
