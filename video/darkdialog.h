// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <vector>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace voruna {

// Asks which darks to take and shows their progress; the video window takes them. Each
// exposure offered is checked at first.
class DarkDialog final : public QDialog {
    Q_OBJECT
public:
    DarkDialog(const QString &camera, const std::vector<double> &exposures, QWidget *parent = nullptr);

    // While the darks are taken: how far, and what now.
    void showProgress(int done, int total, const QString &text);
    // The darks ended (all taken, cancelled or failed): `text` says how; Start is offered again.
    void showEnded(const QString &text);

    static QString exposureText(double seconds);

Q_SIGNALS:
    void startWanted(const std::vector<double> &exposures, int framesEach);
    void cancelWanted();

private:
    void start();
    void setRunning(bool running);

    std::vector<double> m_exposures;
    QListWidget *m_list;
    QSpinBox *m_frames;
    QProgressBar *m_progress;
    QLabel *m_state;
    QPushButton *m_start;
    QPushButton *m_cancel;
    bool m_running = false;
};

} // namespace voruna
