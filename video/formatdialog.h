// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include <QDialog>

class QComboBox;

namespace voruna {

// The camera's picture format: pixel format, frame size and frame rate as the camera lists
// them. Accepting hands the choice to the caller, which restarts the stream with it.
class FormatDialog final : public QDialog {
    Q_OBJECT
public:
    FormatDialog(const CaptureDevice &device, QWidget *parent = nullptr);
    StreamFormat chosenFormat() const;

private:
    void fillSizes();
    void fillRates();

    const CaptureDevice &m_device;
    StreamFormat m_current;
    QComboBox *m_pixelFormat;
    QComboBox *m_frameSize;
    QComboBox *m_frameRate;
};

} // namespace voruna
