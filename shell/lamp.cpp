// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/lamp.h"

#include "look/nightlook.h"

#include <QPainter>

namespace voruna {

QColor colorFromRgbInt(int value)
{
    return QColor(value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff);
}

Lamp::Lamp(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Lamp::setFillColor(const QColor &color)
{
    if (m_fill == color)
        return;
    m_fill = color;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int diameter = qMin(width(), height()) - 1;
    const QRectF box((width() - 1 - diameter) / 2.0 + 0.5, (height() - 1 - diameter) / 2.0 + 0.5,
                     diameter, diameter);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    // The fill keeps its meaning at night by its brightness alone.
    painter.setBrush(isNightLook() ? nightLampColor(m_fill) : m_fill);
    painter.drawEllipse(box);
}

} // namespace voruna
