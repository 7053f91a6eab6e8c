// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturelayer.h"

#include <QDialog>

#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

namespace voruna {

class Form2;

// The driver selection dialog: lists the installed capture drivers, preselects the connected
// one and connects the video feedback window's capture window to the chosen one. Shown
// modally, owned by `owner`; each opening is a fresh dialog. Drivers that take long to find
// (cameras of network servers) join the list while it shows.
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
    void addDrivers(int place, const std::vector<DriverDescription> &drivers);
    void preselect();

    // What each entry of the list is, and where its batch goes among the others.
    struct Listed {
        int place = 0;
        DriverId driver;
    };

    Form2 &m_owner;
    std::vector<Listed> m_listed;
    // The connected driver when the dialog opened.
    std::optional<DriverCaps> m_connected;
    bool m_userChose = false;
};

} // namespace voruna
