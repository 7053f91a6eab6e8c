// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/platformchoice.h"

#include <QtGlobal>

namespace voruna {

QByteArray chooseQtPlatform(const QByteArray &qpaPlatform, const QByteArray &waylandDisplay,
                            const QByteArray &display)
{
    if (!qpaPlatform.isEmpty() || waylandDisplay.isEmpty() || display.isEmpty())
        return {};
    return QByteArrayLiteral("xcb;wayland");
}

void choosePlatformFromEnvironment()
{
    const QByteArray platform = chooseQtPlatform(qgetenv("QT_QPA_PLATFORM"),
                                                 qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

} // namespace voruna
