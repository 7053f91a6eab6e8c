// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProxyStyle>

namespace voruna {

// The application's style with the night look laid over it. In the day it only hands every call
// on. At night whatever the style draws (frames, gradients, title bars, icons) is drawn red: a
// style keeps colours of its own beside the palette's, such as white title-bar text and light
// bevels, which no palette reaches. Text takes the red form of its palette colour.
class NightStyle final : public QProxyStyle {
    Q_OBJECT
public:
    // Wraps a new instance of the style named `key`.
    explicit NightStyle(const QString &key);

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget = nullptr) const override;
    void drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &palette,
                      bool enabled, const QString &text,
                      QPalette::ColorRole textRole = QPalette::NoRole) const override;
    void drawItemPixmap(QPainter *painter, const QRect &rect, int alignment,
                        const QPixmap &pixmap) const override;
};

// Puts a NightStyle over the application's style, once; later calls do nothing.
void installNightStyle();

} // namespace voruna
