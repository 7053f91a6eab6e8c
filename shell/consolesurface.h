// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

namespace voruna {

// The console's own surface, beneath its controls. It shows the counter that runs while the
// console waits for the adaptor's answer, in the empty centre of the slew pad.
class ConsoleSurface final : public QWidget {
    Q_OBJECT
public:
    explicit ConsoleSurface(QWidget *parent = nullptr);
    // 0 hides the counter.
    void setCounter(int value);
    int counter() const { return m_counter; }
    QRect counterRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_counter = 0;
};

} // namespace voruna
