// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/scriptedserial.h"

namespace voruna::test {

CommError ScriptedSerial::setCommPort(int portNumber)
{
    if (m_open)
        return CommError::PortAlreadyOpen;
    if (portNumber < 1 || portNumber > 16)
        return CommError::NoSuchPort;
    m_port = portNumber;
    return CommError::Ok;
}

CommError ScriptedSerial::setSettings(const QString &value)
{
    settings = value;
    return CommError::Ok;
}

CommError ScriptedSerial::setPortOpen(bool open)
{
    if (!open) {
        m_open = false;
        m_buffer.clear();
        return CommError::Ok;
    }
    if (!existing.contains(m_port))
        return CommError::NoSuchPort;
    if (busy.contains(m_port))
        return CommError::PortBusy;
    m_open = true;
    ++opens;
    return CommError::Ok;
}

CommError ScriptedSerial::setOutput(const QByteArray &bytes)
{
    if (!m_open)
        return CommError::PortNotOpen;
    if (unplugged)
        return CommError::WriteFailed;
    written += bytes;
    if (bytes == "?")
        m_buffer += answerToProbe;
    return CommError::Ok;
}

CommError ScriptedSerial::input(QByteArray &received)
{
    received.clear();
    if (!m_open)
        return CommError::PortNotOpen;
    m_buffer += flood;
    received = m_buffer;
    m_buffer.clear();
    if (reads < afterRead.size())
        m_buffer += afterRead[reads];
    ++reads;
    return CommError::Ok;
}

CommError ScriptedSerial::inBufferCount(int &count)
{
    count = 0;
    if (!m_open)
        return CommError::PortNotOpen;
    count = static_cast<int>(m_buffer.size() + flood.size());
    return CommError::Ok;
}

} // namespace voruna::test
