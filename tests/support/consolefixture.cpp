// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/consolefixture.h"

#include "link/portmap.h"
#include "shell/lamp.h"
#include "shell/slewbutton.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace voruna::test {

ConsoleFixture::ConsoleFixture() : m_previousDir(QDir::currentPath())
{
    QDir::setCurrent(m_work.path());
    // Only the ports this test links: the machine's own serial ports stay out of it.
    const QString folder = portsFolder();
    serial =
        std::make_unique<QtSerialControl>([folder](int n) { return deviceForPort(n, folder, {}); });
}

ConsoleFixture::~ConsoleFixture()
{
    m_console.reset();
    serial.reset();
    QDir::setCurrent(m_previousDir);
}

QString ConsoleFixture::settingsPath() const
{
    return m_work.filePath(QStringLiteral("VRdata.nwx"));
}

void ConsoleFixture::writeSettings(const QByteArray &bytes) const
{
    QFile file(settingsPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray ConsoleFixture::settingsBytes() const
{
    QFile file(settingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

Form1 &ConsoleFixture::console()
{
    if (!m_console)
        m_console = std::make_unique<Form1>(*serial, messages);
    return *m_console;
}

void ConsoleFixture::load()
{
    console().Form1_Form_Load();
}

QColor lampColor(const Lamp *lamp)
{
    return lamp->property("fillColor").value<QColor>();
}

bool padEnabled(const Form1 &c)
{
    const bool all = c.Command1->isEnabled() && c.Command2->isEnabled() && c.Command3->isEnabled()
                     && c.Command4->isEnabled();
    const bool none = !c.Command1->isEnabled() && !c.Command2->isEnabled()
                      && !c.Command3->isEnabled() && !c.Command4->isEnabled();
    if (!all && !none)
        qWarning("the slew pad is half enabled");
    return all;
}

} // namespace voruna::test
