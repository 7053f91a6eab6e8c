// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/save/darklibrary.h"
#include "video/save/fitsheader.h"
#include "video/save/fitssave.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

namespace voruna {

namespace {

// The layout of the dark files this Voruna writes, in their DARKVER card; files without it or
// with another are not read.
constexpr long kDarkLayout = 1;
constexpr qsizetype kMaxFolderName = 80; // at most 240 bytes in UTF-8, under the 255 allowed

QString milliseconds(double seconds)
{
    QString text = QString::number(seconds * 1000.0, 'f', 4);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

QString describe(double seconds, QSize size, int bits)
{
    return QStringLiteral("%1 ms for %2 x %3 %4-bit frames")
        .arg(milliseconds(seconds))
        .arg(size.width())
        .arg(size.height())
        .arg(bits);
}

// The kept darks of one size and depth: exposure in seconds and file name, shortest first.
std::vector<std::pair<double, QString>> entries(const QString &folder, QSize size, int bits)
{
    static const QRegularExpression pattern(
        QStringLiteral("^dark-(\\d+)x(\\d+)-(\\d+)bit-(\\d+(?:\\.\\d+)?)ms\\.fits$"));
    std::vector<std::pair<double, QString>> out;
    const QStringList names = QDir(folder).entryList({QStringLiteral("dark-*.fits")}, QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch m = pattern.match(name);
        if (m.hasMatch() && m.captured(1).toInt() == size.width()
            && m.captured(2).toInt() == size.height() && m.captured(3).toInt() == bits)
            out.emplace_back(m.captured(4).toDouble() / 1000.0, name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void writeCards(fitsfile *fits, const DarkFrame &dark, const QString &camera, int *status)
{
    fits_write_key_str(fits, "ROWORDER", "TOP-DOWN", "first row is the top of the picture", status);
    fits_write_key_str(fits, "IMAGETYP", "Dark Frame", "the mean of frames, telescope covered",
                       status);
    fits_write_key_dbl(fits, "EXPTIME", dark.exposureSeconds, -15, "[s] exposure", status);
    fits_write_key_lng(fits, "NCOMBINE", dark.frames, "frames averaged", status);
    fits_write_key_lng(fits, "FRMBITS", dark.bits, "bits of the frames averaged", status);
    if (!camera.isEmpty())
        fits_write_key_str(fits, "INSTRUME", fitsText(camera).constData(), "camera", status);
    fits_write_date(fits, status);
    fits_write_key_str(fits, "SWCREATE", "Voruna", "program that saved the dark", status);
    fits_write_key_lng(fits, "DARKVER", kDarkLayout, "layout of Voruna's dark files", status);
}

// The whole file of a dark: cfitsio's header, then the mean as big-endian floats.
QByteArray darkBytes(const DarkFrame &dark, const QString &camera, QString *error)
{
    long axes[2] = {dark.size.width(), dark.size.height()};
    const QByteArray head = fitsHeader(
        FLOAT_IMG, 2, axes,
        [&](fitsfile *fits, int *status) { writeCards(fits, dark, camera, status); }, error);
    if (head.isEmpty())
        return {};
    const qint64 data = qint64(dark.mean.size()) * 4;
    QByteArray bytes;
    try {
        bytes = QByteArray(qsizetype(head.size() + roundToFitsBlock(data)), '\0');
    } catch (const std::bad_alloc &) {
        *error = QStringLiteral("no memory to save the dark");
        return {};
    }
    std::memcpy(bytes.data(), head.constData(), size_t(head.size()));
    qToBigEndian<quint32>(dark.mean.data(), qsizetype(dark.mean.size()),
                          bytes.data() + head.size());
    return bytes;
}

// Closes a cfitsio file when it goes.
struct FitsCloser {
    fitsfile *fits = nullptr;
    ~FitsCloser()
    {
        int status = 0;
        if (fits)
            fits_close_file(fits, &status);
        fits_clear_errmsg();
    }
};

// What the header says against what the file's name promised; empty when they agree.
QString headerFault(fitsfile *fits, double exposureSeconds, QSize size, int bits, int *frames)
{
    int status = 0, bitpix = 0, naxis = 0;
    long axes[3] = {0, 0, 0};
    long layout = 0, depth = 0, combined = 0;
    double exposure = 0;
    char type[FLEN_VALUE] = {};
    fits_get_img_param(fits, 3, &bitpix, &naxis, axes, &status);
    if (status != 0)
        return QStringLiteral("it is not a FITS image");
    fits_read_key_lng(fits, "DARKVER", &layout, nullptr, &status);
    if (status != 0 || layout != kDarkLayout)
        return QStringLiteral("it was written by another version of Voruna");
    fits_read_key_str(fits, "IMAGETYP", type, nullptr, &status);
    fits_read_key_lng(fits, "FRMBITS", &depth, nullptr, &status);
    fits_read_key_dbl(fits, "EXPTIME", &exposure, nullptr, &status);
    fits_read_key_lng(fits, "NCOMBINE", &combined, nullptr, &status);
    if (status != 0 || qstrcmp(type, "Dark Frame") != 0 || combined < 1)
        return QStringLiteral("its header is damaged");
    if (bitpix != FLOAT_IMG || naxis != 2 || axes[0] != size.width() || axes[1] != size.height())
        return QStringLiteral("it is not a %1 x %2 image of floats")
            .arg(size.width())
            .arg(size.height());
    if (depth != bits)
        return QStringLiteral("it was taken from %1-bit frames, not %2-bit").arg(depth).arg(bits);
    if (!sameExposure(exposure, exposureSeconds))
        return QStringLiteral("its exposure is %1 ms").arg(milliseconds(exposure));
    *frames = int(combined);
    return {};
}

// The dark in `path`, checked against what its name promised; nullopt with the reason in `why`.
std::optional<DarkFrame> readDark(const QString &path, double exposureSeconds, QSize size, int bits,
                                  QString *why)
{
    const QFileInfo info(path);
    auto fail = [&](const QString &reason) {
        *why = QStringLiteral("the dark %1 cannot be used: %2").arg(info.fileName(), reason);
        return std::nullopt;
    };
    const qint64 count = qint64(size.width()) * size.height();
    if (info.size() < kFitsBlock + roundToFitsBlock(count * 4))
        return fail(QStringLiteral("it is cut short; take the darks again"));
    FitsCloser file;
    int status = 0;
    fits_open_diskfile(&file.fits, QFile::encodeName(path).constData(), READONLY, &status);
    if (status != 0)
        return fail(QStringLiteral("it is not a FITS file"));
    DarkFrame dark;
    if (const QString fault = headerFault(file.fits, exposureSeconds, size, bits, &dark.frames);
        !fault.isEmpty())
        return fail(fault);
    fits_read_key_dbl(file.fits, "EXPTIME", &dark.exposureSeconds, nullptr, &status);
    try {
        dark.mean.resize(size_t(count));
    } catch (const std::bad_alloc &) {
        return fail(QStringLiteral("there is no memory to read it"));
    }
    int anyNull = 0;
    fits_read_img(file.fits, TFLOAT, 1, LONGLONG(count), nullptr, dark.mean.data(), &anyNull,
                  &status);
    if (status != 0)
        return fail(fitsError(status));
    if (!std::all_of(dark.mean.begin(), dark.mean.end(), [](float v) { return std::isfinite(v); }))
        return fail(QStringLiteral("it holds values that are not numbers"));
    dark.size = size;
    dark.bits = bits;
    return dark;
}

} // namespace

DarkLibrary::DarkLibrary(const QString &camera, QString root) : m_camera(camera)
{
    if (root.isEmpty())
        root = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
               + QStringLiteral("/voruna/darks");
    m_folder = root + QLatin1Char('/') + folderName(camera);
}

QString DarkLibrary::folderName(const QString &camera)
{
    QString name;
    for (const QChar c : camera)
        name +=
            (c == QLatin1Char('/') || c.category() == QChar::Other_Control) ? QLatin1Char('-') : c;
    qsizetype start = 0;
    while (start < name.size() && (name[start] == QLatin1Char('.') || name[start].isSpace()))
        ++start;
    name = name.mid(start, kMaxFolderName);
    if (name.size() == kMaxFolderName && name.back().isHighSurrogate())
        name.chop(1);
    name = name.trimmed();
    return name.isEmpty() ? QStringLiteral("camera") : name;
}

QString DarkLibrary::filePath(QSize size, int bits, double exposureSeconds) const
{
    return QStringLiteral("%1/dark-%2x%3-%4bit-%5ms.fits")
        .arg(m_folder)
        .arg(size.width())
        .arg(size.height())
        .arg(bits)
        .arg(milliseconds(exposureSeconds));
}

bool DarkLibrary::save(const DarkFrame &dark, QString *error) const
{
    if (!dark.isValid() || !(dark.exposureSeconds >= 0)) {
        *error = QStringLiteral("there is no whole dark to save");
        return false;
    }
    if (!QDir().mkpath(m_folder)) {
        *error = QStringLiteral("the folder %1 cannot be made").arg(m_folder);
        return false;
    }
    const QByteArray bytes = darkBytes(dark, m_camera, error);
    return !bytes.isEmpty()
           && writeWhole(filePath(dark.size, dark.bits, dark.exposureSeconds), bytes, error);
}

std::vector<double> DarkLibrary::exposures(QSize size, int bits) const
{
    std::vector<double> out;
    for (const auto &entry : entries(m_folder, size, bits))
        out.push_back(entry.first);
    return out;
}

std::optional<DarkFrame> DarkLibrary::load(double exposureSeconds, QSize size, int bits,
                                           QString *why) const
{
    const auto kept = entries(m_folder, size, bits);
    auto best = kept.end();
    for (auto it = kept.begin(); it != kept.end(); ++it)
        if (sameExposure(it->first, exposureSeconds)
            && (best == kept.end()
                || std::abs(it->first - exposureSeconds) < std::abs(best->first - exposureSeconds)))
            best = it;
    if (best == kept.end()) {
        *why = QStringLiteral("there is no dark of %1").arg(describe(exposureSeconds, size, bits));
        return std::nullopt;
    }
    return readDark(m_folder + QLatin1Char('/') + best->second, best->first, size, bits, why);
}

std::optional<DarkFrame> DarkLibrary::longest(QSize size, int bits, QString *why) const
{
    const auto kept = entries(m_folder, size, bits);
    QStringList passed;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        QString reason;
        auto dark =
            readDark(m_folder + QLatin1Char('/') + it->second, it->first, size, bits, &reason);
        if (dark) {
            *why = passed.join(QStringLiteral("; "));
            return dark;
        }
        passed << reason;
    }
    *why = kept.empty() ? QStringLiteral("there are no darks for %1 x %2 %3-bit frames")
                              .arg(size.width())
                              .arg(size.height())
                              .arg(bits)
                        : passed.join(QStringLiteral("; "));
    return std::nullopt;
}

} // namespace voruna
