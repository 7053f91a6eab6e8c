// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guidestore.h"

#include <QGroupBox>

class QDoubleSpinBox;
class QLabel;
class QRadioButton;

namespace voruna {

// Arcseconds per pixel: the camera's own, or from its pixel size and the focal length the user
// enters, or entered directly. changed() comes on every edit by the user.
class PixelScaleBox : public QGroupBox {
    Q_OBJECT
public:
    explicit PixelScaleBox(QWidget *parent = nullptr);

    // The camera's pixels (binning included; 0 when it does not tell), the scale it knows
    // itself (0 when none), and the settings remembered for it.
    void setCamera(double pixelMicrons, double knownScale, const PixelScaleSettings &settings);
    PixelScaleSettings settings() const;
    // Arcseconds per pixel in use; 0 when none is known.
    double scale() const;

Q_SIGNALS:
    void changed();

private:
    void edited();
    void showScale();

    QRadioButton *rdoCamera;
    QRadioButton *rdoFocal;
    QDoubleSpinBox *spnFocal;
    QLabel *lblFocal;
    QRadioButton *rdoEntered;
    QDoubleSpinBox *spnEntered;
    QLabel *lblScale;
    double m_pixelMicrons = 0.0;
    double m_knownScale = 0.0;
    bool m_showing = false;
};

// A scale for the user: "2.06"/px", or "none" when 0.
QString scaleText(double arcsecPerPixel);

} // namespace voruna
