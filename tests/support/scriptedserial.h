// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/serialcontrol.h"

#include <QList>
#include <QSet>

namespace voruna::test {

// A serial control whose device is scripted: which port numbers exist, which are busy, what
// the device answers and when it arrives. It records every byte written.
class ScriptedSerial final : public SerialControl {
public:
    CommError setCommPort(int portNumber) override;
    int commPort() const override { return m_port; }
    CommError setSettings(const QString &settings) override;
    bool portOpen() const override { return m_open; }
    CommError setPortOpen(bool open) override;
    CommError setOutput(const QByteArray &bytes) override;
    CommError input(QByteArray &received) override;
    CommError inBufferCount(int &count) override;
    QString describePort(int portNumber) const override
    {
        return QStringLiteral("COM%1").arg(portNumber);
    }

    // The device goes away as the real control reports it, from the event loop's side.
    void reportDeviceGone() const { reportGone(); }

    QSet<int> existing{1, 2, 3};
    QSet<int> busy;
    QByteArray answerToProbe = "^";
    // Chunk k arrives just after the k-th read has returned (between a read and the buffer test).
    QList<QByteArray> afterRead;
    // Every read finds this much more waiting: a device that never stops sending.
    QByteArray flood;
    bool unplugged = false;

    QByteArray written;
    QString settings;
    int reads = 0;
    int opens = 0;

private:
    int m_port = 1;
    bool m_open = false;
    QByteArray m_buffer;
};

} // namespace voruna::test
