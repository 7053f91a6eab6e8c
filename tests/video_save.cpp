// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/save/fitssave.h"
#include "video/save/framerecorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <fitsio.h>

#include <memory>

using namespace voruna;

namespace {

// What cfitsio reads back of a saved file: its header cards by name and its samples.
struct ReadBack {
    int bitpix = 0;
    QList<long> axes;
    QHash<QString, QString> cards;
    std::vector<long> samples;
    QString error;
};

ReadBack readFits(const QString &path)
{
    ReadBack out;
    fitsfile *fits = nullptr;
    int status = 0, naxis = 0, cards = 0;
    long size[3] = {1, 1, 1};
    fits_open_diskfile(&fits, QFile::encodeName(path).constData(), READONLY, &status);
    fits_get_img_equivtype(fits, &out.bitpix, &status);
    fits_get_img_dim(fits, &naxis, &status);
    fits_get_img_size(fits, std::min(naxis, 3), size, &status);
    fits_get_hdrspace(fits, &cards, nullptr, &status);
    for (int i = 1; i <= cards && status == 0; ++i) {
        char name[FLEN_KEYWORD] = {}, value[FLEN_VALUE] = {}, comment[FLEN_COMMENT] = {};
        fits_read_keyn(fits, i, name, value, comment, &status);
        out.cards.insert(QString::fromLatin1(name),
                         QString::fromLatin1(value).remove(QLatin1Char('\'')).trimmed());
    }
    for (int i = 0; i < naxis; ++i)
        out.axes.append(size[i]);
    out.samples.resize(std::size_t(size[0] * size[1] * (naxis == 3 ? size[2] : 1)));
    fits_read_img(fits, TLONG, 1, LONGLONG(out.samples.size()), nullptr, out.samples.data(),
                  nullptr, &status);
    if (status) {
        char text[FLEN_STATUS] = {};
        fits_get_errstatus(status, text);
        out.error = QString::fromLatin1(text);
    }
    int closing = 0;
    if (fits)
        fits_close_file(fits, &closing);
    return out;
}

// A 5 x 3 frame whose every pixel differs: sample (x, y) of plane p is 10 y + x + 1 + 40 p, at
// 8 bits, or that shifted up to 16 bits with `bits` telling the camera's depth.
QImage testFrame(QImage::Format format, int bits)
{
    QImage frame(5, 3, format);
    const bool grey = format == QImage::Format_Grayscale16 || format == QImage::Format_RGB888;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const int v = 10 * y + x + 1;
            const int r = v, g = grey ? v : v + 40, b = grey ? v : v + 80;
            if (format == QImage::Format_Grayscale16)
                reinterpret_cast<quint16 *>(frame.scanLine(y))[x] = quint16(v << (16 - bits));
            else if (format == QImage::Format_RGBX64)
                frame.setPixelColor(x, y, QColor::fromRgba64(QRgba64::fromRgba64(
                                              quint16(r << (16 - bits)), quint16(g << (16 - bits)),
                                              quint16(b << (16 - bits)), 0xffff)));
            else
                frame.setPixel(x, y, qRgb(r, g, b));
        }
    }
    return frame;
}

} // namespace

class VideoSave : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsBackWithDepthAndHeaders_data();
    void readsBackWithDepthAndHeaders();
    void recordingStopsBeforeTheDiskIsFull_data();
    void recordingStopsBeforeTheDiskIsFull();
    void failedWritesLoseNothing();
};

void VideoSave::readsBackWithDepthAndHeaders_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("bitpix");
    QTest::addColumn<int>("planes");
    QTest::addColumn<QString>("bzero");
    QTest::addColumn<double>("gain");

    QTest::newRow("8-bit grey in a colour buffer") << QImage::Format_RGB888 << 8 << 8 << 1 << "" << 40.0;
    QTest::newRow("8-bit colour") << QImage::Format_RGB32 << 8 << 8 << 3 << "" << -1.0;
    QTest::newRow("12-bit grey at its own levels")
        << QImage::Format_Grayscale16 << 12 << 16 << 1 << "32768" << 0.0;
    QTest::newRow("16-bit grey") << QImage::Format_Grayscale16 << 16 << 16 << 1 << "32768" << 100.0;
    QTest::newRow("10-bit colour") << QImage::Format_RGBX64 << 10 << 16 << 3 << "32768" << 5.0;
}

void VideoSave::readsBackWithDepthAndHeaders()
{
    QFETCH(QImage::Format, format);
    QFETCH(int, bits);
    QFETCH(int, bitpix);
    QFETCH(int, planes);
    QFETCH(QString, bzero);
    QFETCH(double, gain);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frame.fits"));
    FrameFacts facts;
    facts.camera = {.name = QStringLiteral("CCD Simulator"), .exposureSeconds = 1.5,
                    .pixelWidthMicrons = 5.2, .pixelHeightMicrons = 4.8, .binX = 2, .binY = 1,
                    .gain = gain};
    facts.exposureStart = QDateTime(QDate(2026, 3, 1), QTime(22, 5, 7, 250), QTimeZone::utc());
    QString error;
    const QImage frame = testFrame(format, bits);
    QVERIFY2(saveFits(path, frame, bits, facts, &error), qPrintable(error));
    QVERIFY(QFileInfo(path).size() <= fitsSize(frame));

    const ReadBack fits = readFits(path);
    QVERIFY2(fits.error.isEmpty(), qPrintable(fits.error));
    QCOMPARE(fits.bitpix, bitpix == 8 ? BYTE_IMG : USHORT_IMG);
    QCOMPARE(fits.cards.value("BITPIX"), QString::number(bitpix));
    QCOMPARE(fits.cards.value("BZERO"), bzero);
    QCOMPARE(fits.axes, (planes == 1 ? QList<long>{5, 3} : QList<long>{5, 3, 3}));
    // Top row first, planes red, green, blue, at the camera's own levels.
    const long area = 15;
    QCOMPARE(fits.samples[0], 1L);
    QCOMPARE(fits.samples[2 * 5 + 4], 25L);
    if (planes == 3) {
        QCOMPARE(fits.samples[area + 2 * 5 + 4], 65L);
        QCOMPARE(fits.samples[2 * area + 1], 82L);
    }
    QCOMPARE(fits.cards.value("EXPTIME").toDouble(), 1.5);
    QCOMPARE(fits.cards.value("DATE-OBS"), "2026-03-01T22:05:07.250");
    QCOMPARE(fits.cards.value("INSTRUME"), "CCD Simulator");
    QCOMPARE(fits.cards.value("XPIXSZ").toDouble(), 10.4);
    QCOMPARE(fits.cards.value("YPIXSZ").toDouble(), 4.8);
    QCOMPARE(fits.cards.value("XBINNING"), "2");
    QCOMPARE(fits.cards.value("YBINNING"), "1");
    QCOMPARE(fits.cards.contains("GAIN"), gain >= 0);
    if (gain >= 0)
        QCOMPARE(fits.cards.value("GAIN").toDouble(), gain);
}

void VideoSave::recordingStopsBeforeTheDiskIsFull_data()
{
    // The disk's room beyond what the recording needs to keep, in frames.
    QTest::addColumn<qint64>("roomInFrames");
    QTest::addColumn<qint64>("shortBy"); // bytes
    QTest::addColumn<bool>("roomKnown");
    QTest::addColumn<int>("saved");

    QTest::newRow("room for three") << qint64(3) << qint64(0) << true << 3;
    QTest::newRow("room for none") << qint64(0) << qint64(0) << true << 0;
    QTest::newRow("a byte short of one") << qint64(1) << qint64(1) << true << 0;
    QTest::newRow("room unknown: recording goes on") << qint64(0) << qint64(0) << false << 6;
}

void VideoSave::recordingStopsBeforeTheDiskIsFull()
{
    QFETCH(qint64, roomInFrames);
    QFETCH(qint64, shortBy);
    QFETCH(bool, roomKnown);
    QFETCH(int, saved);
    QTemporaryDir dir;
    const QImage frame = testFrame(QImage::Format_Grayscale16, 16);
    const qint64 frameBytes = fitsSize(frame);
    // A disk whose free room shrinks by what the folder holds; the margin is the reserve, as these
    // frames are small.
    const qint64 capacity = FrameRecorder::reserveBytes + roomInFrames * frameBytes - shortBy;
    qint64 lowest = capacity;
    FreeSpaceQuery disk = [&](const QString &folder) -> qint64 {
        if (!roomKnown)
            return -1;
        qint64 used = 0;
        for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files))
            used += file.size();
        lowest = std::min(lowest, capacity - used);
        return capacity - used;
    };
    FrameRecorder recorder(dir.path(), QDateTime::currentDateTimeUtc(), disk);
    QString message;
    FrameRecorder::Outcome outcome = FrameRecorder::Outcome::Saved;
    for (int i = 0; i < 6 && outcome == FrameRecorder::Outcome::Saved; ++i)
        outcome = recorder.record(frame, 16, {}, &message);

    QCOMPARE(recorder.framesSaved(), saved);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), saved);
    QCOMPARE(outcome, saved < 6 ? FrameRecorder::Outcome::DiskNearlyFull
                                : FrameRecorder::Outcome::Saved);
    QVERIFY(lowest >= FrameRecorder::reserveBytes);
    if (saved < 6)
        QVERIFY2(message.contains(QStringLiteral("%1 frame").arg(saved)), qPrintable(message));
}

void VideoSave::failedWritesLoseNothing()
{
    QTemporaryDir dir;
    const QImage frame = testFrame(QImage::Format_RGB32, 8);
    const QDateTime start(QDate(2026, 3, 1), QTime(22, 0), QTimeZone::utc());
    // A file of an earlier recording begun in the same second keeps its bytes.
    const QString earlier = dir.filePath(QStringLiteral("voruna-20260301-220000-00001.fits"));
    {
        QFile file(earlier);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier");
    }
    FrameRecorder recorder(dir.path(), start, [](const QString &) { return qint64(1) << 40; });
    QString message;
    QCOMPARE(recorder.record(frame, 8, {}, &message), FrameRecorder::Outcome::Saved);
    QFile file(earlier);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("earlier"));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("voruna-20260301-220000-00002.fits"))));

    // A folder gone meanwhile ends the recording with its reason; a picture saved over a file
    // that cannot be replaced leaves that file whole.
    FrameRecorder gone(dir.filePath(QStringLiteral("gone")), start,
                       [](const QString &) { return qint64(1) << 40; });
    QCOMPARE(gone.record(frame, 8, {}, &message), FrameRecorder::Outcome::Failed);
    QVERIFY2(message.contains(QStringLiteral("0 frames")), qPrintable(message));
    QString error;
    QVERIFY(!saveFits(dir.filePath(QStringLiteral("gone/frame.fits")), frame, 8, {}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!saveFits(earlier, QImage(), 8, {}, &error));
    QVERIFY(file.seek(0));
    QCOMPARE(file.readAll(), QByteArray("earlier"));
}

QTEST_APPLESS_MAIN(VideoSave)
#include "video_save.moc"
