// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/settingsfile.h"

#include <QByteArray>
#include <QString>

namespace voruna {

// The file that remembers the program's look: display.conf in $XDG_CONFIG_HOME/voruna/, or in
// ~/.config/voruna/ when that is unset or empty.
QString displayFilePath();

// True only when the file's [display] section holds the line "night=true"; an empty, torn or
// damaged file reads as false, the day look.
bool parseNightLook(const QByteArray &content);

// The file's bytes: "[display]\nnight=true\n" or "...night=false\n".
QByteArray formatNightLook(bool night);

// The remembered look; false (day) when there is no readable file.
bool readNightLook(const QString &path = displayFilePath());

// Remembers the look, making the folder when it is missing; the file is replaced whole, so a
// failed save leaves the one before.
SaveResult saveNightLook(bool night, const QString &path = displayFilePath());

} // namespace voruna
