// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/save/darklibrary.h"
#include "video/save/fitssave.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fitsio.h>

using namespace voruna;

namespace {

// A dark whose values all differ and are not whole numbers, near the top of 16-bit frames.
DarkFrame testDark(QSize size, int bits, double exposure, int frames = 4)
{
    DarkFrame dark{size, bits, exposure, frames, {}};
    dark.mean.resize(size_t(size.width() * size.height()));
    for (size_t i = 0; i < dark.mean.size(); ++i)
        dark.mean[i] = bits == 8 ? 0.37f * float(i) : 65535.0f - 13.25f * float(i);
    return dark;
}

// The header cards of a FITS file as cfitsio reads them, quotes and blanks taken off.
QHash<QString, QString> cards(const QString &path)
{
    QHash<QString, QString> out;
    fitsfile *fits = nullptr;
    int status = 0, count = 0;
    fits_open_diskfile(&fits, QFile::encodeName(path).constData(), READONLY, &status);
    fits_get_hdrspace(fits, &count, nullptr, &status);
    for (int i = 1; i <= count && status == 0; ++i) {
        char name[FLEN_KEYWORD] = {}, value[FLEN_VALUE] = {};
        fits_read_keyn(fits, i, name, value, nullptr, &status);
        out.insert(name, QString::fromLatin1(value).remove(QLatin1Char('\'')).trimmed());
    }
    int closing = 0;
    fits_close_file(fits, &closing);
    return out;
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class VideoDarks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void folderName_data();
    void folderName();
    void roundTrip_data();
    void roundTrip();
    void badFilesGiveAReason_data();
    void badFilesGiveAReason();
    void listsAndFindsTheLongest();

private:
    QTemporaryDir m_dir;
};

void VideoDarks::folderName_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<QString>("folder");
    QTest::newRow("simulator") << "Voruna Sky Simulator"
                               << "Voruna Sky Simulator";
    QTest::newRow("slashes") << "usb/0:1/cam"
                             << "usb-0:1-cam";
    QTest::newRow("leading dots") << "../.. cam"
                                  << "-.. cam";
    QTest::newRow("control") << "a\nb\tc"
                             << "a-b-c";
    QTest::newRow("empty") << ""
                           << "camera";
    QTest::newRow("dots only") << " .. "
                               << "camera";
    QTest::newRow("long") << QString(300, QLatin1Char('x')) << QString(80, QLatin1Char('x'));
}

void VideoDarks::folderName()
{
    QFETCH(QString, camera);
    QFETCH(QString, folder);
    QCOMPARE(DarkLibrary::folderName(camera), folder);
    QCOMPARE(DarkLibrary(camera, m_dir.path()).folder(), m_dir.path() + "/" + folder);
    QVERIFY(DarkLibrary(camera).folder().endsWith("/voruna/darks/" + folder));
}

void VideoDarks::roundTrip_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("bits");
    QTest::addColumn<double>("exposure");
    QTest::addColumn<QString>("file");
    QTest::newRow("8-bit, a tenth of a ms, slash in the name")
        << "vivid/0" << QSize(7, 5) << 8 << 0.0001 << "vivid-0/dark-7x5-8bit-0.1ms.fits";
    QTest::newRow("16-bit, seconds") << "CCD Simulator" << QSize(13, 3) << 16 << 12.5
                                     << "CCD Simulator/dark-13x3-16bit-12500ms.fits";
    QTest::newRow("one column, odd ms") << "Voruna Sky Simulator" << QSize(1, 9) << 16 << 0.0015
                                        << "Voruna Sky Simulator/dark-1x9-16bit-1.5ms.fits";
}

void VideoDarks::roundTrip()
{
    QFETCH(QString, camera);
    QFETCH(QSize, size);
    QFETCH(int, bits);
    QFETCH(double, exposure);
    QFETCH(QString, file);
    const DarkLibrary library(camera, m_dir.path());
    const DarkFrame dark = testDark(size, bits, exposure, 7);
    QString error;
    QVERIFY2(library.save(dark, &error), qPrintable(error));
    const QString path = m_dir.path() + "/" + file;
    QCOMPARE(library.filePath(size, bits, exposure), path);

    const QHash<QString, QString> header = cards(path);
    QCOMPARE(header.value("BITPIX"), "-32");
    QCOMPARE(header.value("NAXIS"), "2");
    QCOMPARE(header.value("NAXIS1").toInt(), size.width());
    QCOMPARE(header.value("NAXIS2").toInt(), size.height());
    QCOMPARE(header.value("ROWORDER"), "TOP-DOWN");
    QCOMPARE(header.value("IMAGETYP"), "Dark Frame");
    QCOMPARE(header.value("EXPTIME").toDouble(), exposure);
    QCOMPARE(header.value("NCOMBINE"), "7");
    QCOMPARE(header.value("FRMBITS").toInt(), bits);
    QCOMPARE(header.value("INSTRUME"), camera);
    QVERIFY(QDateTime::fromString(header.value("DATE"), Qt::ISODate).isValid());

    QString why;
    const std::optional<DarkFrame> back = library.load(exposure, size, bits, &why);
    QVERIFY2(back, qPrintable(why));
    QCOMPARE(back->size, size);
    QCOMPARE(back->bits, bits);
    QCOMPARE(back->exposureSeconds, exposure);
    QCOMPARE(back->frames, 7);
    QVERIFY(back->mean == dark.mean); // every value, in reading order
}

void VideoDarks::badFilesGiveAReason_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    // Good files written elsewhere, to be put under the name of a 7 x 5 8-bit dark of 1 s.
    const DarkLibrary source("source", m_dir.path());
    QString error;
    QVERIFY(source.save(testDark({7, 5}, 8, 1.0), &error));
    QVERIFY(source.save(testDark({6, 5}, 8, 1.0), &error));
    QVERIFY(source.save(testDark({7, 5}, 16, 1.0), &error));
    QVERIFY(source.save(testDark({7, 5}, 8, 2.0), &error));
    const QByteArray good = bytesOf(source.filePath({7, 5}, 8, 1.0));
    QImage frame(7, 5, QImage::Format_Grayscale8);
    frame.fill(9);
    const QByteArray picture = fitsBytes(frame, 8, {}, &error);

    QTest::newRow("empty") << QByteArray() << "cut short";
    QTest::newRow("torn") << good.left(good.size() - 2880) << "cut short";
    QTest::newRow("not FITS") << QByteArray(good.size(), 'x') << "not a FITS file";
    QTest::newRow("header cut") << good.left(80 * 10) + QByteArray(5000, ' ') << "not a FITS";
    QTest::newRow("a saved picture") << picture << "another version of Voruna";
    QTest::newRow("wrong size") << bytesOf(source.filePath({6, 5}, 8, 1.0)) << "not a 7 x 5 image";
    QTest::newRow("wrong depth") << bytesOf(source.filePath({7, 5}, 16, 1.0))
                                 << "from 16-bit frames, not 8-bit";
    QTest::newRow("wrong exposure")
        << bytesOf(source.filePath({7, 5}, 8, 2.0)) << "exposure is 2000 ms";
    QByteArray nan = good;
    nan.replace(nan.size() - 2880, 4, QByteArray::fromHex("7fc00000"));
    QTest::newRow("not a number") << nan << "not numbers";
}

void VideoDarks::badFilesGiveAReason()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const DarkLibrary library("bad", m_dir.path());
    QVERIFY(QDir().mkpath(library.folder()));
    const QString path = library.filePath({7, 5}, 8, 1.0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();

    QString why;
    QVERIFY(!library.load(1.0, {7, 5}, 8, &why));
    QVERIFY2(why.contains(reason), qPrintable(why));
    QVERIFY2(why.contains("dark-7x5-8bit-1000ms.fits"), qPrintable(why));
    QVERIFY(!library.longest({7, 5}, 8, &why));
    QCOMPARE(bytesOf(path), bytes); // left as it was
}

void VideoDarks::listsAndFindsTheLongest()
{
    const DarkLibrary library("listing", m_dir.path());
    QString why;
    QVERIFY(!library.longest({7, 5}, 8, &why));
    QCOMPARE(why, "there are no darks for 7 x 5 8-bit frames");
    for (double exposure : {2.0, 0.0002, 0.5, 0.0001})
        QVERIFY(library.save(testDark({7, 5}, 8, exposure), &why));
    QVERIFY(library.save(testDark({7, 5}, 16, 4.0), &why));
    QVERIFY(library.save(testDark({9, 5}, 8, 4.0), &why));
    QFile stray(library.folder() + "/dark-7x5-8bit-soonms.fits");
    QVERIFY(stray.open(QIODevice::WriteOnly));
    stray.close();

    const std::vector<double> kept = library.exposures({7, 5}, 8), want{0.0001, 0.0002, 0.5, 2.0};
    QCOMPARE(kept.size(), want.size());
    for (size_t i = 0; i < kept.size(); ++i)
        QCOMPARE(kept[i], want[i]);
    QCOMPARE(library.exposures({7, 5}, 16), std::vector<double>{4.0});
    QCOMPARE(library.longest({7, 5}, 8, &why)->exposureSeconds, 2.0);
    QVERIFY(why.isEmpty());
    QCOMPARE(library.load(0.50004, {7, 5}, 8, &why)->exposureSeconds, 0.5);
    QVERIFY(!library.load(0.51, {7, 5}, 8, &why));
    QCOMPARE(why, "there is no dark of 510 ms for 7 x 5 8-bit frames");

    // A torn longest dark is passed over, and said so.
    QFile torn(library.filePath({7, 5}, 8, 2.0));
    QVERIFY(torn.resize(100));
    QCOMPARE(library.longest({7, 5}, 8, &why)->exposureSeconds, 0.5);
    QVERIFY2(why.contains("dark-7x5-8bit-2000ms.fits"), qPrintable(why));
}

QTEST_APPLESS_MAIN(VideoDarks)
#include "video_darks.moc"
