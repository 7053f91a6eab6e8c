// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/adaptorprotocol.h"
#include "link/serialcontrol.h"

#include <QObject>
#include <QSerialPort>

#include <functional>

namespace voruna {

// The serial control on a real device through QSerialPort. Port numbers map to devices with
// deviceForPort(); the resolver can be replaced for tests.
class QtSerialControl final : public QObject, public SerialControl {
    Q_OBJECT
public:
    using Resolver = std::function<QString(int portNumber)>;
    explicit QtSerialControl(QObject *parent = nullptr);
    QtSerialControl(Resolver resolver, QObject *parent = nullptr);
    ~QtSerialControl() override;

    CommError setCommPort(int portNumber) override;
    int commPort() const override { return m_portNumber; }
    CommError setSettings(const QString &settings) override;
    bool portOpen() const override;
    CommError setPortOpen(bool open) override;
    CommError setOutput(const QByteArray &bytes) override;
    CommError input(QByteArray &received) override;
    CommError inBufferCount(int &count) override;
    QString describePort(int portNumber) const override;

    // The device the port was opened on, empty while closed.
    QString openDevice() const;

private:
    CommError open();
    void close();
    // The device reported that it is gone: the port closes now, discarding what it holds, and
    // the gone handler is told from the event loop.
    void onPortError(QSerialPort::SerialPortError error);
    void letGo();
    void pollDevice();
    // Before a read: PortNotOpen, ReadFailed when the device failed since the last look (the
    // failure is then cleared), otherwise Ok with what has arrived taken in.
    CommError readyToRead();
    CommError lastFailure() const;

    Resolver m_resolve;
    QSerialPort *m_port;
    int m_portNumber = 1;
    // Counts the opens, so that a device gone from one open never closes a later one.
    quint64 m_openCount = 0;
    // The open whose device went away, 0 for none.
    quint64 m_goneAt = 0;
    QString m_settings = QString::fromLatin1(kLineSettings);
};

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Parses "baud,parity,data,stop" such as "9600,n,8,1"; false when the text is not of that form.
bool parseLineSettings(const QString &text, LineSettings &out);

} // namespace voruna
