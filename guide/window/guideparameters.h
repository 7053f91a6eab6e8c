// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guideengine.h"

#include <QGroupBox>

class QComboBox;
class QDoubleSpinBox;
class QSpinBox;

namespace voruna {

// The few guiding parameters a user tunes. changed() comes on every edit by the user.
class GuideParameters : public QGroupBox {
    Q_OBJECT
public:
    explicit GuideParameters(QWidget *parent = nullptr);

    void setSettings(const GuideSettings &settings);
    // The settings shown, over those last set (what the box does not show is kept).
    GuideSettings settings() const;

Q_SIGNALS:
    void changed();

private:
    void algorithmChosen();
    void edited();

    QComboBox *cmboRaAlgorithm;
    QSpinBox *spnAggressiveness;
    QSpinBox *spnHysteresis;
    QDoubleSpinBox *spnMinMove;
    QDoubleSpinBox *spnMaxCorrection;
    QComboBox *cmboDecMode;
    GuideSettings m_settings;
    bool m_showing = false;
};

} // namespace voruna
