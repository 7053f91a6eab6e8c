// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/displaysettings.h"

#include <QDialog>

class QCheckBox;
class QDoubleSpinBox;
class QSpinBox;

namespace voruna {

// How the preview is drawn: mirror, flip and the display stretch. Every change is reported at
// once through settingsChanged().
class DisplayDialog final : public QDialog {
    Q_OBJECT
public:
    DisplayDialog(const DisplaySettings &settings, QWidget *parent = nullptr);
    DisplaySettings settings() const;

Q_SIGNALS:
    void settingsChanged(const DisplaySettings &settings);

private:
    void showSettings(const DisplaySettings &settings);
    void report();

    QCheckBox *m_mirror;
    QCheckBox *m_flip;
    QSpinBox *m_black;
    QSpinBox *m_white;
    QDoubleSpinBox *m_gamma;
    int m_sampleBits;
};

} // namespace voruna
