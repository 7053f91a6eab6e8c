// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include <QDialog>
#include <QHash>
#include <QSet>

class QFormLayout;

namespace voruna {

// The camera's own controls (exposure and gain first), applied as they change, with a way
// back to the camera's defaults.
class SourceDialog final : public QDialog {
    Q_OBJECT
public:
    SourceDialog(CaptureDevice &device, QWidget *parent = nullptr);

private:
    QWidget *makeEditor(const DeviceControl &control);
    QWidget *makeNumberEditor(const DeviceControl &control);
    void apply(quint32 id, qint32 value);
    void restoreDefaults();
    // Shows the camera's values and which controls are active now.
    void refresh();

    CaptureDevice &m_device;
    QHash<quint32, QWidget *> m_editors;
    QSet<quint32> m_updatesOthers;
};

} // namespace voruna
