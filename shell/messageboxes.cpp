// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/messageboxes.h"

#include <QMessageBox>

namespace voruna {

void ScreenMessageBoxes::show(QWidget *parent, Icon icon, const QString &text)
{
    QMessageBox box(icon == Icon::Information ? QMessageBox::Information : QMessageBox::Warning,
                    QStringLiteral("Voruna"), text, QMessageBox::Ok,
                    parent && parent->isVisible() ? parent : nullptr);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace voruna
