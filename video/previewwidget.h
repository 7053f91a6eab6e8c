// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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

Q_SIGNALS:
    void shownSizeChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QImage m_frame;
    bool m_scaled = false;
    bool m_everShown = false;
};

} // namespace voruna
