// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace voruna {

// Outcome of one operation on the serial control; Ok is success, every other value a failure.
enum class CommError {
    Ok = 0,
    NoSuchPort,      // port number 0, above 16, or no device behind it
    PortBusy,        // held by this or another process
    PortUnusable,    // the device refused to open or to take the line settings
    BadSettings,     // not "baud,parity,data,stop"
    PortAlreadyOpen, // CommPort changed while the port is open
    PortNotOpen,     // Output, Input or InBufferCount on a closed port
    WriteFailed,     // the bytes could not be handed to the device (unplugged)
    ReadFailed,      // the device could not be read (unplugged)
};

QString describe(CommError error);

// The serial communications control on the guide console: six properties, each access reporting
// success or failure. No operation waits for data; reads return what has arrived so far.
class SerialControl {
public:
    virtual ~SerialControl() = default;

    // Port number 1 to 16; allowed only while the port is closed.
    virtual CommError setCommPort(int portNumber) = 0;
    virtual int commPort() const = 0;

    // Line settings such as "9600,n,8,1", used at the next open.
    virtual CommError setSettings(const QString &settings) = 0;

    virtual bool portOpen() const = 0;
    // true opens the port named by CommPort; false closes it and empties both buffers.
    virtual CommError setPortOpen(bool open) = 0;

    // Sends the bytes as they are, nothing added; returns once they are handed to the device.
    virtual CommError setOutput(const QByteArray &bytes) = 0;
    // Everything received and not yet read; what it returns leaves the receive buffer.
    virtual CommError input(QByteArray &received) = 0;
    // Number of received bytes waiting.
    virtual CommError inBufferCount(int &count) = 0;

    // What port number n (1 to 16) would open now, for the user: the device and the system's
    // description of it, or "no device".
    virtual QString describePort(int portNumber) const = 0;

    // Called from the event loop after the control closed the port by itself because its device
    // went away (unplugged, hung up); what the port still held is discarded. Empty: nobody is told.
    void setGoneHandler(std::function<void()> handler) { m_goneHandler = std::move(handler); }

protected:
    void reportGone() const
    {
        if (m_goneHandler)
            m_goneHandler();
    }

private:
    std::function<void()> m_goneHandler;
};

// Resume-next error trap of the link handlers: arm() clears it, every failed step is recorded and
// the handler goes on; the handler tests it once.
class ErrorTrap {
public:
    void arm() { m_first = CommError::Ok; }
    void take(CommError result)
    {
        if (m_first == CommError::Ok)
            m_first = result;
    }
    bool clean() const { return m_first == CommError::Ok; }
    CommError firstError() const { return m_first; }

private:
    CommError m_first = CommError::Ok;
};

} // namespace voruna
