// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guideengine.h"

#include <QElapsedTimer>
#include <QObject>

#include <array>

class QTimer;

namespace voruna {

// Where guide corrections go: the adaptor's start and stop commands of one direction.
class GuideOutput {
public:
    virtual ~GuideOutput() = default;
    // true when the command went out.
    virtual bool startMove(GuideDirection direction) = 0;
    virtual bool stopMove(GuideDirection direction) = 0;
};

// The guide loop in real time on the UI thread: hands each frame's star to the engine, starts
// the pulses it asks for and stops each after its time on a precise timer, watches for a camera
// that stopped sending, and writes the guide log. Every way out (stop(), the destructor, a lost
// port) sends the stop of every direction under way first. `output` must outlive the session.
class GuideSession : public QObject {
    Q_OBJECT
public:
    explicit GuideSession(GuideOutput &output, QObject *parent = nullptr);
    ~GuideSession() override;

    GuideEngine &engine() { return m_engine; }
    const GuideEngine &engine() const { return m_engine; }

    // Where the camera and port are known: the calibration is remembered for the pair.
    void setCamera(const QString &cameraKey, int port);

    // A frame's star, as the video window measured it; the frame arrived now.
    void onStar(const StarMeasurement &star);
    // The camera or the port went away: corrections stop at once and the state says so.
    void cameraLost();
    void portLost();

    void calibrate(QPointF star);
    bool guide(QPointF lock);
    // Stops calibrating or guiding; every correction under way is stopped first.
    void stop();
    // Stops every correction under way now (a slew pad press, the program ending).
    void stopCorrections();
    bool isActive() const;

Q_SIGNALS:
    // A frame was handled: for the graph and the numbers.
    void recorded(const voruna::GuideRecord &record);
    void stateChanged(voruna::GuideState state, const QString &text);
    void calibrationFound(const voruna::Calibration &calibration);

private:
    GuideOutput &m_output;
    GuideEngine m_engine;
    QElapsedTimer m_clock;
};

} // namespace voruna
