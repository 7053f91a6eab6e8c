// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace voruna {

// The windowing platform to ask Qt for, from the session's environment: "xcb;wayland" when the
// user chose none (QT_QPA_PLATFORM unset or empty) and a Wayland session also offers X11
// (WAYLAND_DISPLAY and DISPLAY both set), because only on X11 can a client centre its windows
// and keep one above the others; Wayland stays the fallback if X11 cannot be reached. An empty
// result leaves the choice to Qt.
QByteArray chooseQtPlatform(const QByteArray &qpaPlatform, const QByteArray &waylandDisplay,
                            const QByteArray &display);

// Applies chooseQtPlatform() to this process's environment; call before QApplication exists.
void choosePlatformFromEnvironment();

} // namespace voruna
