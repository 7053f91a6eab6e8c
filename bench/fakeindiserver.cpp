// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakeindiserver.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// A FITS file of 16-bit samples: a faint ramp, as a sky background gives.
QByteArray fitsFrame(QSize size)
{
    QByteArray header;
    auto card = [&](const QByteArray &text) { header += text.leftJustified(80, ' ', true); };
    card("SIMPLE  =                    T");
    card("BITPIX  =                   16");
    card("NAXIS   =                    2");
    card("NAXIS1  = " + QByteArray::number(size.width()).rightJustified(20));
    card("NAXIS2  = " + QByteArray::number(size.height()).rightJustified(20));
    card("BZERO   =                32768");
    card("END");
    header = header.leftJustified(2880, ' ');
    const qint64 bytes = qint64(size.width()) * size.height() * 2;
    QByteArray data((bytes + 2879) / 2880 * 2880, '\0');
    for (qint64 i = 0; i < bytes; i += 2)
        data[i] = char(0x80 + (i / 2 % size.width()) * 16 / size.width()); // big-endian
    return header + data;
}

} // namespace

FakeIndiServer::FakeIndiServer(QSize size) : m_size(size)
{
    const QByteArray fits = fitsFrame(size);
    m_reply = "<setBLOBVector device='Bench CCD' name='CCD1' state='Ok'><oneBLOB name='CCD1' size='"
              + QByteArray::number(fits.size()) + "' format='.fits' len='"
              + QByteArray::number(fits.size()) + "'>" + fits.toBase64()
              + "</oneBLOB></setBLOBVector>";
    start();
    m_ready.acquire();
}

FakeIndiServer::~FakeIndiServer()
{
    quit();
    wait();
}

QByteArray FakeIndiServer::definitions() const
{
    return "<defSwitchVector device='Bench CCD' name='CONNECTION' state='Ok' perm='rw' "
           "rule='OneOfMany'><defSwitch name='CONNECT'>On</defSwitch>"
           "<defSwitch name='DISCONNECT'>Off</defSwitch></defSwitchVector>"
           "<defTextVector device='Bench CCD' name='DRIVER_INFO' state='Idle' perm='ro'>"
           "<defText name='DRIVER_INTERFACE'>2</defText></defTextVector>"
           "<defNumberVector device='Bench CCD' name='CCD_EXPOSURE' state='Idle' perm='rw'>"
           "<defNumber name='CCD_EXPOSURE_VALUE' format='%g' min='0.001' max='3600' step='1'>1"
           "</defNumber></defNumberVector>"
           "<defNumberVector device='Bench CCD' name='CCD_INFO' state='Idle' perm='ro'>"
           "<defNumber name='CCD_MAX_X' format='%g' min='0' max='0' step='0'>"
           + QByteArray::number(m_size.width())
           + "</defNumber><defNumber name='CCD_MAX_Y' format='%g' min='0' max='0' step='0'>"
           + QByteArray::number(m_size.height())
           + "</defNumber><defNumber name='CCD_BITSPERPIXEL' format='%g' min='0' max='0' "
             "step='0'>16</defNumber></defNumberVector>"
             "<defBLOBVector device='Bench CCD' name='CCD1' state='Idle' perm='ro'>"
             "<defBLOB name='CCD1'/></defBLOBVector>";
}

void FakeIndiServer::run()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    m_port = server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        QTcpSocket *peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [this, peer] {
            // A message may come in pieces: what is not whole yet waits in the peer.
            const QByteArray fresh = peer->readAll();
            if (fresh.contains("getProperties"))
                peer->write(definitions());
            const QByteArray asked = peer->property("pending").toByteArray() + fresh;
            const qsizetype end = asked.lastIndexOf("</newNumberVector>");
            peer->setProperty("pending", end < 0 ? asked : asked.mid(end + 18));
            if (end < 0 || !asked.left(end).contains("CCD_EXPOSURE"))
                return;
            // The picture comes when the exposure asked for is over.
            static const QRegularExpression value(QStringLiteral(">\\s*([0-9.eE+-]+)\\s*<"));
            const QRegularExpressionMatch match = value.match(QString::fromLatin1(asked.left(end)));
            const int ms = match.hasMatch() ? int(match.captured(1).toDouble() * 1000) : 1000;
            QTimer::singleShot(ms, peer, [this, peer] {
                peer->write(m_reply);
                ++m_sent;
            });
        });
    });
    m_ready.release();
    exec();
}
