// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QWidget>

namespace voruna {

// The picture inside the capture window: scaled, it fills the widget; otherwise it shows at
// its own size from the top-left corner. Black where there is no picture.
class PreviewWidget final : public QWidget {
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget *parent = nullptr);

    void setFrame(const QImage &frame);
    const QImage &frame() const { return m_frame; }
    void setScaled(bool scaled);
    bool isScaled() const { return m_scaled; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_frame;
    bool m_scaled = false;
};

} // namespace voruna
