// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace voruna {

// voruna-adaptor-sim from $VORUNA_TOOLS_DIR, run for one test with its own XDG_CONFIG_HOME and
// XDG_RUNTIME_DIR (configHome/run), so that its port link and its mount socket stay the test's.
// Waits keep the test's event loop turning. Stopped (SIGTERM, then SIGKILL) when destroyed.
class SimProcess {
public:
    // configHome becomes the simulator's XDG_CONFIG_HOME, so it links into configHome/voruna/ports.
    explicit SimProcess(const QString &configHome);
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    ~SimProcess();

    // The simulator program the tests run.
    static QString program();
    // The XDG_RUNTIME_DIR that simulators of `configHome` get, made when missing.
    static QString runtimeFolder(const QString &configHome);

    // Starts it with these options and waits for its "ready:" line. false when it cannot start,
    // ends first (it refused the link, say) or is not ready within timeoutMs; errorString() then
    // has its error output.
    bool start(const QStringList &options = {}, int timeoutMs = 5000);
    QString errorString() const { return m_error; }

    // From the ready line: the device, e.g. /dev/pts/5, and the link, e.g. .../ports/com3.
    QString devicePath() const { return m_device; }
    QString linkPath() const { return m_link; }

    // Every line it has printed so far.
    QStringList lines();
    // The first line containing substring that comes after the line the previous successful
    // wait returned (or after the ready line); empty when none comes within timeoutMs.
    QString waitForLine(const QString &substring, int timeoutMs);

    // SIGKILL: it has no chance to clean up. Returns once it has ended.
    void kill();
    // SIGTERM or SIGINT; true when it has ended within timeoutMs.
    bool terminate(int timeoutMs = 2000);
    bool interrupt(int timeoutMs = 2000);
    // true when it has ended within timeoutMs.
    bool waitForExit(int timeoutMs);

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString errorOutput();

private:
    void collect();
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    bool signal(int signalNumber, int timeoutMs);

    QString m_configHome;
    QProcess m_process;
    QByteArray m_partialLine;
    QStringList m_lines;
    qsizetype m_cursor = 0;
    QByteArray m_errors;
    QString m_device;
    QString m_link;
    QString m_error;
};

} // namespace voruna
