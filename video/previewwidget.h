// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/guidestarview.h"

#include <QImage>
#include <QWidget>

namespace voruna {

// The picture inside the capture window, drawn for the widget's size (see renderView()): it is
// blitted from the top-left corner, black where there is no picture. A scaled picture drawn for
// another size fills the widget until the next one comes.
class PreviewWidget final : public QWidget {
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget *parent = nullptr);

    void setFrame(const QImage &frame);
    const QImage &frame() const { return m_frame; }
    void setScaled(bool scaled);
    bool isScaled() const { return m_scaled; }
    // The size pictures are drawn for: empty until the widget was first shown.
    QSize shownSize() const { return m_everShown ? size() : QSize(); }
    // The camera frame the picture shows, and how it is turned, for placing the overlay and
    // clicks in the frame's pixels.
    void setSource(QSize frameSize, bool mirror, bool flip);
    // Drawn over the picture until the next one replaces it.
    void setOverlay(const PictureOverlay &overlay);
    const PictureOverlay &overlay() const { return m_overlay; }
    QPointF toFrame(QPointF widgetPoint) const;
    QPointF toWidget(QPointF framePoint) const;

Q_SIGNALS:
    void shownSizeChanged();
    // A left click on the picture, at `framePoint` in the frame's pixels.
    void clicked(QPointF framePoint, Qt::KeyboardModifiers modifiers);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void paintOverlay(QPainter &painter) const;
    // Widget pixels a frame pixel takes across and down.
    QPointF zoom() const;

    QSize m_source;
    bool m_mirror = false;
    bool m_flip = false;
    PictureOverlay m_overlay;
    QImage m_frame;
    bool m_scaled = false;
    bool m_everShown = false;
};

} // namespace voruna
