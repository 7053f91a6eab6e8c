// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/save/fitssave.h"
#include "video/save/framerecorder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <fitsio.h>

using namespace voruna;

namespace {

// What cfitsio reads back of a saved file: its type, axes, header cards and samples.
struct ReadBack {
    int bitpix = 0, status = 0;
    QList<long> axes;
    QHash<QString, QString> cards;
    std::vector<long> samples;
};

ReadBack readFits(const QString &path)
{
    ReadBack out;
    fitsfile *fits = nullptr;
    int &status = out.status, naxis = 0, cards = 0;
    long size[3] = {1, 1, 1};
    fits_open_diskfile(&fits, QFile::encodeName(path).constData(), READONLY, &status);
    fits_get_img_equivtype(fits, &out.bitpix, &status);
    fits_get_img_param(fits, 3, &cards, &naxis, size, &status); // `cards` only as a placeholder
    fits_get_hdrspace(fits, &cards, nullptr, &status);
    for (int i = 1; i <= cards && status == 0; ++i) {
        char name[FLEN_KEYWORD] = {}, value[FLEN_VALUE] = {};
        fits_read_keyn(fits, i, name, value, nullptr, &status);
        out.cards.insert(name, QString::fromLatin1(value).remove(QLatin1Char('\'')).trimmed());
    }
    out.axes = QList<long>(size, size + naxis);
    out.samples.resize(std::size_t(size[0] * size[1] * size[2]));
    fits_read_img(fits, TLONG, 1, LONGLONG(out.samples.size()), nullptr, out.samples.data(),
                  nullptr, &status);
    int closing = 0;
    fits_close_file(fits, &closing);
    return out;
}

// A 5 x 3 frame whose samples all differ: (x, y) of plane p is 10 y + x + 1 + 40 p at the
// camera's `bits`, shifted up to 16 bits for the deep formats. Grey formats have one plane.
QImage testFrame(QImage::Format format, int bits)
{
    QImage frame(5, 3, format);
    const bool grey = format == QImage::Format_Grayscale16 || format == QImage::Format_RGB888;
    const int up = bits > 8 ? 16 - bits : 0;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const int v = 10 * y + x + 1, g = grey ? v : v + 40, b = grey ? v : v + 80;
            if (format == QImage::Format_Grayscale16)
                reinterpret_cast<quint16 *>(frame.scanLine(y))[x] = quint16(v << up);
            else if (bits == 8)
                frame.setPixel(x, y, qRgb(v, g, b));
            else
                frame.setPixelColor(x, y, QColor::fromRgba64(quint16(v << up), quint16(g << up),
                                                             quint16(b << up)));
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
    void earlierFilesStayWhole();
};

void VideoSave::readsBackWithDepthAndHeaders_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("planes");
    QTest::addColumn<double>("gain");

    QTest::newRow("8-bit grey in a colour buffer") << QImage::Format_RGB888 << 8 << 1 << 40.0;
    QTest::newRow("8-bit colour") << QImage::Format_RGB32 << 8 << 3 << -1.0;
    QTest::newRow("12-bit grey") << QImage::Format_Grayscale16 << 12 << 1 << 0.0;
    QTest::newRow("16-bit grey") << QImage::Format_Grayscale16 << 16 << 1 << 100.0;
    QTest::newRow("10-bit colour") << QImage::Format_RGBX64 << 10 << 3 << 5.0;
}

void VideoSave::readsBackWithDepthAndHeaders()
{
    QFETCH(QImage::Format, format);
    QFETCH(int, bits);
    QFETCH(int, planes);
    QFETCH(double, gain);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frame.fits"));
    const FrameFacts facts{{.name = QStringLiteral("CCD Simulator"), .exposureSeconds = 1.5,
                            .pixelWidthMicrons = 5.2, .pixelHeightMicrons = 4.8, .binX = 2,
                            .binY = 1, .gain = gain},
                           QDateTime(QDate(2026, 3, 1), QTime(22, 5, 7, 250), QTimeZone::utc())};
    const QImage frame = testFrame(format, bits);
    QString error;
    QVERIFY2(saveFits(path, frame, bits, facts, &error), qPrintable(error));
    QVERIFY(QFileInfo(path).size() <= fitsSize(frame));

    const ReadBack fits = readFits(path);
    QCOMPARE(fits.status, 0);
    QCOMPARE(fits.bitpix, bits == 8 ? BYTE_IMG : USHORT_IMG);
    QCOMPARE(fits.cards.value("BZERO"), bits == 8 ? QString() : QStringLiteral("32768"));
    QCOMPARE(fits.axes, (planes == 1 ? QList<long>{5, 3} : QList<long>{5, 3, 3}));
    // Top row first, then the green and blue planes, at the camera's own levels.
    QCOMPARE(fits.samples[0], 1L);
    QCOMPARE(fits.samples[2 * 5 + 4], 25L);
    if (planes == 3) {
        QCOMPARE(fits.samples[15 + 2 * 5 + 4], 65L);
        QCOMPARE(fits.samples[30 + 1], 82L);
    }
    const QHash<QString, QString> expected{
        {"EXPTIME", "1.5"}, {"DATE-OBS", "2026-03-01T22:05:07.250"}, {"INSTRUME", "CCD Simulator"},
        {"XPIXSZ", "10.4"}, {"YPIXSZ", "4.8"}, {"XBINNING", "2"}, {"YBINNING", "1"},
        {"GAIN", gain < 0 ? QString() : QString::number(gain)}};
    for (auto card = expected.cbegin(); card != expected.cend(); ++card) {
        const QString found = fits.cards.value(card.key());
        const bool same = found == card.value()
                          || (!found.isEmpty() && found.toDouble() == card.value().toDouble());
        QVERIFY2(same, qPrintable(card.key() + QStringLiteral(" is ") + found));
    }
}

void VideoSave::recordingStopsBeforeTheDiskIsFull_data()
{
    // The disk's room above what the recording keeps free, in frames and less a few bytes.
    QTest::addColumn<qint64>("roomInFrames");
    QTest::addColumn<qint64>("shortBy");
    QTest::addColumn<int>("saved");

    QTest::newRow("room for three") << qint64(3) << qint64(0) << 3;
    QTest::newRow("room for none") << qint64(0) << qint64(0) << 0;
    QTest::newRow("a byte short of one") << qint64(1) << qint64(1) << 0;
    QTest::newRow("room unknown: recording goes on") << qint64(-1) << qint64(0) << 6;
}

void VideoSave::recordingStopsBeforeTheDiskIsFull()
{
    QFETCH(qint64, roomInFrames);
    QFETCH(qint64, shortBy);
    QFETCH(int, saved);
    QTemporaryDir dir;
    const QImage frame = testFrame(QImage::Format_Grayscale16, 16);
    // A disk whose free room shrinks with what the folder holds; these frames are so small
    // that the fixed reserve is the margin.
    const qint64 capacity =
        FrameRecorder::reserveBytes + roomInFrames * fitsSize(frame) - shortBy;
    qint64 lowest = capacity;
    const auto disk = [&](const QString &folder) -> qint64 {
        if (roomInFrames < 0)
            return -1;
        qint64 free = capacity;
        for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files))
            free -= file.size();
        lowest = std::min(lowest, free);
        return free;
    };
    FrameRecorder recorder(dir.path(), QDateTime::currentDateTimeUtc(), disk);
    QString message;
    auto outcome = FrameRecorder::Outcome::Saved;
    for (int i = 0; i < 6 && outcome == FrameRecorder::Outcome::Saved; ++i)
        outcome = recorder.record(frame, 16, {}, &message);

    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), saved);
    QCOMPARE(outcome, saved < 6 ? FrameRecorder::Outcome::DiskNearlyFull
                                : FrameRecorder::Outcome::Saved);
    QVERIFY(roomInFrames < 0 || lowest >= FrameRecorder::reserveBytes);
    QVERIFY2(saved == 6 || message.contains(QStringLiteral("%1 frame").arg(saved)),
             qPrintable(message));
}

void VideoSave::earlierFilesStayWhole()
{
    QTemporaryDir dir;
    const QImage frame = testFrame(QImage::Format_RGB32, 8);
    const QDateTime start(QDate(2026, 3, 1), QTime(22, 0), QTimeZone::utc());
    // A recording begun in the same second as an earlier one numbers on past its files.
    QFile earlier(dir.filePath(QStringLiteral("voruna-20260301-220000-00001.fits")));
    QVERIFY(earlier.open(QIODevice::ReadWrite));
    earlier.write("earlier");
    FrameRecorder recorder(dir.path(), start, [](const QString &) { return qint64(1) << 40; });
    QString message, error;
    QCOMPARE(recorder.record(frame, 8, {}, &message), FrameRecorder::Outcome::Saved);
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("voruna-20260301-220000-00002.fits"))));
    // A picture that cannot be made leaves the file it was to replace as it was.
    QVERIFY(!saveFits(earlier.fileName(), QImage(), 8, {}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(earlier.seek(0));
    QCOMPARE(earlier.readAll(), QByteArray("earlier"));
}

QTEST_APPLESS_MAIN(VideoSave)
#include "video_save.moc"
