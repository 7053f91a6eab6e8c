// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/crosshaircursor.h"

#include "look/nightlook.h"

#include <QBitmap>
#include <QPixmap>

namespace voruna {

namespace {

bool inBars(int i)
{
    return (i >= 12 && i <= 14) || (i >= 17 && i <= 19);
}

bool inArm(int i)
{
    return (i >= 2 && i <= 14) || (i >= 17 && i <= 29);
}

} // namespace

QImage crossHairImage()
{
    const QRgb ink = isNightLook() ? qRgba(150, 0, 0, 255) : qRgba(0, 0, 0, 255);
    QImage image(32, 32, QImage::Format_ARGB32);
    for (int row = 0; row < 32; ++row) {
        for (int column = 0; column < 32; ++column) {
            const bool black = (inBars(row) && inArm(column)) || (inBars(column) && inArm(row));
            image.setPixel(column, row, black ? ink : qRgba(0, 0, 0, 0));
        }
    }
    return image;
}

QCursor crossHairCursor()
{
    return QCursor(QPixmap::fromImage(crossHairImage()), 15, 15);
}

} // namespace voruna
