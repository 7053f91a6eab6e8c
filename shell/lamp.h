// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QWidget>

namespace voruna {

// Colours as the layouts give them: 24-bit integers with red in the low byte.
QColor colorFromRgbInt(int value);

inline constexpr int kRed = 255;
inline constexpr int kGreen = 65280;
inline constexpr int kGrey = 8421504;
inline constexpr int kBlack = 0;

// A filled circle with a one-pixel border in the window-text colour, the diameter being the
// smaller side of its box, centred. In the night look the fill is drawn red (nightLampColor()).
class Lamp final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)
public:
    explicit Lamp(QWidget *parent = nullptr);
    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill = Qt::black;
};

} // namespace voruna
