// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/form3.h"

#include "video/capturelayer.h"
#include "video/form2.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

namespace voruna {

form3::form3(Form2 &owner)
    : QDialog(&owner, Qt::Tool)
    , lblDriver(new QLabel(tr("Installed Drivers:"), this))
    , cmboSource(new QComboBox(this))
    , cmdSelect(new QPushButton(tr("Select"), this))
    , cmdCancel(new QPushButton(tr("Cancel"), this))
    , m_owner(owner)
{
    setObjectName(QStringLiteral("form3"));
    setWindowTitle(tr("Video Source"));
    // Client area 4155 x 1080 twips; boxes as laid out, in pixels.
    setFixedSize(277, 72);
    lblDriver->setObjectName(QStringLiteral("lblDriver"));
    lblDriver->setGeometry(8, 8, 273, 17);
    lblDriver->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    cmboSource->setObjectName(QStringLiteral("cmboSource"));
    cmboSource->setGeometry(8, 24, 265, 21);
    cmboSource->setToolTip(tr("List of available installed drivers"));
    cmdSelect->setObjectName(QStringLiteral("cmdSelect"));
    cmdSelect->setGeometry(144, 48, 60, 20);
    cmdSelect->setToolTip(tr("Select this driver"));
    cmdSelect->setDefault(true);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(208, 48, 60, 20);
    cmdCancel->setToolTip(tr("Cancel - Make no change"));
    setTabOrder(cmboSource, cmdSelect);
    setTabOrder(cmdSelect, cmdCancel);
    cmboSource->setFocus();
    connect(cmdSelect, &QPushButton::clicked, this, &form3::form3_cmdSelect_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &form3::form3_cmdCancel_Click);
}

void form3::form3_Form_Load()
{
    // One look at the system per opening: each look opens every video node.
    for (const DriverDescription &driver : m_owner.captureLayer().drivers())
        cmboSource->addItem(driver.name);
    // A connected index past the end of the list (drivers vanished) preselects nothing.
    DriverCaps caps;
    CaptureWindow *window = m_owner.captureWindow();
    const bool connected = window && window->driverGetCaps(&caps);
    const bool listed =
        connected && caps.deviceIndex >= 0 && caps.deviceIndex < cmboSource->count();
    cmboSource->setCurrentIndex(listed ? caps.deviceIndex : -1);
}

void form3::form3_cmdSelect_Click()
{
    const int position = cmboSource->currentIndex();
    CaptureWindow *window = m_owner.captureWindow();
    if (position < 0 || !window) {
        accept();
        return;
    }
    const QString name = cmboSource->currentText();
    QPointer<form3> alive(this);
    const bool connected = window->driverConnect(position);
    if (!alive)
        return;
    if (connected) {
        window->setWindowText(name);
        m_owner.driverConnected();
    }
    accept();
}

void form3::form3_cmdCancel_Click()
{
    reject();
}

void form3::keyPressEvent(QKeyEvent *event)
{
    // Esc is bound to no button here: it neither selects nor cancels.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace voruna
