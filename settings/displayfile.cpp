// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/displayfile.h"

#include <QDir>
#include <QFileInfo>
#include <QList>

namespace voruna {

QString displayFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/voruna/display.conf");
}

bool parseNightLook(const QByteArray &content)
{
    bool inDisplay = false;
    bool night = false;
    for (QByteArray line : content.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inDisplay = line == "[display]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inDisplay || equals < 0 || line.left(equals).trimmed() != "night")
            continue;
        // The last word counts, as in any INI file; anything but "true" is the day.
        night = line.mid(equals + 1).trimmed() == "true";
    }
    return night;
}

QByteArray formatNightLook(bool night)
{
    return night ? QByteArrayLiteral("[display]\nnight=true\n")
                 : QByteArrayLiteral("[display]\nnight=false\n");
}

bool readNightLook(const QString &path)
{
    return parseNightLook(readSettingsBytes(path));
}

SaveResult saveNightLook(bool night, const QString &path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return SaveResult::Failed;
    return replaceSettingsFile(path, formatNightLook(night));
}

} // namespace voruna
