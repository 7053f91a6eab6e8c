// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/previewwidget.h"

#include "look/nightlook.h"

#include <QFontMetrics>
#include <QMouseEvent>
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

void PreviewWidget::setSource(QSize frameSize, bool mirror, bool flip)
{
    m_source = frameSize;
    m_mirror = mirror;
    m_flip = flip;
}

void PreviewWidget::setOverlay(const PictureOverlay &overlay)
{
    m_overlay = overlay;
    update();
}

QPointF PreviewWidget::zoom() const
{
    if (!m_scaled || m_source.isEmpty() || size().isEmpty())
        return {1.0, 1.0};
    return {double(width()) / m_source.width(), double(height()) / m_source.height()};
}

// Frame pixel j spans j .. j + 1 before the zoom; turned ones count from the far edge.
QPointF PreviewWidget::toFrame(QPointF widgetPoint) const
{
    const QPointF k = zoom();
    QPointF at(widgetPoint.x() / k.x() - 0.5, widgetPoint.y() / k.y() - 0.5);
    if (m_mirror)
        at.setX(m_source.width() - 1 - at.x());
    if (m_flip)
        at.setY(m_source.height() - 1 - at.y());
    return at;
}

QPointF PreviewWidget::toWidget(QPointF framePoint) const
{
    const QPointF k = zoom();
    if (m_mirror)
        framePoint.setX(m_source.width() - 1 - framePoint.x());
    if (m_flip)
        framePoint.setY(m_source.height() - 1 - framePoint.y());
    return {(framePoint.x() + 0.5) * k.x(), (framePoint.y() + 0.5) * k.y()};
}

void PreviewWidget::paintOverlay(QPainter &painter) const
{
    if (m_source.isEmpty())
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_overlay.reticle) {
        const QPointF at = toWidget(*m_overlay.reticle);
        painter.setPen(QPen(lookColor(QColor(255, 64, 64)), 1));
        painter.drawLine(QPointF(at.x(), 0), QPointF(at.x(), height()));
        painter.drawLine(QPointF(0, at.y()), QPointF(width(), at.y()));
    }
    const QColor colour = lookColor(m_overlay.lost ? QColor(255, 200, 0) : QColor(64, 255, 64));
    QPointF textAt(4, 4);
    if (m_overlay.box) {
        const QRectF box(toWidget(m_overlay.box->topLeft()), toWidget(m_overlay.box->bottomRight()));
        painter.setPen(QPen(colour, 1));
        painter.drawRect(box.normalized());
    }
    if (m_overlay.lines.isEmpty())
        return;
    // The numbers in the top-left corner, on a dark band so that they read over bright sky.
    const QFontMetrics metrics(painter.font());
    const QString text = m_overlay.lines.join(QLatin1Char('\n'));
    const QRectF bounds = metrics.boundingRect(QRect(0, 0, width(), height()), Qt::AlignLeft, text);
    painter.fillRect(bounds.translated(textAt).adjusted(-2, -1, 2, 1), QColor(0, 0, 0, 160));
    painter.setPen(colour);
    painter.drawText(bounds.translated(textAt), Qt::AlignLeft, text);
}

void PreviewWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_source.isEmpty()) {
        QWidget::mousePressEvent(event);
        return;
    }
    Q_EMIT clicked(toFrame(event->position()), event->modifiers());
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
        paintOverlay(painter);
        return;
    }
    if (m_frame.width() < width() || m_frame.height() < height())
        painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, m_frame);
    paintOverlay(painter);
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
