// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

namespace voruna {

// Modal message boxes with one OK button and the title "Voruna". show() returns when the user
// has closed the box. Tests replace this with a recorder.
class MessageBoxes {
public:
    enum class Icon { Information, Exclamation };
    virtual ~MessageBoxes() = default;
    virtual void show(QWidget *parent, Icon icon, const QString &text) = 0;
};

// The real boxes, on screen.
class ScreenMessageBoxes final : public MessageBoxes {
public:
    void show(QWidget *parent, Icon icon, const QString &text) override;
};

// The box that ScreenMessageBoxes::show() runs, built but not shown.
std::unique_ptr<QMessageBox> makeMessageBox(QWidget *parent, MessageBoxes::Icon icon,
                                            const QString &text);

} // namespace voruna
