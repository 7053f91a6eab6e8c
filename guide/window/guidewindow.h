// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guidesession.h"
#include "guide/guidestore.h"
#include "video/capture/capturedevice.h"

#include <QElapsedTimer>
#include <QWidget>

#include <deque>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

namespace voruna {

class GuideGraph;
class GuideParameters;
class PixelScaleBox;

// The guiding window: the state in plain words, calibrate, guide and stop, the calibration's
// result, the parameters a user tunes, the pixel scale, and the graph and numbers of how well
// the star is held. Not modal; it stays open beside the video window. It remembers each
// camera's pixel scale settings and the calibration of each camera and port (GuideStore's
// default file) and hands a remembered calibration to the session, so that a setup that has
// not changed guides without calibrating again. Closing it stops calibrating or guiding.
class GuideWindow : public QWidget {
    Q_OBJECT
public:
    // `session` must outlive the window.
    explicit GuideWindow(GuideSession &session, QWidget *parent = nullptr);
    ~GuideWindow() override;

    // The camera in use: its key (what its settings are remembered by), name, what it tells of
    // its sensor, and the pixel scale it knows itself (0 when none).
    void setCamera(const QString &cameraKey, const QString &cameraName, const CameraFacts &facts,
                   double knownArcsecPerPixel);
    // The adaptor's port; -1 when none is open.
    void setPort(int port);
    // Where the guide star stands in the picture now, pixels; none when no star is chosen.
    // Calibrating starts from it, and guiding holds the star there.
    void setStarPosition(std::optional<QPointF> position);

    // Seconds of history the graph and the numbers show.
    double shownSeconds() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void layOut();
    void cmdCalibrate_Click();
    void cmdGuide_Click();
    void cmdStop_Click();
    void onRecorded(const GuideRecord &record);
    void onStateChanged(GuideState state, const QString &text);
    void onCalibrationFound(const Calibration &calibration);
    void scaleEdited();
    void useRememberedCalibration();
    // A valid calibration found for the camera, port and binning in use.
    bool calibrated() const;
    void showCalibration();
    void showNumbers();
    void updateButtons();
    QString unit() const;

    QLabel *lblState;
    QPushButton *cmdCalibrate;
    QPushButton *cmdCalibrateAgain;
    QPushButton *cmdGuide;
    QPushButton *cmdStop;
    QLabel *lblCalibration;
    QLabel *lblWarnings;
    GuideGraph *graph;
    QLabel *lblRmsRa;
    QLabel *lblRmsDec;
    QLabel *lblRmsTotal;
    QLabel *lblPeak;
    QLabel *lblSnr;
    QComboBox *cmboShown;
    GuideParameters *parameters;
    PixelScaleBox *pixelScale;

    GuideSession &m_session;
    GuideStore m_store;
    QString m_cameraKey;
    int m_port = -1;
    QSize m_binning{1, 1};
    bool m_calibrationFits = false;
    std::optional<QPointF> m_star;
    // What the guide loop last said of its state.
    QString m_stateText;
    std::deque<GuideRecord> m_records;
    bool m_redrawQueued = false;
    QElapsedTimer m_sinceRedraw;
};

} // namespace voruna
