// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/recordingmessages.h"

#include <QWidget>

namespace voruna::test {

void RecordingMessages::show(QWidget *parent, Icon icon, const QString &text)
{
    shown.append({icon, text, parent && parent->isVisible()});
    if (whileShown)
        whileShown();
}

QStringList RecordingMessages::texts() const
{
    QStringList list;
    for (const Shown &s : shown)
        list << s.text;
    return list;
}

} // namespace voruna::test
