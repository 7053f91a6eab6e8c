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

    // The device the port was opened on, empty while closed.
    QString openDevice() const;

private:
    CommError open();
    void close();
    void pollDevice();
    // Before a read: PortNotOpen, ReadFailed when the device failed since the last look (the
    // failure is then cleared), otherwise Ok with what has arrived taken in.
    CommError readyToRead();
    CommError lastFailure() const;

    Resolver m_resolve;
    QSerialPort *m_port;
    int m_portNumber = 1;
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
