// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/qtserialcontrol.h"

#include "link/portmap.h"

#include <QSerialPortInfo>

#include <cerrno>

namespace voruna {

QString describe(CommError error)
{
    switch (error) {
    case CommError::Ok:
        return QStringLiteral("no error");
    case CommError::NoSuchPort:
        return QStringLiteral("no such port");
    case CommError::PortBusy:
        return QStringLiteral("port in use");
    case CommError::PortUnusable:
        return QStringLiteral("port cannot be used");
    case CommError::BadSettings:
        return QStringLiteral("invalid line settings");
    case CommError::PortAlreadyOpen:
        return QStringLiteral("port already open");
    case CommError::PortNotOpen:
        return QStringLiteral("port not open");
    case CommError::WriteFailed:
        return QStringLiteral("write failed");
    case CommError::ReadFailed:
        return QStringLiteral("read failed");
    }
    return QStringLiteral("unknown error");
}

namespace {

template<typename T, size_t N>
bool lookUp(const std::pair<const char *, T> (&table)[N], const QString &key, T &out)
{
    for (const auto &[name, value] : table) {
        if (key == QLatin1String(name)) {
            out = value;
            return true;
        }
    }
    return false;
}

const std::pair<const char *, QSerialPort::Parity> kParities[] = {
    {"n", QSerialPort::NoParity},   {"e", QSerialPort::EvenParity},  {"o", QSerialPort::OddParity},
    {"m", QSerialPort::MarkParity}, {"s", QSerialPort::SpaceParity},
};
const std::pair<const char *, QSerialPort::DataBits> kDataBits[] = {
    {"5", QSerialPort::Data5},
    {"6", QSerialPort::Data6},
    {"7", QSerialPort::Data7},
    {"8", QSerialPort::Data8},
};
const std::pair<const char *, QSerialPort::StopBits> kStopBits[] = {
    {"1", QSerialPort::OneStop},
    {"1.5", QSerialPort::OneAndHalfStop},
    {"2", QSerialPort::TwoStop},
};

// What the port holds of the device's input between reads. A device that keeps talking (a GPS,
// a wrong adaptor) then waits in the driver instead of growing the program; the reply reader
// takes at most 4096 bytes per probe anyway.
constexpr qint64 kReadBufferBytes = 4096;

// An unplugged USB adaptor fails with ENODEV or EIO, a hung-up line with EIO; Qt reports some
// of them as a resource error and the others as a plain read or write error.
bool deviceIsGone(QSerialPort::SerialPortError error, int systemError)
{
    if (error == QSerialPort::ResourceError)
        return true;
    const bool io = error == QSerialPort::ReadError || error == QSerialPort::WriteError;
    return io && (systemError == EIO || systemError == ENODEV || systemError == ENXIO);
}

} // namespace

bool parseLineSettings(const QString &text, LineSettings &out)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    LineSettings s;
    s.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0)
        return false;
    if (!lookUp(kParities, parts[1].trimmed().toLower(), s.parity)
        || !lookUp(kDataBits, parts[2].trimmed(), s.dataBits)
        || !lookUp(kStopBits, parts[3].trimmed(), s.stopBits))
        return false;
    out = s;
    return true;
}

QtSerialControl::QtSerialControl(QObject *parent)
    : QtSerialControl([](int n) { return deviceForPort(n); }, parent)
{}

QtSerialControl::QtSerialControl(Resolver resolver, QObject *parent)
    : QObject(parent)
    , m_resolve(std::move(resolver))
    , m_port(new QSerialPort(this))
{
    m_port->setReadBufferSize(kReadBufferBytes);
    connect(m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onPortError);
}

QtSerialControl::~QtSerialControl()
{
    close();
}

CommError QtSerialControl::setCommPort(int portNumber)
{
    if (m_port->isOpen())
        return CommError::PortAlreadyOpen;
    if (portNumber < 1 || portNumber > kPortCount)
        return CommError::NoSuchPort;
    m_portNumber = portNumber;
    return CommError::Ok;
}

CommError QtSerialControl::setSettings(const QString &settings)
{
    LineSettings parsed;
    if (!parseLineSettings(settings, parsed))
        return CommError::BadSettings;
    m_settings = settings;
    return CommError::Ok;
}

bool QtSerialControl::portOpen() const
{
    return m_port->isOpen();
}

CommError QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        close();
        return CommError::Ok;
    }
    if (m_port->isOpen())
        return CommError::Ok;
    return this->open();
}

CommError QtSerialControl::open()
{
    const QString device = m_resolve(m_portNumber);
    if (device.isEmpty())
        return CommError::NoSuchPort;
    LineSettings line;
    parseLineSettings(m_settings, line);

    m_port->setPortName(device);
    ++m_openCount;
    if (!m_port->open(QIODevice::ReadWrite)) {
        const auto error = m_port->error();
        m_port->clearError();
        if (error == QSerialPort::PermissionError)
            return CommError::PortBusy; // Qt reports a held lock as a permission error
        if (error == QSerialPort::DeviceNotFoundError)
            return CommError::NoSuchPort;
        return CommError::PortUnusable;
    }
    const bool lineSet = m_port->setBaudRate(line.baud) && m_port->setParity(line.parity)
                         && m_port->setDataBits(line.dataBits) && m_port->setStopBits(line.stopBits)
                         && m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!lineSet) {
        close();
        return CommError::PortUnusable;
    }
    // A pseudo-terminal has no modem lines: that is not a reason to refuse the port.
    m_port->setDataTerminalReady(true);
    m_port->setRequestToSend(false);
    m_port->clearError();
    // Stale input from before the open goes; output queued by the last use of the same device
    // is still on its way.
    m_port->clear(QSerialPort::Input);
    return CommError::Ok;
}

void QtSerialControl::close()
{
    if (m_port->isOpen()) {
        // Unread input goes; output still on its way (a stop command just written before a port
        // change) is left to the driver to send: flushing it could leave the telescope moving.
        m_port->clear(QSerialPort::Input);
        m_port->close();
    }
    m_port->clearError();
}

void QtSerialControl::onPortError(QSerialPort::SerialPortError error)
{
    const int systemError = errno;
    if (!m_port->isOpen() || m_goneAt == m_openCount || !deviceIsGone(error, systemError))
        return;
    // Not closed here: the port is still inside its own notification. Until the queued call
    // runs, its read notifier is off (Qt stops it on such an error) and nothing else retries.
    m_goneAt = m_openCount;
    QMetaObject::invokeMethod(
        this,
        [this, openCount = m_openCount] {
            if (openCount == m_openCount)
                letGo();
        },
        Qt::QueuedConnection);
}

void QtSerialControl::letGo()
{
    if (m_port->isOpen()) {
        // Nothing can reach the device any more: output still held would only be retried for
        // ever.
        m_port->clear(QSerialPort::AllDirections);
        m_port->close();
        m_port->clearError();
    }
    reportGone();
}

QString QtSerialControl::describePort(int portNumber) const
{
    const QString device = m_resolve(portNumber);
    if (device.isEmpty())
        return QStringLiteral("no device");
    const QSerialPortInfo info(device);
    QString text = device;
    if (!info.description().isEmpty())
        text += QStringLiteral(" \u2014 ") + info.description();
    if (!info.serialNumber().isEmpty())
        text += QStringLiteral(", serial ") + info.serialNumber();
    return text;
}

QString QtSerialControl::openDevice() const
{
    return m_port->isOpen() ? m_port->portName() : QString();
}

void QtSerialControl::pollDevice()
{
    // No event loop runs between the handler's steps, so look at the device ourselves.
    // A timeout only means that nothing is waiting.
    m_port->waitForReadyRead(0);
    if (m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
}

CommError QtSerialControl::setOutput(const QByteArray &bytes)
{
    if (!m_port->isOpen())
        return CommError::PortNotOpen;
    m_port->clearError();
    if (m_port->write(bytes) != bytes.size()) {
        m_port->clearError();
        return CommError::WriteFailed;
    }
    // No event loop runs before the handler's next step: hand the bytes to the device now.
    m_port->flush();
    if (m_port->error() == QSerialPort::NoError && m_port->bytesToWrite() > 0)
        m_port->waitForBytesWritten(50);
    const auto error = m_port->error();
    m_port->clearError();
    if (m_goneAt == m_openCount) {
        // The device is gone: the port closes before the handler's next step, so that nothing
        // retries these bytes; the gone handler still runs from the event loop.
        m_port->clear(QSerialPort::AllDirections);
        m_port->close();
        m_port->clearError();
        return CommError::WriteFailed;
    }
    if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError)
        return CommError::WriteFailed;
    return m_port->bytesToWrite() > 0 ? CommError::WriteFailed : CommError::Ok;
}

CommError QtSerialControl::readyToRead()
{
    if (!m_port->isOpen())
        return CommError::PortNotOpen;
    pollDevice();
    if (m_port->error() != QSerialPort::NoError) {
        m_port->clearError();
        return CommError::ReadFailed;
    }
    return CommError::Ok;
}

CommError QtSerialControl::input(QByteArray &received)
{
    received.clear();
    if (const CommError ready = readyToRead(); ready != CommError::Ok)
        return ready;
    received = m_port->readAll();
    return CommError::Ok;
}

CommError QtSerialControl::inBufferCount(int &count)
{
    count = 0;
    if (const CommError ready = readyToRead(); ready != CommError::Ok)
        return ready;
    count = static_cast<int>(qMin<qint64>(m_port->bytesAvailable(), 32767));
    return CommError::Ok;
}

} // namespace voruna
