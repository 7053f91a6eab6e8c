// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/commanddecoder.h"

namespace voruna {

namespace {

// Whether a ':'-command that has its first n bytes accepts c as byte n.
bool fits(qsizetype n, char c)
{
    switch (n) {
    case 1:
        return c == 'M' || c == 'Q';
    case 2:
        return c == 'n' || c == 's' || c == 'w' || c == 'e';
    case 3:
        return c == '#';
    default:
        return false;
    }
}

} // namespace

QList<ReceivedCommand> CommandDecoder::feed(const QByteArray &bytes)
{
    QList<ReceivedCommand> out;
    for (const char byte : bytes)
        take(byte, out);
    endUnknown(out);
    return out;
}

QList<ReceivedCommand> CommandDecoder::flush()
{
    QList<ReceivedCommand> out;
    m_unknown += m_partial;
    m_partial.clear();
    endUnknown(out);
    return out;
}

void CommandDecoder::take(char byte, QList<ReceivedCommand> &out)
{
    if (!m_partial.isEmpty()) {
        if (fits(m_partial.size(), byte)) {
            m_partial += byte;
            if (m_partial.size() == 4) {
                endUnknown(out);
                out.append({ReceivedCommand::Kind::Move, m_partial, m_partial.at(2),
                            m_partial.at(1) == 'M'});
                m_partial.clear();
            }
            return;
        }
        // Not a command after all: what came so far is unknown; the byte may begin another.
        m_unknown += m_partial;
        m_partial.clear();
    }
    if (byte == '?') {
        endUnknown(out);
        out.append({ReceivedCommand::Kind::Probe, QByteArray(1, byte), 0, false});
    } else if (byte == ':') {
        m_partial = QByteArray(1, byte);
    } else {
        m_unknown += byte;
    }
}

void CommandDecoder::endUnknown(QList<ReceivedCommand> &out)
{
    if (m_unknown.isEmpty())
        return;
    out.append({ReceivedCommand::Kind::Unknown, m_unknown, 0, false});
    m_unknown.clear();
}

} // namespace voruna
