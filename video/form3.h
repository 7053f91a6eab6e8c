// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace voruna {

class Form2;

// The driver selection dialog: lists the installed capture drivers, preselects the connected
// one and connects the video feedback window's capture window to the chosen one. Shown
// modally, owned by `owner`; each opening is a fresh dialog.
class form3 : public QDialog {
    Q_OBJECT
public:
    explicit form3(Form2 &owner);

    void form3_Form_Load();

    QLabel *const lblDriver;
    QComboBox *const cmboSource;
    QPushButton *const cmdSelect;
    QPushButton *const cmdCancel;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void form3_cmdSelect_Click();
    void form3_cmdCancel_Click();

    Form2 &m_owner;
};

} // namespace voruna
