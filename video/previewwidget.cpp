// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/previewwidget.h"

#include <QPainter>

namespace voruna {

PreviewWidget::PreviewWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("capturePicture"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewWidget::setFrame(const QImage &frame)
{
    m_frame = frame;
    update();
}

void PreviewWidget::setScaled(bool scaled)
{
    m_scaled = scaled;
    update();
}

void PreviewWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    if (m_scaled) {
        painter.drawImage(rect(), m_frame);
        return;
    }
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, m_frame);
}

} // namespace voruna
