// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/simoptions.h"

#include "common/ports.h"

namespace voruna {

namespace {

const char kHelp[] = R"(Usage: voruna-adaptor-sim [options]

Stands in for the USB Autoguide Adaptor: makes a pseudo-terminal, links it as comN in the
ports folder ($XDG_CONFIG_HOME/voruna/ports, by default ~/.config/voruna/ports) so that Voruna
finds it as COM N, answers the probe "?" with "^" and prints every command it receives.
Behind it a mount moves while a slew command runs: each start command moves its axis at the
guide rate until the stop command of that direction (north = +Dec, west = +RA). The mount's
position is published on a socket in $XDG_RUNTIME_DIR/voruna (sky-comN.sock), where Voruna's
"Voruna Sky Simulator" camera finds it. Stop it with Ctrl-C; the link and the socket go with it.

Options:
  --port N        link as COM N, 1 to 16 (default 1)
  --silent        never answer the probe
  --line-end      answer "^\r\n" in one write
  --late MS       answer MS milliseconds after the probe
  --split MS      answer "^", then "\r\n" MS milliseconds later
  --flood         keep sending "x" as fast as the port takes it
  --guide-rate R  move the mount R arcseconds per second (default 7.5, half sidereal)
  --no-sky        do not publish the mount
  --help          show this text
  --version       show the version
)";

// The value of an option that takes milliseconds or a port number.
bool numberAfter(const QStringList &arguments, qsizetype &i, int low, int high, int &value,
                 QString &error)
{
    const QString name = arguments.at(i);
    if (i + 1 >= arguments.size()) {
        error = QStringLiteral("%1 needs a number").arg(name);
        return false;
    }
    bool ok = false;
    value = arguments.at(++i).toInt(&ok);
    if (!ok || value < low || value > high) {
        error = QStringLiteral("%1 takes a number from %2 to %3, not \"%4\"")
                    .arg(name)
                    .arg(low)
                    .arg(high)
                    .arg(arguments.at(i));
        return false;
    }
    return true;
}

bool rateAfter(const QStringList &arguments, qsizetype &i, double &value, QString &error)
{
    bool ok = false;
    if (i + 1 < arguments.size())
        value = arguments.at(i + 1).toDouble(&ok);
    if (!ok || !(value >= 0.1 && value <= 3600.0)) {
        error = QStringLiteral("--guide-rate takes arcseconds per second from 0.1 to 3600%1")
                    .arg(i + 1 < arguments.size()
                             ? QStringLiteral(", not \"%1\"").arg(arguments.at(i + 1))
                             : QString());
        return false;
    }
    ++i;
    return true;
}

QString conflict(const SimOptions &o)
{
    if (o.silent && (o.lineEnd || o.lateMs > 0 || o.splitMs >= 0))
        return QStringLiteral(
            "--silent never answers: it does not go with --line-end, --late or --split");
    if (o.lineEnd && o.splitMs >= 0)
        return QStringLiteral("--split already sends the line end: it does not go with --line-end");
    return {};
}

} // namespace

SimOptionsResult parseSimOptions(const QStringList &arguments)
{
    SimOptionsResult result;
    SimOptions &o = result.options;
    QString error;
    for (qsizetype i = 0; i < arguments.size() && error.isEmpty(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            result.outcome = SimOptionsResult::Outcome::Help;
            result.text = QString::fromLatin1(kHelp);
            return result;
        }
        if (a == QLatin1String("--version")) {
            result.outcome = SimOptionsResult::Outcome::Version;
            result.text = QStringLiteral("voruna-adaptor-sim " VORUNA_VERSION "\n");
            return result;
        }
        if (a == QLatin1String("--port"))
            numberAfter(arguments, i, 1, kPortCount, o.port, error);
        else if (a == QLatin1String("--late"))
            numberAfter(arguments, i, 0, 60000, o.lateMs, error);
        else if (a == QLatin1String("--split"))
            numberAfter(arguments, i, 0, 60000, o.splitMs, error);
        else if (a == QLatin1String("--silent"))
            o.silent = true;
        else if (a == QLatin1String("--line-end"))
            o.lineEnd = true;
        else if (a == QLatin1String("--flood"))
            o.flood = true;
        else if (a == QLatin1String("--guide-rate"))
            rateAfter(arguments, i, o.guideRate, error);
        else if (a == QLatin1String("--no-sky"))
            o.sky = false;
        else
            error = QStringLiteral("unknown option \"%1\" (try --help)").arg(a);
    }
    if (error.isEmpty())
        error = conflict(o);
    if (!error.isEmpty()) {
        result.outcome = SimOptionsResult::Outcome::Error;
        result.text = error;
    }
    return result;
}

} // namespace voruna
