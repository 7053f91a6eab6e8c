// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shell/messageboxes.h"

#include <QList>
#include <QString>

#include <functional>

namespace voruna::test {

// Records every message box instead of showing it; whileShown runs as if the user took a
// while to press OK (timers may tick meanwhile).
class RecordingMessages final : public MessageBoxes {
public:
    struct Shown {
        Icon icon;
        QString text;
        bool parentVisible;
    };
    void show(QWidget *parent, Icon icon, const QString &text) override;

    QStringList texts() const;
    QList<Shown> shown;
    std::function<void()> whileShown;
};

} // namespace voruna::test
