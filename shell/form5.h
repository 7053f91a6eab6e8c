// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QTimer;

namespace voruna {

// The splash window: product name, guiding reticle and version line on a borderless window
// centred on the screen. It has no logic of its own beyond its timer.
class Form5 final : public QWidget {
    Q_OBJECT
public:
    explicit Form5(QWidget *parent = nullptr);

    // Controls, by their layout names; Label2_0 to Label2_3 are Label2(0) to Label2(3), and
    // Shape1_0, Shape1_1 are Shape1(0), Shape1(1). All lie inside Frame1.
    QFrame *Frame1;
    QWidget *Shape2;
    QWidget *Shape1_0, *Shape1_1;
    QWidget *Line1, *Line2;
    QLabel *Label1;
    QLabel *Label2_0, *Label2_1, *Label2_2, *Label2_3;

    // Repeats every 4000 ms from the moment the window is built until someone stops it; the
    // window owner connects the hand-over to the console to its timeout.
    QTimer *Timer1;
};

} // namespace voruna
