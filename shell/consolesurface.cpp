// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/consolesurface.h"

#include "shell/layoutunits.h"

#include <QPainter>

namespace voruna {

ConsoleSurface::ConsoleSurface(QWidget *parent) : QWidget(parent)
{}

QRect ConsoleSurface::counterRect() const
{
    // The pad's centre cell, between the four buttons.
    return twipsRect(975, 1455, 525, 525);
}

void ConsoleSurface::setCounter(int value)
{
    m_counter = value;
}

void ConsoleSurface::paintEvent(QPaintEvent *)
{
    if (m_counter <= 0)
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(counterRect(), Qt::AlignCenter, QString::number(m_counter));
}

} // namespace voruna
