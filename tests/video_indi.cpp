// SPDX-License-Identifier: GPL-3.0-or-later
// INDI cameras: the servers file, FITS frames from an untrusted peer, a fake server that
// misbehaves, and Debian's CCD simulator under a real indiserver when it is installed.
#include "video_support/fakeccdserver.h"
#include "video_support/formrig.h"

#include "video/capturesubwindow.h"
#include "video/capture/displaysettings.h"
#include "video/drivers/indi/indiframe.h"
#include "video/drivers/indi/indiservers.h"
#include "video/fittovideo.h"
#include "video/form3.h"
#include "video/previewwidget.h"
#include "video/save/fitssave.h"
#include "video/sourcedialog.h"
#include "video_support/indiseams.h"

#include <fitsio.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QProcess>
#include <QRandomGenerator>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <numeric>

#include <unistd.h>

using namespace voruna;

namespace {

// A FITS file: the header cards padded to 2880 bytes, then `data` bytes of picture.
QByteArray fits(int bitpix, QList<long> axes, qint64 dataBytes)
{
    QByteArray header;
    auto card = [&](const QByteArray &text) { header += text.leftJustified(80, ' ', true); };
    card("SIMPLE  =                    T");
    card("BITPIX  = " + QByteArray::number(bitpix).rightJustified(20));
    card("NAXIS   = " + QByteArray::number(axes.size()).rightJustified(20));
    for (int i = 0; i < axes.size(); ++i)
        card("NAXIS" + QByteArray::number(i + 1).leftJustified(3) + "= "
             + QByteArray::number(qlonglong(axes[i])).rightJustified(20));
    if (bitpix == 16)
        card("BZERO   =                32768");
    card("END");
    header = header.leftJustified(2880, ' ');
    QByteArray data(dataBytes, '\0');
    // The first pixel: 0x8123 once BZERO is added, big-endian as FITS stores it.
    if (dataBytes >= 2)
        data[0] = char(0x01), data[1] = char(0x23);
    return header + data.leftJustified(((dataBytes + 2879) / 2880) * 2880, '\0');
}

// `plain` (a FITS file) as fpack makes it: an empty primary header, then the picture
// tile-compressed in a table.
QByteArray tileCompressed(QByteArray plain)
{
    void *in = plain.data();
    size_t inSize = size_t(plain.size());
    size_t outSize = 2880;
    void *out = malloc(outSize);
    fitsfile *from = nullptr;
    fitsfile *to = nullptr;
    int status = 0;
    fits_open_memfile(&from, "plain", READONLY, &in, &inSize, 0, nullptr, &status);
    fits_create_memfile(&to, &out, &outSize, 2880, realloc, &status);
    fits_set_compression_type(to, RICE_1, &status);
    fits_img_compress(from, to, &status);
    int closing = 0;
    fits_close_file(from, &closing);
    fits_close_file(to, &closing);
    QByteArray packed = status ? QByteArray() : QByteArray(static_cast<const char *>(out), outSize);
    free(out);
    return packed;
}

// zlib's own stream, without the length that qCompress puts first.
QByteArray zlib(const QByteArray &plain)
{
    return qCompress(plain).mid(4);
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// An INDI server that defines one camera and answers its exposures with `reply`; only to its
// first `talkative` connections when that is not negative. It runs on a thread of its own: a
// listing waits for its answer on the GUI thread.
class FakeServer : public QThread {
public:
    explicit FakeServer(QByteArray reply, int talkative = -1)
        : m_reply(std::move(reply))
        , m_talkative(talkative)
    {
        start();
        m_ready.acquire();
    }
    ~FakeServer() override
    {
        quit();
        wait();
    }
    quint16 port() const { return m_port; }
    // The clients connected now.
    int clients() const { return m_clients; }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        m_port = server.serverPort();
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            QTcpSocket *peer = server.nextPendingConnection();
            ++m_clients;
            QObject::connect(peer, &QTcpSocket::disconnected, peer, [this] { --m_clients; });
            if (m_talkative >= 0 && m_talkative-- == 0)
                return;
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [this, peer] {
                const QByteArray asked = peer->readAll();
                if (asked.contains("getProperties"))
                    peer->write(definitions());
                if (asked.contains("newNumberVector") && asked.contains("CCD_EXPOSURE"))
                    peer->write(m_reply);
            });
        });
        m_ready.release();
        exec();
    }

private:
    static QByteArray definitions()
    {
        return "<defTextVector device='Fake CCD' name='DRIVER_INFO' state='Idle' perm='ro'>"
               "<defText name='DRIVER_INTERFACE'>2</defText></defTextVector>"
               "<defSwitchVector device='Fake CCD' name='CONNECTION' state='Ok' perm='rw' "
               "rule='OneOfMany'>"
               "<defSwitch name='CONNECT'>On</defSwitch><defSwitch "
               "name='DISCONNECT'>Off</defSwitch>"
               "</defSwitchVector>"
               "<defNumberVector device='Fake CCD' name='CCD_EXPOSURE' state='Idle' perm='rw'>"
               "<defNumber name='CCD_EXPOSURE_VALUE' format='%g' min='0.001' max='3600' step='1'>1"
               "</defNumber></defNumberVector>"
               "<defNumberVector device='Fake CCD' name='CCD_INFO' state='Idle' perm='ro'>"
               "<defNumber name='CCD_MAX_X' format='%g' min='0' max='0' step='0'>64</defNumber>"
               "<defNumber name='CCD_MAX_Y' format='%g' min='0' max='0' step='0'>48</defNumber>"
               "</defNumberVector>"
               "<defBLOBVector device='Fake CCD' name='CCD1' state='Idle' perm='ro'>"
               "<defBLOB name='CCD1'/></defBLOBVector>";
    }

    QByteArray m_reply;
    int m_talkative;
    QSemaphore m_ready;
    quint16 m_port = 0;
    std::atomic<int> m_clients = 0;
};

QByteArray blobReply(const QByteArray &bytes, qint64 claimedSize,
                     const QByteArray &format = ".fits")
{
    return "<setBLOBVector device='Fake CCD' name='CCD1' state='Ok'><oneBLOB name='CCD1' size='"
           + QByteArray::number(claimedSize ? claimedSize : bytes.size()) + "' format='" + format
           + "' len='" + QByteArray::number(bytes.size()) + "'>" + bytes.toBase64()
           + "</oneBLOB></setBLOBVector>";
}

// A capture window on `source`, recording what it tells the user.
struct Rig {
    explicit Rig(std::unique_ptr<DriverSource> source)
    {
        std::vector<std::unique_ptr<DriverSource>> sources;
        sources.push_back(std::move(source));
        layer = makeCaptureLayer(std::move(sources));
        window = static_cast<CaptureSubWindow *>(
            layer->createCaptureWindow(&area, "Video", {0, 0, 400, 300}));
        const auto record = [this](CaptureWindow *, int, const char *text) {
            texts.append(QString::fromLocal8Bit(text));
            return 0;
        };
        window->setStatusHook(record);
        window->setErrorHook(record);
        window->setPreview(true);
        window->setPreviewRate(10);
    }
    QImage shown() const { return window->findChild<PreviewWidget *>()->frame(); }
    bool told(const QString &part) const { return !texts.filter(part).isEmpty(); }

    QMdiArea area;
    std::unique_ptr<CaptureLayer> layer;
    CaptureSubWindow *window = nullptr;
    QStringList texts;
};

QString getprop(quint16 port, const QString &property)
{
    QProcess getter;
    getter.start(QStringLiteral("indi_getprop"),
                 {"-1", "-t", "1", "-p", QString::number(port), property});
    getter.waitForFinished(3000);
    return QString::fromUtf8(getter.readAllStandardOutput()).trimmed();
}

bool setprop(quint16 port, const QString &assignment)
{
    QProcess setter;
    setter.start(QStringLiteral("indi_setprop"), {"-p", QString::number(port), assignment});
    return setter.waitForFinished(5000) && setter.exitCode() == 0;
}

// What Astropy, a reader apart from cfitsio, finds wrong in a saved FITS file against `expected`
// (see fits_check.py); empty when nothing.
QString astropyFaults(const QString &path, const QStringList &expected)
{
    const QString python = QStringLiteral(VORUNA_ASTROPY_PYTHON);
    if (python.isEmpty())
        return QStringLiteral("Astropy is missing: install python3-astropy (scripts/setup --test)");
    QProcess check;
    check.start(python, QStringList{QStringLiteral(VORUNA_FITS_CHECK), path} + expected);
    if (!check.waitForFinished(120000))
        return QStringLiteral("Astropy did not finish");
    const QString said =
        QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError());
    return check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0 ? QString() : said;
}

// How many pixels of the shown picture (RGB32) are at least `level` in red, and its median.
QPair<qint64, int> brightAndMedian(const QImage &shown, int level)
{
    std::array<qint64, 256> histogram{};
    const QImage image = shown.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ++histogram[size_t(qRed(row[x]))];
    }
    const qint64 bright = std::accumulate(histogram.begin() + level, histogram.end(), qint64(0));
    int median = 0;
    for (qint64 seen = histogram[0]; seen * 2 < qint64(image.width()) * image.height();)
        seen += histogram[size_t(++median)];
    return {bright, median};
}

} // namespace

class IndiTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serversFile_data();
    void serversFile();
    void fitsFrames_data();
    void fitsFrames();
    void grey16KeepsDepth();
    void streamFrames_data();
    void streamFrames();
    void misbehavingServer_data();
    void misbehavingServer();
    void clientDrawsForTheView();
    void absentServers();
    void slowLookup();
    void oneServerTwice_data();
    void oneServerTwice();
    void libraryKeepsQuiet();
    void closeDuringFrame();
    void silentServer();
    void selectListsInTheBackground_data();
    void selectListsInTheBackground();
    void formatChangeEndsTheRunningExposure_data();
    void formatChangeEndsTheRunningExposure();
    void reselectedCameraKeepsItsPicture_data();
    void reselectedCameraKeepsItsPicture();
    void simulator();
    void exposureInSeconds_data();
    void exposureInSeconds();
};

void IndiTest::serversFile_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("host") << " pi.local \n" << true << "pi.local" << 7624;
    QTest::newRow("host:port") << "10.0.0.5:7625" << true << "10.0.0.5" << 7625;
    QTest::newRow("comment") << "# the observatory" << false << "" << 0;
    QTest::newRow("bad port") << "pi.local:99999" << false << "" << 0;
    QTest::newRow("no port") << "pi.local:" << false << "" << 0;
}

void IndiTest::serversFile()
{
    QFETCH(QString, line);
    QFETCH(bool, valid);
    QFETCH(QString, host);
    QFETCH(int, port);
    IndiServer server;
    QCOMPARE(parseIndiServer(line, &server), valid);
    if (valid)
        QCOMPARE(server, (IndiServer{host, quint16(port)}));
}

void IndiTest::fitsFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QSize>("size");
    // The first pixel: 16-bit grey as it is, the red of the rest.
    QTest::addColumn<int>("first");
    QTest::newRow("16-bit") << fits(16, {40, 30}, 40 * 30 * 2) << QString() << QSize(40, 30)
                            << 0x8123;
    QTest::newRow("16-bit, odd width")
        << fits(16, {41, 3}, 41 * 3 * 2) << QString() << QSize(41, 3) << 0x8123;
    QTest::newRow("8-bit") << fits(8, {40, 30}, 40 * 30) << QString() << QSize(40, 30) << 0x01;
    QTest::newRow("colour planes")
        << fits(16, {40, 30, 3}, 40 * 30 * 3 * 2) << QString() << QSize(40, 30) << 0x81;
    QTest::newRow("tile-compressed")
        << tileCompressed(fits(16, {40, 30}, 40 * 30 * 2)) << QString() << QSize(40, 30) << 0x8123;
    QTest::newRow("not FITS") << QByteArray(4000, 'x') << "not a FITS picture" << QSize(0, 0) << 0;
    QTest::newRow("oversized header")
        << fits(16, {100000, 100000}, 2880) << "out of bounds" << QSize(0, 0) << 0;
    QTest::newRow("within the side, beyond the bytes")
        << fits(16, {8000, 8000}, 2880) << "cut short" << QSize(0, 0) << 0;
    QTest::newRow("cut short") << fits(16, {640, 480}, 2880) << "cut short" << QSize(0, 0) << 0;
    QTest::newRow("picture beyond the bound")
        << fits(8, {16384, 16384}, 2880) << "too large" << QSize(0, 0) << 0;
    QTest::newRow("4 axes") << fits(16, {4, 4, 4, 4}, 2880) << "unsupported" << QSize(0, 0) << 0;
}

void IndiTest::fitsFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, refusal);
    QFETCH(QSize, size);
    QFETCH(int, first);
    QVERIFY(!bytes.isEmpty());
    QImage image;
    QString error;
    QCOMPARE(decodeFitsFrame(bytes, &image, &error), refusal.isEmpty());
    QVERIFY2(error.contains(refusal), qPrintable(error));
    QCOMPARE(image.size(), size);
    if (image.format() == QImage::Format_Grayscale16)
        QCOMPARE(reinterpret_cast<const quint16 *>(image.constScanLine(0))[0], quint16(first));
    else if (!image.isNull())
        QCOMPARE(qRed(image.pixel(0, 0)), first);
}

void IndiTest::grey16KeepsDepth()
{
    // Two faint levels within one 8-bit step stay apart once the white point lifts them.
    QImage grey(2, 1, QImage::Format_Grayscale16);
    auto *row = reinterpret_cast<quint16 *>(grey.scanLine(0));
    row[0] = 64;
    row[1] = 192;
    DisplaySettings settings;
    settings.sampleBits = 16;
    settings.whitePoint = 256;
    settings.mirror = true;
    QImage shown;
    renderForDisplay(grey, settings, &shown);
    QCOMPARE(qRed(shown.pixel(1, 0)), 64);
    QCOMPARE(qRed(shown.pixel(0, 0)), 191);
}

void IndiTest::streamFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("refusal");
    const QByteArray grey(40 * 30, char(0x81));
    QTest::newRow("grey") << grey << false << QSize(40, 30) << QString();
    QTest::newRow("compressed") << zlib(grey) << true << QSize(40, 30) << QString();
    QTest::newRow("short") << grey.left(100) << false << QSize(40, 30) << "does not make";
    QTest::newRow("inflates beyond the frame")
        << zlib(QByteArray(64 << 20, '\0')) << true << QSize(40, 30) << "does not inflate";
    QTest::newRow("size out of bounds") << grey << false << QSize(0, 30) << "out of bounds";
    QTest::newRow("picture beyond the bound")
        << zlib(grey) << true << QSize(16384, 16384) << "too large";
}

void IndiTest::streamFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, compressed);
    QFETCH(QSize, size);
    QFETCH(QString, refusal);
    QImage image;
    QString error;
    QCOMPARE(decodeStreamFrame(bytes, compressed, size, &image, &error), refusal.isEmpty());
    QVERIFY2(error.contains(refusal), qPrintable(error));
    if (refusal.isEmpty())
        QCOMPARE(image.pixel(39, 29), qRgb(0x81, 0x81, 0x81));
}

void IndiTest::misbehavingServer_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("told");
    QTest::newRow("good frame") << blobReply(fits(16, {64, 48}, 64 * 48 * 2), 0)
                                << "64 x 48, 16-bit";
    QTest::newRow("oversized frame header")
        << blobReply(fits(16, {100000, 100000}, 2880), 0) << "out of bounds";
    QTest::newRow("frame cut short") << blobReply(fits(16, {1280, 1024}, 2880), 0) << "cut short";
    QTest::newRow("size beyond any camera")
        << blobReply(fits(16, {64, 48}, 64 * 48 * 2), qint64(1) << 40) << "refused an empty frame";
    // Skipped by the library; the frame after it shows.
    QTest::newRow("malformed XML") << "<setNumberVector device='Fake CCD' <<<\x01></>"
                                          + blobReply(fits(16, {64, 48}, 64 * 48 * 2), 0)
                                   << "64 x 48, 16-bit";
    // Compressed by the server: zlib (inflated by the library) and fpack's tiles.
    const QByteArray good = fits(16, {64, 48}, 64 * 48 * 2);
    QTest::newRow("zlib") << blobReply(zlib(good), good.size(), ".fits.z") << "64 x 48, 16-bit";
    QTest::newRow("tile-compressed")
        << blobReply(tileCompressed(good), good.size(), ".fits.fz") << "64 x 48, 16-bit";
    // Inflates within the size it declares, which is less than its compressed length.
    QByteArray noise(64, '\0');
    QRandomGenerator(17).fillRange(reinterpret_cast<quint32 *>(noise.data()), 16);
    QTest::newRow("declared size below the compressed length")
        << blobReply(zlib(noise), noise.size(), ".fits.z") << "not a FITS picture";
    // The exposure is taken and nothing ever comes (a server frozen in the middle).
    QTest::newRow("no picture") << QByteArray() << "Fake CCD on 127.0.0.1: no picture for ";
}

void IndiTest::misbehavingServer()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, told);
    FakeServer server(reply);
    Rig rig(std::make_unique<IndiDriverSource>(QList<IndiServer>{{"127.0.0.1", server.port()}}));
    QCOMPARE(rig.layer->driverDescription(0).value_or(DriverDescription{}).name,
             QStringLiteral("Fake CCD"));
    QVERIFY(rig.window->driverConnect(0));
    QTRY_VERIFY2_WITH_TIMEOUT(rig.told(told), qPrintable(rig.texts.join('\n')), 15000);
}

// The client's thread draws each frame for the window's view, and hands the frame beside it at
// the camera's own depth.
void IndiTest::clientDrawsForTheView()
{
    FakeServer server(blobReply(fits(16, {64, 48}, 64 * 48 * 2), 0));
    IndiDriverSource source({{"127.0.0.1", server.port()}});
    QCOMPARE(source.drivers().size(), std::size_t(1));
    QString error;
    std::unique_ptr<CaptureDevice> camera = source.open(source.drivers().at(0).id.key, &error);
    QVERIFY2(camera, qPrintable(error));
    const DisplayView view{{.mirror = true}, {32, 48}, true};
    camera->setDisplayView(view);
    ShownFrame shown;
    bool taken = false;
    connect(camera.get(), &CaptureDevice::frameArrived, this,
            [&] { taken = taken || camera->takeFrame(&shown); });
    QVERIFY(camera->start());
    QTRY_VERIFY_WITH_TIMEOUT(taken, 15000);
    QCOMPARE(shown.view, view);
    QCOMPARE(shown.picture.size(), QSize(32, 48));
    QCOMPARE(shown.frame.format(), QImage::Format_Grayscale16);
    QCOMPARE(shown.sampleBits, 16);
    // The first sample (0x8123) shows at the right, mirrored.
    QCOMPARE(qRed(shown.picture.pixel(31, 0)), 0x81);
}

void IndiTest::absentServers()
{
    // Refused at once on this computer; the listing of a server that is not there costs at most
    // its bound (timed in the benchmark-free way: the whole test has a timeout).
    IndiDriverSource source({{"127.0.0.1", freePort()}});
    QVERIFY(source.drivers().empty());
    QString error;
    QVERIFY(!source.open(QString(), &error));
    QVERIFY(!error.isEmpty());
}

void IndiTest::slowLookup()
{
    // A name that takes longer to look up than a connect may: the listing goes on without it,
    // and the lookup ends later by itself.
    FakeServer server({});
    IndiDriverSource source({{"pi.slow.invalid", 7624}, {"127.0.0.1", server.port()}});
    QElapsedTimer listing;
    listing.start();
    const std::vector<DriverDescription> drivers = source.drivers();
    QCOMPARE_LT(listing.elapsed(), 3000);
    QCOMPARE(drivers.size(), size_t(1));
    QCOMPARE(drivers[0].name, QStringLiteral("Fake CCD"));
}

void IndiTest::oneServerTwice_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("localhost first") << "localhost"
                                     << "127.0.0.1";
    QTest::newRow("address first") << "127.0.0.1"
                                   << "localhost";
}

void IndiTest::oneServerTwice()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    FakeServer server({});
    IndiDriverSource source({{first, server.port()}, {second, server.port()}});
    const std::vector<DriverDescription> drivers = source.drivers();
    QCOMPARE(drivers.size(), size_t(1));
    QCOMPARE(drivers[0].version,
             QStringLiteral("INDI camera on %1:%2").arg(first).arg(server.port()));
}

void IndiTest::libraryKeepsQuiet()
{
    // The client library's notes on connecting stay out of the terminal of a normal run.
    FakeServer server({});
    QTemporaryFile captured;
    QVERIFY(captured.open());
    std::fflush(stderr);
    const int terminal = ::dup(2);
    ::dup2(captured.handle(), 2);
    const size_t found = IndiDriverSource({{"127.0.0.1", server.port()}}).drivers().size();
    std::fflush(stderr);
    ::dup2(terminal, 2);
    ::close(terminal);
    QCOMPARE(found, size_t(1));
    QVERIFY(!captured.readAll().contains("creating new connection"));
}

void IndiTest::closeDuringFrame()
{
    // The camera is closed while the client's thread is still reading its frame: the thread
    // finishes with what it holds, and the client leaves the server afterwards.
    FakeServer server(blobReply(fits(16, {64, 48}, 64 * 48 * 2), 0));
    IndiDriverSource source({{"127.0.0.1", server.port()}});
    const std::vector<DriverDescription> drivers = source.drivers();
    QCOMPARE(drivers.size(), size_t(1));
    QTRY_COMPARE(server.clients(), 0);
    QString error;
    std::unique_ptr<CaptureDevice> camera = source.open(drivers[0].id.key, &error);
    QVERIFY2(camera, qPrintable(error));
    voruna::test::DecodeHold hold;
    QVERIFY(camera->start());
    QTRY_VERIFY_WITH_TIMEOUT(hold.entered(), 10000);
    QElapsedTimer closing;
    closing.start();
    camera.reset();
    QCOMPARE_LT(closing.elapsed(), 1000);
    hold.release();
    QTRY_COMPARE_WITH_TIMEOUT(server.clients(), 0, 10000);
}

void IndiTest::silentServer()
{
    // It lists its camera, then says nothing to the camera's own connection: the window gets
    // control back at once and hears later that the server does not answer.
    FakeServer server({}, 1);
    Rig rig(std::make_unique<IndiDriverSource>(QList<IndiServer>{{"127.0.0.1", server.port()}}));
    QCOMPARE(rig.layer->driverDescription(0).value_or(DriverDescription{}).name,
             QStringLiteral("Fake CCD"));
    QElapsedTimer held;
    held.start();
    QVERIFY(rig.window->driverConnect(0));
    qInfo("connecting held the window for %lld ms", held.elapsed());
    QCOMPARE_LT(held.elapsed(), 2000);
    QVERIFY(rig.told("Fake CCD on 127.0.0.1: connecting"));
    QSize size;
    QVERIFY(!rig.window->getStatus(&size));
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.told(QStringLiteral("The INDI server 127.0.0.1:%1 does not answer").arg(server.port())),
        10000);
}

void IndiTest::selectListsInTheBackground_data()
{
    QTest::addColumn<int>("first"); // the server that answers first
    QTest::newRow("in the servers' order") << 0;
    QTest::newRow("the second first") << 1;
}

// The Select dialog shows at once with the drivers it has, adds the INDI cameras as their
// servers answer, in the servers' order, and opens the camera chosen.
void IndiTest::selectListsInTheBackground()
{
    QFETCH(int, first);
    const QStringList devices{"CCD A", "CCD B"};
    std::array<std::unique_ptr<test::FakeCcdServer>, 2> servers;
    QList<IndiServer> named;
    for (int i : {0, 1}) {
        servers[i] = std::make_unique<test::FakeCcdServer>(
            test::FakeCcdServer::Options{.device = devices[i].toUtf8(), .holdDefinitions = true});
        named.append({"127.0.0.1", servers[i]->port()});
    }
    std::vector<std::unique_ptr<DriverSource>> sources;
    sources.push_back(
        std::make_unique<test::StubSource>(std::vector<test::StubDriver>{{"Webcam"}}));
    sources.push_back(std::make_unique<IndiDriverSource>(named));
    const std::unique_ptr<CaptureLayer> layer = makeCaptureLayer(std::move(sources));
    Form2 form(*layer);
    form.Form2_Form_Load();
    QStringList atOnce;
    QStringList filled;
    test::onModal([&](QWidget *widget) {
        auto *dialog = qobject_cast<form3 *>(widget);
        const auto cancel = qScopeGuard([dialog] {
            if (dialog->isVisible())
                dialog->cmdCancel->click();
        });
        const auto entries = [dialog] {
            QStringList list;
            for (int i = 0; i < dialog->cmboSource->count(); ++i)
                list << dialog->cmboSource->itemText(i);
            return list;
        };
        atOnce = entries();
        servers[first]->releaseDefinitions();
        QTRY_VERIFY(entries().contains(devices[first]));
        servers[1 - first]->releaseDefinitions();
        QTRY_COMPARE(entries().size(), 3);
        filled = entries();
        dialog->cmboSource->setCurrentIndex(int(filled.indexOf("CCD A")));
        dialog->cmdSelect->click();
    });
    form.mnuSelect->trigger();
    QCOMPARE(atOnce, QStringList{"Webcam"});
    QCOMPARE(filled, (QStringList{"Webcam", "CCD A", "CCD B"}));
    QCOMPARE(dynamic_cast<QWidget *>(form.captureWindow())->windowTitle(), "CCD A");
    QTRY_VERIFY(form.StatusBar->currentMessage().startsWith("CCD A on 127.0.0.1"));
    form.Form2_Form_Unload();
}

void IndiTest::formatChangeEndsTheRunningExposure_data()
{
    QTest::addColumn<bool>("honoursAbort");
    QTest::newRow("the server aborts it") << true;
    QTest::newRow("its picture comes all the same") << false;
}

// An exposure running when the format changes would bring a picture of the old size: it is
// aborted, and its picture is not shown when it comes all the same.
void IndiTest::formatChangeEndsTheRunningExposure()
{
    QFETCH(bool, honoursAbort);
    test::FakeCcdServer server({.holdExposures = true, .honoursAbort = honoursAbort});
    Rig rig(std::make_unique<IndiDriverSource>(QList<IndiServer>{{"127.0.0.1", server.port()}}));
    QVERIFY(rig.window->driverConnect(0));
    QTRY_COMPARE(server.received("CCD_EXPOSURE"), 1);
    CaptureDevice &camera = *rig.window->device();
    const quint32 grey = camera.pixelFormats().value(0).pixelFormat;
    const QSize binned(260, 260);
    QVERIFY(camera.setFormat({grey, binned, camera.frameIntervals(grey, binned).value(0)}));
    QTRY_COMPARE(server.received("CCD_BINNING"), 1);
    const qsizetype before = rig.texts.size();
    server.releaseExposures();
    QTRY_COMPARE_WITH_TIMEOUT(rig.shown().size(), binned, 10000);
    const QStringList after = rig.texts.mid(before);
    QVERIFY2(after.filter("520 x 520").isEmpty(), qPrintable(after.join('\n')));
    QVERIFY(rig.told("260 x 260, 16-bit"));
    QCOMPARE(server.received("CCD_ABORT_EXPOSURE"), 1);
}

void IndiTest::reselectedCameraKeepsItsPicture_data()
{
    QTest::addColumn<QSize>("chosen");
    QTest::newRow("a window in the middle") << QSize(512, 512);
    QTest::newRow("binned") << QSize(260, 260);
}

// The server keeps the format chosen: the same camera selected again tells that size at once,
// its window fits the picture, and the white point set for it stays.
void IndiTest::reselectedCameraKeepsItsPicture()
{
    QFETCH(QSize, chosen);
    test::FakeCcdServer server({});
    Rig rig(std::make_unique<IndiDriverSource>(QList<IndiServer>{{"127.0.0.1", server.port()}}));
    QVERIFY(rig.window->driverConnect(0));
    QTRY_COMPARE_WITH_TIMEOUT(rig.shown().size(), QSize(520, 520), 10000);
    CaptureDevice *camera = rig.window->device();
    const quint32 grey = camera->pixelFormats().value(0).pixelFormat;
    QVERIFY(camera->setFormat({grey, chosen, camera->frameIntervals(grey, chosen).value(0)}));
    QTRY_COMPARE_WITH_TIMEOUT(rig.shown().size(), chosen, 10000);
    test::onModal([](QWidget *dialog) {
        dialog->findChild<QSpinBox *>(QStringLiteral("whitePoint"))->setValue(4000);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    rig.window->dlgVideoDisplay();
    QVERIFY(rig.window->driverConnect(0));
    fitToVideo(rig.window);
    QSize size;
    QTRY_VERIFY(rig.window->getStatus(&size));
    QCOMPARE(size, chosen);
    QTRY_COMPARE_WITH_TIMEOUT(rig.shown().size(), chosen, 10000);
    QCOMPARE(rig.window->size(), fittedSize(chosen, rig.window->frameMetrics()));
    QCOMPARE(rig.window->displaySettings().whitePoint, 4000);
}

void IndiTest::simulator()
{
    const QString server = QStandardPaths::findExecutable(QStringLiteral("indiserver"));
    if (server.isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("indi_simulator_ccd")).isEmpty())
        QSKIP("indi-bin is not installed");
    const quint16 port = freePort();
    QProcess indi;
    // The simulator draws its stars from the catalogue program found on its PATH, and keeps its
    // settings in $HOME/.indi: ours, and a home of its own.
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH",
                       QStringLiteral(VORUNA_STAR_CATALOGUE ":") + environment.value("PATH"));
    environment.insert("HOME", home.path());
    indi.setProcessEnvironment(environment);
    auto startServer = [&] {
        // Its local socket too is its own: another server on the machine holds the default.
        indi.start(server, {"-p", QString::number(port), "-u", home.filePath("indiserver"),
                            "indi_simulator_ccd"});
        QVERIFY(indi.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            !getprop(port, "CCD Simulator.DRIVER_INFO.DRIVER_INTERFACE").isEmpty(), 20000);
        // A star of magnitude 10 fills the 16 bits in a second: bright enough for the plain
        // preview without a stretch.
        QVERIFY(setprop(port, "CCD Simulator.SIMULATOR_SETTINGS.SIM_SATURATION=10"));
    };
    startServer();
    Rig rig(std::make_unique<IndiDriverSource>(QList<IndiServer>{{"localhost", port}}));
    QElapsedTimer sinceVideo;
    sinceVideo.start();
    QCOMPARE(rig.layer->driverDescription(0).value_or(DriverDescription{}).name,
             QStringLiteral("CCD Simulator"));
    QVERIFY(!rig.layer->driverDescription(1));
    QVERIFY(rig.window->driverConnect(0));
    QSize size;
    // Known at once but on a machine too busy to connect the simulator within the wait: the
    // window fits itself to it.
    QTRY_VERIFY(rig.window->getStatus(&size));
    QCOMPARE(size, QSize(1280, 1024));
    QTRY_VERIFY2_WITH_TIMEOUT(rig.shown().size() == QSize(1280, 1024),
                              qPrintable(rig.texts.join('\n')), 20000);
    qInfo("listing, connecting and the first 1 s exposure took %lld ms", sinceVideo.elapsed());
    QVERIFY(rig.told("CCD Simulator on localhost: 1280 x 1024, 16-bit, 1.0 s exposures"));

    // Stars, once the simulator knows the telescope's focal length (a property it defines
    // when connected): a dark sky with bright points in it.
    QVERIFY(setprop(port, "CCD Simulator.SCOPE_INFO.FOCAL_LENGTH;APERTURE=900;120"));
    QTRY_VERIFY_WITH_TIMEOUT(brightAndMedian(rig.shown(), 128).first >= 9, 20000);
    QCOMPARE_LT(brightAndMedian(rig.shown(), 128).second, 16);
    {
        SourceDialog dialog(*rig.window->device());
        dialog.findChild<QWidget *>("control2")->findChild<QSpinBox *>()->setValue(37);
        dialog.findChild<QWidget *>("control1")->findChild<QSpinBox *>()->setValue(200);
    }
    QTRY_COMPARE(getprop(port, "CCD Simulator.CCD_GAIN.GAIN"), QStringLiteral("37"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.told("0.2 s exposures"), 5000);

    // The newest frame saved as FITS reads back in Astropy at its depth, with the camera's facts.
    {
        QTemporaryDir saved;
        const QString path = saved.filePath(QStringLiteral("ccd.fits"));
        const ShownFrame newest = rig.window->newestFrame();
        QCOMPARE(newest.frame.format(), QImage::Format_Grayscale16);
        const FrameFacts facts{rig.window->device()->cameraFacts(), rig.window->newestTakenUtc()};
        QString error;
        QVERIFY2(saveFits(path, newest.frame, newest.sampleBits, facts, &error), qPrintable(error));
        qint64 sum = 0;
        for (int y = 0; y < newest.frame.height(); ++y) {
            const auto *row = reinterpret_cast<const quint16 *>(newest.frame.constScanLine(y));
            sum = std::accumulate(row, row + newest.frame.width(), sum);
        }
        const QString faults = astropyFaults(
            path, {"BITPIX=16", "BZERO=32768", "shape=1024,1280", "EXPTIME=0.2", "GAIN=37",
                   "INSTRUME=CCD Simulator", "XPIXSZ=5.2", "YPIXSZ=5.2", "XBINNING=1",
                   QStringLiteral("sum=%1").arg(sum)});
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
    }

    // The driver's video stream, chosen as a format, and back to exposures.
    CaptureDevice &camera = *rig.window->device();
    const QList<PixelFormatChoice> formats = camera.pixelFormats();
    QCOMPARE(formats.size(), 2);
    const quint32 stream = formats[1].pixelFormat;
    const QSize streamSize = camera.frameSizes(stream).value(0);
    QCOMPARE(streamSize, QSize(1280, 1024));
    QVERIFY(
        camera.setFormat({stream, streamSize, camera.frameIntervals(stream, streamSize).value(0)}));
    QTRY_COMPARE(getprop(port, "CCD Simulator.CCD_VIDEO_STREAM.STREAM_ON"), QStringLiteral("On"));
    rig.window->findChild<PreviewWidget *>()->setFrame(QImage());
    QTRY_VERIFY_WITH_TIMEOUT(rig.told("1280 x 1024, 8-bit video stream"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.shown().size(), QSize(1280, 1024), 10000);
    int frames = 0;
    QElapsedTimer streaming;
    streaming.start();
    QObject::connect(&camera, &CaptureDevice::frameArrived, &camera, [&frames] { ++frames; });
    QTRY_VERIFY_WITH_TIMEOUT(frames >= 10, 20000);
    qInfo("the stream brought %d frames in %lld ms", frames, streaming.elapsed());
    {
        // The stream has an exposure of its own.
        SourceDialog dialog(camera);
        dialog.findChild<QWidget *>("control1")->findChild<QSpinBox *>()->setValue(250);
    }
    QTRY_COMPARE(
        getprop(port, "CCD Simulator.STREAMING_EXPOSURE.STREAMING_EXPOSURE_VALUE").toDouble(),
        0.25);
    QVERIFY(camera.setFormat({formats[0].pixelFormat, streamSize,
                              camera.frameIntervals(formats[0].pixelFormat, streamSize).value(0)}));
    QTRY_COMPARE(getprop(port, "CCD Simulator.CCD_VIDEO_STREAM.STREAM_ON"), QStringLiteral("Off"));

    // A window in the middle of the sensor, then the whole sensor binned.
    const quint32 exposures = formats[0].pixelFormat;
    const QList<QSize> sizes = camera.frameSizes(exposures);
    QVERIFY2(sizes.contains(QSize(512, 512)) && sizes.contains(QSize(640, 512)),
             qPrintable(QStringLiteral("%1 sizes").arg(sizes.size())));
    QCOMPARE(camera.frameSizeText(exposures, QSize(640, 512)),
             QStringLiteral("640 x 512, binned 2 x 2"));
    QCOMPARE(camera.frameSizeText(exposures, QSize(512, 512)),
             QStringLiteral("512 x 512, middle of the sensor"));
    for (const QSize chosen : {QSize(512, 512), QSize(640, 512)}) {
        QVERIFY(camera.setFormat({exposures, chosen, camera.frameIntervals(exposures, chosen)[0]}));
        QTRY_COMPARE_WITH_TIMEOUT(rig.shown().size(), chosen, 10000);
    }
    QCOMPARE(getprop(port, "CCD Simulator.CCD_FRAME.WIDTH"), QStringLiteral("1280"));

    // Frames the server compresses (tile-compressed FITS) show like any other.
    QVERIFY(setprop(port, "CCD Simulator.CCD_COMPRESSION.INDI_ENABLED=On"));
    QTRY_COMPARE(getprop(port, "CCD Simulator.CCD_COMPRESSION.INDI_ENABLED"), QStringLiteral("On"));
    rig.texts.clear();
    // The frame under way may still come plain: the one after it is compressed.
    int compressed = 0;
    QObject::connect(&camera, &CaptureDevice::frameArrived, &camera,
                     [&compressed] { ++compressed; });
    QTRY_VERIFY_WITH_TIMEOUT(compressed >= 2 || rig.told("refused"), 15000);
    QVERIFY2(!rig.told("refused"), qPrintable(rig.texts.join('\n')));
    QCOMPARE(rig.shown().size(), QSize(640, 512));

    indi.kill();
    indi.waitForFinished();
    QTRY_VERIFY_WITH_TIMEOUT(rig.told("CCD Simulator on localhost lost: the INDI server went away"),
                             10000);
    QVERIFY(!rig.window->getStatus(&size));

    // Back again: a new connect shows pictures.
    startServer();
    QVERIFY(rig.window->driverConnect(0));
    rig.window->findChild<PreviewWidget *>()->setFrame(QImage());
    QTRY_COMPARE_WITH_TIMEOUT(rig.shown().size(), QSize(1280, 1024), 20000);
    indi.kill();
    indi.waitForFinished();
}

void IndiTest::exposureInSeconds_data()
{
    // The fake driver's exposures run from 0 to 3600 s; the control's, from 1 ms to a minute.
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("exposureMs");
    QTest::newRow("2.5 s") << 2.5 << true << 2500;
    QTest::newRow("shortest") << 0.001 << true << 1;
    QTest::newRow("longest") << 60.0 << true << 60000;
    QTest::newRow("too short") << 0.0004 << false << 1000;
    QTest::newRow("too long") << 60.5 << false << 1000;
    QTest::newRow("not a number") << std::nan("") << false << 1000;
}

void IndiTest::exposureInSeconds()
{
    QFETCH(double, seconds);
    QFETCH(int, exposureMs);
    test::FakeCcdServer server({});
    Rig rig(std::make_unique<IndiDriverSource>(QList<IndiServer>{{"127.0.0.1", server.port()}}));
    QVERIFY(rig.window->driverConnect(0));
    // The driver's limits have come once it is asked for an exposure.
    QTRY_COMPARE(server.received("CCD_EXPOSURE"), 1);
    CaptureDevice &camera = *rig.window->device();
    QTEST(camera.setExposureSeconds(seconds), "taken");
    QCOMPARE(camera.controls().value(0).value, exposureMs);
    QCOMPARE(camera.cameraFacts().exposureSeconds, exposureMs / 1000.0);
}

QTEST_MAIN(IndiTest)
#include "video_indi.moc"
