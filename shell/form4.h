// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace voruna {

// The About window: picture, description, credits and version, and a "Close" button. A
// fixed-size tool window; the window owner decides when it is shown and unloaded.
class Form4 final : public QWidget {
    Q_OBJECT
public:
    explicit Form4(QWidget *parent = nullptr);

    // "Close": hides the window, which stays loaded with its picture and texts.
    void Form4_Command1_Click();

    // Controls, by their layout names; Label1_0 to Label1_5 are Label1(0) to Label1(5).
    QLabel *Picture1;
    QLabel *Label1_0, *Label1_1, *Label1_2, *Label1_3, *Label1_4, *Label1_5;
    QPushButton *Command1;

Q_SIGNALS:
    // The user closed the window through its close box. The window stays as it is; the
    // owner is expected to unload (destroy) it.
    void closeBoxUsed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
};

} // namespace voruna
