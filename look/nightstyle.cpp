// SPDX-License-Identifier: GPL-3.0-or-later
#include "look/nightstyle.h"

#include "look/nightlook.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyleOption>

#include <utility>

namespace voruna {

namespace {

// What the style draws past its option's rectangle: focus frames, shadows.
constexpr int kOverhang = 4;

// Set while a drawing is going to a red layer: the style's own calls of itself then draw
// straight into that layer.
thread_local bool t_inLayer = false;

// Runs `draw` into a transparent layer over `rect` and lays that down in red, or runs it
// straight on `painter` in the day.
template<typename Draw>
void drawRed(QPainter *painter, QRect rect, Draw &&draw)
{
    if (!isNightLook() || t_inLayer || !painter->device() || rect.isEmpty()) {
        std::forward<Draw>(draw)(painter);
        return;
    }
    rect.adjust(-kOverhang, -kOverhang, kOverhang, kOverhang);
    const qreal ratio = painter->device()->devicePixelRatioF();
    QImage layer(rect.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
        QPainter inner(&layer);
        inner.setRenderHints(painter->renderHints());
        inner.setFont(painter->font());
        inner.setPen(painter->pen());
        inner.setBrush(painter->brush());
        inner.setLayoutDirection(painter->layoutDirection());
        inner.translate(-rect.topLeft());
        inner.setBrushOrigin(painter->brushOrigin());
        t_inLayer = true;
        std::forward<Draw>(draw)(&inner);
        t_inLayer = false;
    }
    painter->drawImage(rect.topLeft(), nightImage(layer));
}

} // namespace

NightStyle::NightStyle(const QString &key) : QProxyStyle(key)
{}

void NightStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                               QPainter *painter, const QWidget *widget) const
{
    drawRed(painter, option->rect,
            [&](QPainter *p) { QProxyStyle::drawPrimitive(element, option, p, widget); });
}

void NightStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                             const QWidget *widget) const
{
    drawRed(painter, option->rect,
            [&](QPainter *p) { QProxyStyle::drawControl(element, option, p, widget); });
}

void NightStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                    QPainter *painter, const QWidget *widget) const
{
    drawRed(painter, option->rect,
            [&](QPainter *p) { QProxyStyle::drawComplexControl(control, option, p, widget); });
}

void NightStyle::drawItemText(QPainter *painter, const QRect &rect, int flags,
                              const QPalette &palette, bool enabled, const QString &text,
                              QPalette::ColorRole textRole) const
{
    if (!isNightLook() || textRole == QPalette::NoRole) {
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
        return;
    }
    // A label's own colour (purple, blue) in red; the palette's red roles stay as they are.
    QPalette red = palette;
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        red.setColor(group, textRole, nightColor(palette.color(group, textRole)));
    QProxyStyle::drawItemText(painter, rect, flags, red, enabled, text, textRole);
}

void NightStyle::drawItemPixmap(QPainter *painter, const QRect &rect, int alignment,
                                const QPixmap &pixmap) const
{
    if (!isNightLook() || pixmap.isNull()) {
        QProxyStyle::drawItemPixmap(painter, rect, alignment, pixmap);
        return;
    }
    QPixmap red = QPixmap::fromImage(nightImage(pixmap.toImage()));
    red.setDevicePixelRatio(pixmap.devicePixelRatio());
    QProxyStyle::drawItemPixmap(painter, rect, alignment, red);
}

void installNightStyle()
{
    if (qobject_cast<NightStyle *>(QApplication::style()))
        return;
    QApplication::setStyle(new NightStyle(QApplication::style()->name()));
}

} // namespace voruna
