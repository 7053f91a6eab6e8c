// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/simoptions.h"

#include "common/ports.h"

#include <limits>

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

The sky (each off, or as without it, unless given):
  --north-rate R, --south-rate R, --west-rate R, --east-rate R
                  the guide rate of one direction, arcseconds per second
  --pe A          periodic error of the RA worm: a sine of A arcseconds amplitude
  --pe2 A         and its second harmonic, A arcseconds at half the period
  --pe-period S   the worm's period in seconds (default 480)
  --drift-ra R    drift in RA, arcseconds per minute (default -6: the star creeps left)
  --drift-dec R   drift in Dec, arcseconds per minute (default -18: the star creeps down)
  --backlash A    Dec backlash: after a reversal the motor turns A arcseconds before the
                  axis follows
  --seeing F      seeing of F arcseconds FWHM: each frame the stars stand off by a random
                  amount, about F / 7.9 arcseconds per axis
  --angle D       the camera turned D degrees against RA and Dec (counter-clockwise)
  --night         a realistic night: --seeing 2 --pe 5 --pe-period 230.5 --drift-ra 0
                  --drift-dec 5 --backlash 5 --angle 15; options after it override it
  --seed N        seed of the seeing, for a repeatable run (default: a new one each run)
  --truth FILE    write what really happened to FILE, as CSV: one line per guide command
                  and per frame, with the time, the axes, the tracking error (axes,
                  periodic error, drift) and the frame's seeing shift, in arcseconds
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

// An option that takes a decimal number of `unit` from `low` to `high`.
struct Decimal {
    const char *name;
    double low;
    double high;
    const char *unit;
    void (*set)(SimOptions &, double);
};

void setRate(SimOptions &o, std::size_t direction, double value)
{
    o.mount.guideRates[direction] = value;
}

constexpr double kMaxRate = 3600.0;
constexpr double kMaxArcsec = 3600.0;

const Decimal kDecimals[] = {
    {"--guide-rate", 0.1, kMaxRate, "arcseconds per second",
     [](SimOptions &o, double v) {
         o.mount.guideRates = {v, v, v, v};
     }},
    {"--north-rate", 0.1, kMaxRate, "arcseconds per second",
     [](SimOptions &o, double v) { setRate(o, 0, v); }},
    {"--south-rate", 0.1, kMaxRate, "arcseconds per second",
     [](SimOptions &o, double v) { setRate(o, 1, v); }},
    {"--west-rate", 0.1, kMaxRate, "arcseconds per second",
     [](SimOptions &o, double v) { setRate(o, 2, v); }},
    {"--east-rate", 0.1, kMaxRate, "arcseconds per second",
     [](SimOptions &o, double v) { setRate(o, 3, v); }},
    {"--pe", 0.0, kMaxArcsec, "arcseconds",
     [](SimOptions &o, double v) { o.mount.peAmplitude = v; }},
    {"--pe2", 0.0, kMaxArcsec, "arcseconds",
     [](SimOptions &o, double v) { o.mount.pe2Amplitude = v; }},
    {"--pe-period", 1.0, 86400.0, "seconds", [](SimOptions &o, double v) { o.mount.pePeriod = v; }},
    {"--drift-ra", -kMaxArcsec, kMaxArcsec, "arcseconds per minute",
     [](SimOptions &o, double v) { o.mount.driftRa = v / 60.0; }},
    {"--drift-dec", -kMaxArcsec, kMaxArcsec, "arcseconds per minute",
     [](SimOptions &o, double v) { o.mount.driftDec = v / 60.0; }},
    {"--backlash", 0.0, kMaxArcsec, "arcseconds",
     [](SimOptions &o, double v) { o.mount.decBacklash = v; }},
    {"--seeing", 0.0, 60.0, "arcseconds", [](SimOptions &o, double v) { o.seeingFwhm = v; }},
    {"--angle", -360.0, 360.0, "degrees", [](SimOptions &o, double v) { o.cameraAngle = v; }},
};

bool decimalAfter(const QStringList &arguments, qsizetype &i, const Decimal &option, SimOptions &o,
                  QString &error)
{
    bool ok = false;
    double value = 0.0;
    if (i + 1 < arguments.size())
        value = arguments.at(i + 1).toDouble(&ok);
    if (!ok || !(value >= option.low && value <= option.high)) {
        error = QStringLiteral("%1 takes %2 from %3 to %4%5")
                    .arg(QLatin1String(option.name), QLatin1String(option.unit))
                    .arg(option.low)
                    .arg(option.high)
                    .arg(i + 1 < arguments.size()
                             ? QStringLiteral(", not \"%1\"").arg(arguments.at(i + 1))
                             : QString());
        return false;
    }
    option.set(o, value);
    ++i;
    return true;
}

// A night as a guide camera knows it: the figures most guiders' own simulators start from.
void setNight(SimOptions &o)
{
    o.seeingFwhm = 2.0;
    o.mount.peAmplitude = 5.0;
    o.mount.pePeriod = 230.5;
    o.mount.driftRa = 0.0;
    o.mount.driftDec = 5.0 / 60.0;
    o.mount.decBacklash = 5.0;
    o.cameraAngle = 15.0;
}

// The value of --truth or --seed.
bool textAfter(const QStringList &arguments, qsizetype &i, QString &value, QString &error)
{
    if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
        error = QStringLiteral("%1 needs %2")
                    .arg(arguments.at(i), arguments.at(i) == QLatin1String("--seed")
                                              ? QStringLiteral("a number")
                                              : QStringLiteral("a file name"));
        return false;
    }
    value = arguments.at(++i);
    return true;
}

bool seedAfter(const QStringList &arguments, qsizetype &i, SimOptions &o, QString &error)
{
    QString text;
    if (!textAfter(arguments, i, text, error))
        return false;
    bool ok = false;
    const qulonglong seed = text.toULongLong(&ok);
    if (!ok) {
        error = QStringLiteral("--seed takes a whole number from 0 to %1, not \"%2\"")
                    .arg(std::numeric_limits<qulonglong>::max())
                    .arg(text);
        return false;
    }
    o.seed = seed;
    return true;
}

const Decimal *decimalOption(const QString &name)
{
    for (const Decimal &option : kDecimals) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
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
        else if (const Decimal *decimal = decimalOption(a))
            decimalAfter(arguments, i, *decimal, o, error);
        else if (a == QLatin1String("--night"))
            setNight(o);
        else if (a == QLatin1String("--truth"))
            textAfter(arguments, i, o.truthPath, error);
        else if (a == QLatin1String("--seed"))
            seedAfter(arguments, i, o, error);
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
