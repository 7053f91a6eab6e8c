// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/qtserialcontrol.h"
#include "shell/form1.h"
#include "support/recordingmessages.h"
#include "support/tempconfighome.h"

#include <QTemporaryDir>

#include <memory>

namespace voruna::test {

// A guide console on the real serial control, with its own ports folder, its own working
// directory for the settings file, and recorded message boxes.
class ConsoleFixture {
public:
    ConsoleFixture();
    ~ConsoleFixture();

    QString configHome() const { return m_home.path(); }
    QString portsFolder() const { return m_home.portsFolder(); }
    QString workDir() const { return m_work.path(); }
    QString settingsPath() const;
    void writeSettings(const QByteArray &bytes) const;
    QByteArray settingsBytes() const;

    // A console, not yet loaded.
    Form1 &console();
    void load();
    // Destroys the console, as "Exit" does.
    void unload() { m_console.reset(); }

    RecordingMessages messages;
    std::unique_ptr<QtSerialControl> serial;

private:
    TempConfigHome m_home;
    QTemporaryDir m_work;
    QString m_previousDir;
    std::unique_ptr<Form1> m_console;
};

QColor lampColor(const Lamp *lamp);
bool padEnabled(const Form1 &console);

} // namespace voruna::test
