// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/save/fitsheader.h"

#include <cstdlib>

namespace voruna {

qint64 roundToFitsBlock(qint64 bytes)
{
    return (bytes + kFitsBlock - 1) / kFitsBlock * kFitsBlock;
}

QByteArray fitsText(const QString &text)
{
    QByteArray out = text.toLatin1().left(68);
    for (char &c : out)
        if (c < 32 || c > 126)
            c = '?';
    return out;
}

QString fitsError(int status)
{
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return QStringLiteral("FITS: %1").arg(QString::fromLatin1(text));
}

QByteArray fitsHeader(int bitpix, int axisCount, long *axes,
                      const std::function<void(fitsfile *, int *)> &cards, QString *error)
{
    size_t size = size_t(kFitsBlock) * 2;
    void *buffer = std::malloc(size);
    if (!buffer) {
        *error = QStringLiteral("no memory to save the picture");
        return {};
    }
    fitsfile *fits = nullptr;
    int status = 0;
    fits_create_memfile(&fits, &buffer, &size, size_t(kFitsBlock), std::realloc, &status);
    fits_create_img(fits, bitpix, axisCount, axes, &status);
    if (status == 0)
        cards(fits, &status);
    LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_hduaddrll(fits, &headStart, &dataStart, &dataEnd, &status);
    const int failure = status;
    int closing = 0;
    if (fits)
        fits_close_file(fits, &closing);
    QByteArray head;
    if (failure == 0 && closing == 0 && dataStart > 0 && size_t(dataStart) <= size)
        head = QByteArray(static_cast<const char *>(buffer), qsizetype(dataStart));
    else
        *error = fitsError(failure ? failure : closing);
    std::free(buffer);
    return head;
}

} // namespace voruna
