// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/simprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <csignal>

namespace voruna {

SimProcess::SimProcess(const QString &configHome) : m_configHome(configHome)
{}

SimProcess::~SimProcess()
{
    if (isRunning() && !terminate(2000))
        kill();
}

QString SimProcess::program()
{
    QString folder = qEnvironmentVariable("VORUNA_TOOLS_DIR");
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools");
    return QDir(folder).filePath(QStringLiteral("voruna-adaptor-sim"));
}

QString SimProcess::runtimeFolder(const QString &configHome)
{
    const QString folder = configHome + QStringLiteral("/run");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

bool SimProcess::start(const QStringList &options, int timeoutMs)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder(m_configHome));
    m_process.setProcessEnvironment(environment);
    m_process.setProgram(program());
    m_process.setArguments(options);
    m_process.start();
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program(), m_process.errorString());
        return false;
    }
    static const QRegularExpression ready(
        QStringLiteral("^ready: COM \\d+ -> (\\S+) \\(link (.+)\\)$"));
    QRegularExpressionMatch match;
    const bool seen = waitFor(
        [&] {
            for (const QString &line : std::as_const(m_lines)) {
                match = ready.match(line);
                if (match.hasMatch())
                    return true;
            }
            return false;
        },
        timeoutMs);
    if (!seen) {
        m_error = QStringLiteral("no ready line; exit code %1; error output: %2")
                      .arg(isRunning() ? -1 : exitCode())
                      .arg(errorOutput());
        return false;
    }
    m_device = match.captured(1);
    m_link = match.captured(2);
    m_cursor = m_lines.size();
    return true;
}

void SimProcess::collect()
{
    m_partialLine += m_process.readAllStandardOutput();
    m_errors += m_process.readAllStandardError();
    qsizetype end;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_partialLine.left(end)));
        m_partialLine.remove(0, end + 1);
    }
}

bool SimProcess::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        collect();
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        if (!isRunning()) {
            collect();
            return done();
        }
        m_process.waitForReadyRead(2);
    }
}

QStringList SimProcess::lines()
{
    collect();
    return m_lines;
}

QString SimProcess::waitForLine(const QString &substring, int timeoutMs)
{
    qsizetype found = -1;
    waitFor(
        [&] {
            for (qsizetype i = m_cursor; i < m_lines.size(); ++i) {
                if (m_lines.at(i).contains(substring)) {
                    found = i;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    if (found < 0)
        return {};
    m_cursor = found + 1;
    return m_lines.at(found);
}

void SimProcess::kill()
{
    if (!isRunning())
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
    collect();
}

bool SimProcess::signal(int signalNumber, int timeoutMs)
{
    if (!isRunning())
        return true;
    ::kill(pid_t(m_process.processId()), signalNumber);
    return waitForExit(timeoutMs);
}

bool SimProcess::terminate(int timeoutMs)
{
    return signal(SIGTERM, timeoutMs);
}

bool SimProcess::interrupt(int timeoutMs)
{
    return signal(SIGINT, timeoutMs);
}

bool SimProcess::waitForExit(int timeoutMs)
{
    const bool ended = waitFor([&] { return !isRunning(); }, timeoutMs);
    collect();
    return ended;
}

QString SimProcess::errorOutput()
{
    collect();
    return QString::fromLocal8Bit(m_errors);
}

} // namespace voruna
