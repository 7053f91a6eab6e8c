// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/layoutunits.h"

namespace voruna {

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

QFont layoutFont(const QStringList &families, int pixels, bool bold, bool italic)
{
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QFont arialPixels(int pixels, bool bold, bool italic)
{
    return layoutFont({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")}, pixels, bold,
                      italic);
}

QFont arialPoints(qreal points, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace voruna
