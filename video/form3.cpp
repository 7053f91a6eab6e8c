// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/form3.h"

#include "video/capture/capturelayer.h"
#include "video/form2.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

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
    connect(cmboSource, &QComboBox::activated, this, [this] { m_userChose = true; });
}

void form3::form3_Form_Load()
{
    DriverCaps caps;
    CaptureWindow *window = m_owner.captureWindow();
    if (window && window->driverGetCaps(&caps))
        m_connected = caps;
    // One look at the system per opening: each look opens every video node. The cameras of
    // network servers come as the servers answer.
    m_owner.captureLayer().listDrivers(
        this, [this](int place, const std::vector<DriverDescription> &drivers) {
            addDrivers(place, drivers);
        });
    preselect();
}

void form3::addDrivers(int place, const std::vector<DriverDescription> &drivers)
{
    // Whatever order the batches come in, the list keeps the order of the drivers' sources.
    auto row = std::find_if(m_listed.begin(), m_listed.end(),
                            [place](const Listed &listed) { return listed.place > place; });
    for (const DriverDescription &driver : drivers) {
        cmboSource->insertItem(int(row - m_listed.begin()), driver.name);
        row = m_listed.insert(row, {place, driver.id}) + 1;
    }
    preselect();
}

void form3::preselect()
{
    if (m_userChose)
        return;
    // The connected driver at its place in the list; nothing while another driver has that
    // place (drivers vanished, or others still to come before it).
    const int at = m_connected ? m_connected->deviceIndex : -1;
    const bool listed =
        at >= 0 && at < int(m_listed.size()) && m_listed[size_t(at)].driver == m_connected->driver;
    cmboSource->setCurrentIndex(listed ? at : -1);
}

void form3::form3_cmdSelect_Click()
{
    const int position = cmboSource->currentIndex();
    CaptureWindow *window = m_owner.captureWindow();
    if (position < 0 || position >= int(m_listed.size()) || !window) {
        accept();
        return;
    }
    const QString name = cmboSource->currentText();
    QPointer<form3> alive(this);
    // The driver the user chose, even if the system's list has changed since.
    const bool connected = window->driverConnect(m_listed[size_t(position)].driver, position);
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
