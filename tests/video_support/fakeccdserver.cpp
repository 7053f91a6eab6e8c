// SPDX-License-Identifier: GPL-3.0-or-later
#include "video_support/fakeccdserver.h"

#include <QPointer>
#include <QRect>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

namespace voruna::test {

namespace {

// How long an exposure takes, whatever length was asked: short, the pictures being large.
constexpr int exposureMs = 200;

QByteArray fitsPicture(QSize size)
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
    const qint64 bytes = qint64(size.width()) * size.height() * 2;
    return header.leftJustified(2880, ' ') + QByteArray(((bytes + 2879) / 2880) * 2880, '\0');
}

QByteArray number(const char *name, double value, double maximum = 0)
{
    return "<defNumber name='" + QByteArray(name) + "' format='%g' min='0' max='"
           + QByteArray::number(maximum) + "' step='1'>" + QByteArray::number(value)
           + "</defNumber>";
}

} // namespace

// The server's side of its connections, on the server's thread.
class FakeCcdSession : public QObject {
public:
    FakeCcdSession(FakeCcdServer &server, QTcpServer &listener)
        : m_server(server)
        , m_options(server.m_options)
        , m_frame(QPoint(0, 0), server.m_options.sensor)
    {
        connect(&listener, &QTcpServer::newConnection, this, [this, &listener] {
            while (QTcpSocket *peer = listener.nextPendingConnection())
                welcome(peer);
        });
        connect(&m_chatter, &QTimer::timeout, this, &FakeCcdSession::chatter);
        if (m_options.holdDefinitions)
            m_chatter.start(50);
    }

    void releaseDefinitions()
    {
        m_options.holdDefinitions = false;
        m_chatter.stop();
        for (const QPointer<QTcpSocket> &peer : std::exchange(m_waiting, {}))
            if (peer)
                peer->write(definitions());
    }

    void releaseExposures()
    {
        m_options.holdExposures = false;
        for (const Exposure &held : std::exchange(m_held, {}))
            endExposure(held);
    }

private:
    struct Exposure {
        QPointer<QTcpSocket> peer;
        QSize size;
    };
    // What one client sent so far, read as one document that never ends.
    struct Reader {
        QXmlStreamReader xml{QByteArray("<indi>")};
        QByteArray vector;
        QByteArray element;
        QString text;
        QHash<QByteArray, double> values;
    };

    void welcome(QTcpSocket *peer)
    {
        m_readers[peer] = std::make_unique<Reader>();
        connect(peer, &QTcpSocket::readyRead, this, [this, peer] { read(peer); });
        connect(peer, &QTcpSocket::disconnected, this, [this, peer] {
            m_readers.erase(peer);
            peer->deleteLater();
        });
    }

    void read(QTcpSocket *peer)
    {
        Reader &reader = *m_readers.at(peer);
        reader.xml.addData(peer->readAll());
        while (!reader.xml.atEnd()) {
            const auto token = reader.xml.readNext();
            const QByteArray name = reader.xml.name().toLatin1();
            if (token == QXmlStreamReader::StartElement) {
                const QByteArray attribute =
                    reader.xml.attributes().value(QLatin1String("name")).toLatin1();
                if (name == "getProperties")
                    describe(peer);
                else if (name.startsWith("new"))
                    reader.vector = attribute, reader.values.clear();
                else if (name.startsWith("one"))
                    reader.element = attribute, reader.text.clear();
            } else if (token == QXmlStreamReader::Characters) {
                reader.text += reader.xml.text();
            } else if (token == QXmlStreamReader::EndElement && name.startsWith("one")) {
                const QString text = reader.text.trimmed();
                reader.values[reader.element] = text == QLatin1String("On") ? 1 : text.toDouble();
            } else if (token == QXmlStreamReader::EndElement && name.startsWith("new")) {
                take(peer, reader.vector, reader.values);
            }
        }
    }

    void take(QTcpSocket *peer, const QByteArray &vector, const QHash<QByteArray, double> &values)
    {
        {
            QMutexLocker lock(&m_server.m_mutex);
            ++m_server.m_received[vector];
        }
        if (vector == "CCD_FRAME") {
            m_frame = QRect(int(values.value("X")), int(values.value("Y")),
                            int(values.value("WIDTH")), int(values.value("HEIGHT")))
                          .intersected(QRect(QPoint(0, 0), m_options.sensor));
            peer->write(setNumbers("CCD_FRAME", "Ok",
                                   {{"X", m_frame.x()},
                                    {"Y", m_frame.y()},
                                    {"WIDTH", m_frame.width()},
                                    {"HEIGHT", m_frame.height()}}));
        } else if (vector == "CCD_BINNING") {
            m_binning = std::clamp(int(values.value("HOR_BIN", 1)), 1, 2);
            peer->write(
                setNumbers("CCD_BINNING", "Ok", {{"HOR_BIN", m_binning}, {"VER_BIN", m_binning}}));
        } else if (vector == "CCD_EXPOSURE") {
            startExposure(peer);
        } else if (vector == "CCD_ABORT_EXPOSURE" && m_options.honoursAbort) {
            ++m_generation;
            m_held.clear();
            peer->write(setNumbers("CCD_EXPOSURE", "Idle", {{"CCD_EXPOSURE_VALUE", 0}}));
        }
    }

    void startExposure(QTcpSocket *peer)
    {
        const Exposure exposure{peer, m_frame.size() / m_binning};
        peer->write(setNumbers("CCD_EXPOSURE", "Busy", {{"CCD_EXPOSURE_VALUE", 1}}));
        if (m_options.holdExposures) {
            m_held.append(exposure);
            return;
        }
        QTimer::singleShot(exposureMs, this, [this, exposure, generation = m_generation] {
            if (generation == m_generation)
                endExposure(exposure);
        });
    }

    void endExposure(const Exposure &exposure)
    {
        if (!exposure.peer)
            return;
        const QByteArray picture = fitsPicture(exposure.size);
        exposure.peer->write("<setBLOBVector device='" + m_options.device
                             + "' name='CCD1' state='Ok'><oneBLOB name='CCD1' size='"
                             + QByteArray::number(picture.size()) + "' format='.fits' len='"
                             + QByteArray::number(picture.size()) + "'>" + picture.toBase64()
                             + "</oneBLOB></setBLOBVector>");
        exposure.peer->write(setNumbers("CCD_EXPOSURE", "Ok", {{"CCD_EXPOSURE_VALUE", 0}}));
    }

    void describe(QTcpSocket *peer)
    {
        if (m_options.holdDefinitions)
            m_waiting.append(peer);
        else
            peer->write(definitions());
    }

    // Another device's property, new each time: the server is alive but has not told of its
    // camera yet.
    void chatter()
    {
        const QByteArray tick = QByteArray::number(++m_ticks);
        for (const auto &[peer, reader] : m_readers)
            peer->write("<defTextVector device='Fake Focuser' name='TICK" + tick
                        + "' state='Idle' perm='ro'><defText name='T'>" + tick
                        + "</defText></defTextVector>");
    }

    QByteArray definitions() const
    {
        const QByteArray device = m_options.device;
        const QSize sensor = m_options.sensor;
        return "<defTextVector device='" + device
               + "' name='DRIVER_INFO' state='Idle' perm='ro'>"
                 "<defText name='DRIVER_INTERFACE'>2</defText></defTextVector>"
                 "<defSwitchVector device='"
               + device
               + "' name='CONNECTION' state='Ok' perm='rw' rule='OneOfMany'>"
                 "<defSwitch name='CONNECT'>On</defSwitch><defSwitch name='DISCONNECT'>Off"
                 "</defSwitch></defSwitchVector>"
                 "<defNumberVector device='"
               + device + "' name='CCD_EXPOSURE' state='Idle' perm='rw'>"
               + number("CCD_EXPOSURE_VALUE", 1, 3600)
               // The window and binning come before the sensor's size, as INDI's drivers send them.
               + "</defNumberVector><defNumberVector device='" + device
               + "' name='CCD_FRAME' state='Idle' perm='rw'>"
               + number("X", m_frame.x(), sensor.width())
               + number("Y", m_frame.y(), sensor.height())
               + number("WIDTH", m_frame.width(), sensor.width())
               + number("HEIGHT", m_frame.height(), sensor.height())
               + "</defNumberVector><defNumberVector device='" + device
               + "' name='CCD_BINNING' state='Idle' perm='rw'>" + number("HOR_BIN", m_binning, 2)
               + number("VER_BIN", m_binning, 2) + "</defNumberVector><defNumberVector device='"
               + device + "' name='CCD_INFO' state='Idle' perm='ro'>"
               + number("CCD_MAX_X", sensor.width(), 65535)
               + number("CCD_MAX_Y", sensor.height(), 65535) + number("CCD_BITSPERPIXEL", 16, 16)
               + "</defNumberVector><defSwitchVector device='" + device
               + "' name='CCD_ABORT_EXPOSURE' state='Idle' perm='rw' rule='AtMostOne'>"
                 "<defSwitch name='ABORT'>Off</defSwitch></defSwitchVector>"
                 "<defBLOBVector device='"
               + device
               + "' name='CCD1' state='Idle' perm='ro'><defBLOB name='CCD1'/></defBLOBVector>";
    }

    QByteArray setNumbers(const QByteArray &property, const QByteArray &state,
                          std::initializer_list<std::pair<const char *, double>> values) const
    {
        QByteArray message = "<setNumberVector device='" + m_options.device + "' name='" + property
                             + "' state='" + state + "'>";
        for (const auto &[name, value] : values)
            message += "<oneNumber name='" + QByteArray(name) + "'>" + QByteArray::number(value)
                       + "</oneNumber>";
        return message + "</setNumberVector>";
    }

    FakeCcdServer &m_server;
    FakeCcdServer::Options m_options;
    std::map<QTcpSocket *, std::unique_ptr<Reader>> m_readers;
    QList<QPointer<QTcpSocket>> m_waiting;
    QList<Exposure> m_held;
    QTimer m_chatter;
    QRect m_frame;
    int m_binning = 1;
    int m_generation = 0;
    int m_ticks = 0;
};

FakeCcdServer::FakeCcdServer(Options options) : m_options(std::move(options))
{
    start();
    m_ready.acquire();
}

FakeCcdServer::~FakeCcdServer()
{
    quit();
    wait();
}

void FakeCcdServer::releaseDefinitions()
{
    QMetaObject::invokeMethod(
        m_home, [this] { static_cast<FakeCcdSession *>(m_home)->releaseDefinitions(); },
        Qt::QueuedConnection);
}

void FakeCcdServer::releaseExposures()
{
    QMetaObject::invokeMethod(
        m_home, [this] { static_cast<FakeCcdSession *>(m_home)->releaseExposures(); },
        Qt::QueuedConnection);
}

int FakeCcdServer::received(const QByteArray &property) const
{
    QMutexLocker lock(&m_mutex);
    return m_received.value(property);
}

void FakeCcdServer::run()
{
    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost);
    m_port = listener.serverPort();
    FakeCcdSession session(*this, listener);
    m_home = &session;
    m_ready.release();
    exec();
    m_home = nullptr;
}

} // namespace voruna::test
