// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/messageboxes.h"

#include <QMessageBox>

namespace voruna {

std::unique_ptr<QMessageBox> makeMessageBox(QWidget *parent, MessageBoxes::Icon icon,
                                            const QString &text)
{
    auto box = std::make_unique<QMessageBox>(
        icon == MessageBoxes::Icon::Information ? QMessageBox::Information : QMessageBox::Warning,
        QStringLiteral("Voruna"), text, QMessageBox::Ok,
        parent && parent->isVisible() ? parent : nullptr);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

void ScreenMessageBoxes::show(QWidget *parent, Icon icon, const QString &text)
{
    makeMessageBox(parent, icon, text)->exec();
}

} // namespace voruna
