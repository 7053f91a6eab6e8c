// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/previewwidget.h"

#include <QPainter>

#include <utility>

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
    if (m_scaled && m_frame.size() != size()) {
        painter.drawImage(rect(), m_frame);
        return;
    }
    if (m_frame.width() < width() || m_frame.height() < height())
        painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, m_frame);
}

void PreviewWidget::resizeEvent(QResizeEvent *)
{
    if (m_everShown)
        Q_EMIT shownSizeChanged();
}

void PreviewWidget::showEvent(QShowEvent *)
{
    if (!std::exchange(m_everShown, true))
        Q_EMIT shownSizeChanged();
}

} // namespace voruna
