// SPDX-License-Identifier: GPL-3.0-or-later
#include "look/nightlook.h"

#include "look/nightstyle.h"

#include <QApplication>

#include <algorithm>

namespace voruna {

namespace {

// The palette the program had in the day, kept while the night look is on.
constexpr char kDayPaletteProperty[] = "vorunaDayPalette";

QColor red(int level)
{
    return QColor(level, 0, 0);
}

// The style lightens some colours (gradients, frames): none of them is so bright that lightening
// would turn it towards white.
void setNightGroup(QPalette &palette, QPalette::ColorGroup group, int text)
{
    const std::pair<QPalette::ColorRole, int> roles[] = {
        {QPalette::Window, 22},
        {QPalette::WindowText, text},
        {QPalette::Base, 10},
        {QPalette::AlternateBase, 30},
        {QPalette::Text, text},
        {QPalette::Button, 40},
        {QPalette::ButtonText, text},
        {QPalette::BrightText, 210},
        {QPalette::Light, 70},
        {QPalette::Midlight, 52},
        {QPalette::Mid, 34},
        {QPalette::Dark, 16},
        {QPalette::Shadow, 0},
        {QPalette::Highlight, 96},
        {QPalette::HighlightedText, 220},
        {QPalette::ToolTipBase, 30},
        {QPalette::ToolTipText, text},
        {QPalette::Link, text},
        {QPalette::LinkVisited, text * 3 / 4},
        {QPalette::PlaceholderText, text / 2},
    };
    for (const auto &[role, level] : roles)
        palette.setColor(group, role, red(level));
}

} // namespace

bool isNightLook()
{
    return qApp && qApp->property(kNightProperty).toBool();
}

QPalette nightPalette()
{
    QPalette palette;
    setNightGroup(palette, QPalette::Active, 200);
    setNightGroup(palette, QPalette::Inactive, 200);
    setNightGroup(palette, QPalette::Disabled, 96);
    return palette;
}

void setNightLook(bool on)
{
    if (!qApp || on == isNightLook())
        return;
    // The property first: the windows that repaint on the palette change ask it.
    if (on) {
        qApp->setProperty(kDayPaletteProperty, QVariant::fromValue(QApplication::palette()));
        qApp->setProperty(kNightProperty, true);
        installNightStyle();
        QApplication::setPalette(nightPalette());
        return;
    }
    qApp->setProperty(kNightProperty, false);
    QApplication::setPalette(qApp->property(kDayPaletteProperty).value<QPalette>());
    qApp->setProperty(kDayPaletteProperty, QVariant());
}

QColor nightColor(const QColor &day)
{
    const QColor rgb = day.toRgb();
    return QColor(std::max({rgb.red(), rgb.green(), rgb.blue()}), 0, 0, rgb.alpha());
}

QColor lookColor(const QColor &day)
{
    return isNightLook() ? nightColor(day) : day;
}

QColor nightLampColor(const QColor &day)
{
    const QColor hsv = day.toHsv();
    const int value = hsv.value();
    // Grey has no hue: dimmest of the lit states.
    if (hsv.hsvSaturation() < 64)
        return red(value * 45 / 100);
    const int hue = hsv.hsvHue();
    const bool greenish = hue >= 60 && hue <= 180;
    return red(greenish ? value : value * 63 / 100);
}

QImage nightImage(const QImage &day)
{
    QImage image = day.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = row[x];
            row[x] = qRgba(std::max({qRed(p), qGreen(p), qBlue(p)}), 0, 0, qAlpha(p));
        }
    }
    return image;
}

} // namespace voruna
