// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guideengine.h"
#include "guide/guidelog.h"

#include <QElapsedTimer>
#include <QObject>

#include <array>
#include <deque>
#include <vector>

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

// How long without a frame makes the camera silent, for the last intervals between frames
// (seconds): several of their median, never less than a floor; longer while none is known.
double silentAfterSeconds(std::vector<double> intervals);

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
    QString cameraKey() const { return m_cameraKey; }
    int port() const { return m_port; }
    // The folder the guide log is started in when calibrating or guiding first begins;
    // guideLogFolder() unless set.
    void setLogFolder(const QString &folder) { m_logFolder = folder; }
    const GuideLog &log() const { return m_log; }

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

    // Starts `pulse` now, as the engine's pulses are: a pulse running on the same axis is
    // stopped first, and the stop follows after `pulse.seconds` on a precise timer. false (and
    // nothing sent) unless calibrating or guiding.
    bool startPulse(const GuidePulse &pulse);
    // Whether a start of `direction` went out and its stop has not yet.
    bool isMoving(GuideDirection direction) const { return m_moving[index(direction)]; }
    // How long without a frame makes the camera silent, for the frames seen so far.
    double watchdogSeconds() const;

Q_SIGNALS:
    // A frame was handled: for the graph and the numbers.
    void recorded(const voruna::GuideRecord &record);
    void stateChanged(voruna::GuideState state, const QString &text);
    void calibrationFound(const voruna::Calibration &calibration);
    // Something the user should know that does not change the state (the guide log could not
    // be written).
    void note(const QString &text);

private:
    static int index(GuideDirection direction) { return int(direction); }
    double now() const { return m_clock.nsecsElapsed() / 1e9; }
    void stopMove(GuideDirection direction);
    void noteFrameTime(double time);
    void armWatchdog();
    void watchdogFired();
    void openLog();
    // Emits stateChanged() when the state or its words changed; `why` replaces the words.
    void reportState(const QString &why = {});
    QString describeState() const;

    GuideOutput &m_output;
    GuideEngine m_engine;
    QElapsedTimer m_clock;
    std::array<QTimer *, 4> m_stopTimers{};
    std::array<bool, 4> m_moving{};
    std::array<double, 4> m_startedAt{}; // when each direction's start went out
    QTimer *m_watchdog;
    double m_lastFrame = -1.0;
    std::deque<double> m_intervals;
    GuideLog m_log;
    double m_logStart = 0.0; // on the session's clock
    QString m_logFolder;
    QString m_cameraKey;
    int m_port = 0;
    GuideState m_reportedState = GuideState::Idle;
    QString m_reportedText;
    QString m_why;
};

} // namespace voruna
