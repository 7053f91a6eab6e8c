// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ownedfd.h"
#include "link/portmap.h"
#include "mountfeed/mountfeed.h"
#include "support/simprocess.h"
#include "tools/adaptorsim/seeing.h"
#include "tools/adaptorsim/simoptions.h"
#include "tools/adaptorsim/truthlog.h"
#include "tools/ptykit/pseudoterminal.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace voruna;

namespace {

// A program opening the simulator's device as a serial port would.
class RawClient {
public:
    explicit RawClient(const QString &device)
        : m_fd(::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {}
    bool isOpen() const { return m_fd.isValid(); }
    bool write(const QByteArray &bytes)
    {
        return ::write(m_fd.get(), bytes.constData(), std::size_t(bytes.size())) == bytes.size();
    }
    // What arrives within ms; stops early once max bytes have come.
    QByteArray readFor(int ms, qsizetype max = 1 << 20)
    {
        QByteArray got;
        const QDeadlineTimer deadline(ms);
        while (got.size() < max && !deadline.hasExpired()) {
            pollfd fd{m_fd.get(), POLLIN, 0};
            ::poll(&fd, 1, int(deadline.remainingTime()));
            char buffer[4096];
            const ssize_t n = ::read(m_fd.get(), buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, int(n));
        }
        return got;
    }

private:
    OwnedFd m_fd;
};

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

} // namespace

class AdaptorSimTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void answers_data();
    void answers();
    void earlierAnswerLeftUnreadIsDropped();
    void floodKeepsServingCommands();
    void movements_data();
    void movements();
    void decoding_data();
    void decoding();
    void linkRemovedOnStopSignal_data();
    void linkRemovedOnStopSignal();
    void linkLeftByKilledSimIsReplaced_data();
    void linkLeftByKilledSimIsReplaced();
    void refusesToReplace_data();
    void refusesToReplace();
    void badOptions_data();
    void badOptions();
    void portsToolShowsEachPort();
    void skyOptions_data();
    void skyOptions();
    void skyOptionErrors_data();
    void skyOptionErrors();
    void truthFile();
    void exclusivityOfAKilledProgramIsLifted();

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QString ports() const { return m_home->path() + QStringLiteral("/voruna/ports"); }
    // What voruna-ports prints, a line each.
    QStringList portsToolLines() const;
};

QStringList AdaptorSimTest::portsToolLines() const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", m_home->path());
    tool.setProcessEnvironment(environment);
    tool.start(QFileInfo(SimProcess::program()).dir().filePath("voruna-ports"), QStringList{});
    if (!tool.waitForFinished(5000) || tool.exitCode() != 0)
        return {};
    return QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

void AdaptorSimTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

void AdaptorSimTest::answers_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("early"); // within 150 ms of the probe
    QTest::addColumn<QByteArray>("later"); // in the 500 ms after that
    QTest::addColumn<QString>("logged");
    QTest::newRow("plain") << QStringList{} << QByteArray("^") << QByteArray()
                           << "? probe -> answered ^";
    QTest::newRow("line end") << QStringList{"--line-end"} << QByteArray("^\r\n") << QByteArray()
                              << "? probe -> answered ^\\r\\n";
    QTest::newRow("silent") << QStringList{"--silent"} << QByteArray() << QByteArray()
                            << "? probe -> not answered";
    QTest::newRow("late") << QStringList{"--late", "300"} << QByteArray() << QByteArray("^")
                          << "? probe -> answering ^ in 300 ms";
    QTest::newRow("split") << QStringList{"--split", "300"} << QByteArray("^") << QByteArray("\r\n")
                           << "? probe -> answered ^, then \\r\\n 300 ms later";
}

void AdaptorSimTest::answers()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, early);
    QFETCH(QByteArray, later);
    QFETCH(QString, logged);
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start(options), qPrintable(sim.errorString()));
    RawClient client(sim.devicePath());
    QVERIFY(client.isOpen());

    QVERIFY(client.write("?"));
    QCOMPARE(client.readFor(150), early);
    QCOMPARE(client.readFor(500), later);
    QVERIFY2(!sim.waitForLine(logged, 1000).isEmpty(), qPrintable(sim.lines().join('\n')));
}

// A serial driver discards what was left unread when the port closed; the simulator must not
// hand an old "^" to the next probe, or a second "Connect" could be answered by the first.
void AdaptorSimTest::earlierAnswerLeftUnreadIsDropped()
{
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    {
        RawClient first(sim.devicePath());
        QVERIFY(first.write("?"));
        QVERIFY(!sim.waitForLine("answered ^", 1000).isEmpty());
    }
    RawClient second(sim.devicePath());
    QVERIFY(second.write("?"));
    // Until the probe reaches the simulator, the old byte is still there, as it would be on a
    // driver that has not yet closed the port; the program reads only well after its probe.
    QVERIFY(!sim.waitForLine("dropped 1 unread byte", 1000).isEmpty());
    QCOMPARE(second.readFor(200), QByteArray("^"));
}

void AdaptorSimTest::floodKeepsServingCommands()
{
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start({"--flood"}), qPrintable(sim.errorString()));
    RawClient client(sim.devicePath());
    const QByteArray flood = client.readFor(200);
    QVERIFY2(flood.size() > 4096, qPrintable(QString::number(flood.size())));
    QCOMPARE(flood.count('x'), flood.size());

    // Nobody reads now: the terminal fills up, and still every command is heard.
    QVERIFY(client.write(":Mn#"));
    QVERIFY(!sim.waitForLine(":Mn# DEC+ start", 1000).isEmpty());
    QTest::qWait(200);
    QVERIFY(client.write("?"));
    QVERIFY(!sim.waitForLine("? probe -> answered ^ (amid the flood)", 1000).isEmpty());
    QVERIFY(client.write(":Qn#"));
    QVERIFY(!sim.waitForLine(":Qn# DEC+ stop after", 1000).isEmpty());
    QVERIFY(client.readFor(300, 1 << 22).contains('^'));
    QVERIFY(sim.terminate());
    QCOMPARE(sim.exitCode(), 0);
}

void AdaptorSimTest::movements_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("stop");
    QTest::addColumn<QString>("meaning");
    QTest::addColumn<int>("raSense"); // how the mount moved: +1, -1 or 0 per axis
    QTest::addColumn<int>("decSense");
    QTest::newRow("north") << QByteArray(":Mn#") << QByteArray(":Qn#") << "DEC+" << 0 << 1;
    QTest::newRow("south") << QByteArray(":Ms#") << QByteArray(":Qs#") << "DEC-" << 0 << -1;
    QTest::newRow("west") << QByteArray(":Mw#") << QByteArray(":Qw#") << "RA+" << 1 << 0;
    QTest::newRow("east") << QByteArray(":Me#") << QByteArray(":Qe#") << "RA-" << -1 << 0;
}

void AdaptorSimTest::movements()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, stop);
    QFETCH(QString, meaning);
    QFETCH(int, raSense);
    QFETCH(int, decSense);
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start({"--port", "7", "--guide-rate", "20"}), qPrintable(sim.errorString()));
    QCOMPARE(sim.linkPath(), ports() + "/com7");
    RawClient client(sim.devicePath());

    QVERIFY(client.write(start));
    QCOMPARE(sim.waitForLine(QString::fromLatin1(start), 1000), start + ' ' + meaning + " start");
    QTest::qWait(150);
    QVERIFY(client.write(stop));
    const QString line = sim.waitForLine(QString::fromLatin1(stop), 1000);
    static const QRegularExpression after(QStringLiteral(
        "^(.+) stop after (\\d+\\.\\d\\d) s; mount at RA (-?\\d+\\.\\d)\", Dec (-?\\d+\\.\\d)\"$"));
    const QRegularExpressionMatch match = after.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(1), stop + ' ' + meaning);
    const double seconds = match.captured(2).toDouble();
    QVERIFY2(seconds >= 0.14 && seconds < 1.0, qPrintable(line));
    // The mount moved along its axis only, the way of the command, at 20"/s for that time.
    const double slewed = 20.0 * seconds;
    QVERIFY2(std::abs(match.captured(3).toDouble() - raSense * slewed) <= 0.25, qPrintable(line));
    QVERIFY2(std::abs(match.captured(4).toDouble() - decSense * slewed) <= 0.25, qPrintable(line));
}

void AdaptorSimTest::decoding_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces"); // written 50 ms apart
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("stop without start")
        << QList<QByteArray>{":Qs#"} << QStringList{":Qs# DEC- stop (was not moving)"};
    QTest::newRow("line end in hex")
        << QList<QByteArray>{"\r\n"} << QStringList{"unknown bytes 0d 0a"};
    QTest::newRow("command in two pieces")
        << QList<QByteArray>{":M", "w#"} << QStringList{":Mw# RA+ start"};
    QTest::newRow("unknown bytes, then a command")
        << QList<QByteArray>{"zz:Me#?"}
        << QStringList{"unknown bytes 7a 7a", ":Me# RA- start", "? probe -> answered ^"};
    QTest::newRow("not a direction")
        << QList<QByteArray>{":Mx#"} << QStringList{"unknown bytes 3a 4d 78 23"};
    QTest::newRow("unfinished command given up")
        << QList<QByteArray>{":Q"} << QStringList{"unknown bytes 3a 51 (unfinished command)"};
    QTest::newRow("start while moving")
        << QList<QByteArray>{":Mn#", ":Mn#", ":Qn#"}
        << QStringList{":Mn# DEC+ start", ":Mn# DEC+ start (already moving for 0.",
                       ":Qn# DEC+ stop after 0."};
}

void AdaptorSimTest::decoding()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, expected);
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const qsizetype before = sim.lines().size(); // up to the ready line
    RawClient client(sim.devicePath());
    for (const QByteArray &piece : pieces) {
        QVERIFY(client.write(piece));
        QTest::qWait(50);
    }
    for (const QString &line : expected)
        QVERIFY2(!sim.waitForLine(line, 1500).isEmpty(),
                 qPrintable(line + " in:\n" + sim.lines().join('\n')));
    QCOMPARE(sim.lines().size(), before + expected.size());
}

void AdaptorSimTest::linkRemovedOnStopSignal_data()
{
    QTest::addColumn<bool>("interrupt");
    QTest::newRow("SIGTERM") << false;
    QTest::newRow("SIGINT") << true;
}

void AdaptorSimTest::linkRemovedOnStopSignal()
{
    QFETCH(bool, interrupt);
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start({"--port", "3"}), qPrintable(sim.errorString()));
    QVERIFY(isLink(sim.linkPath()));
    QVERIFY(interrupt ? sim.interrupt() : sim.terminate());
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!isLink(sim.linkPath()));
    QCOMPARE(QDir(ports()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void AdaptorSimTest::linkLeftByKilledSimIsReplaced_data()
{
    QTest::addColumn<bool>("numberReused");
    QTest::newRow("link leads nowhere") << false;
    QTest::newRow("its device number given to another terminal") << true;
}

void AdaptorSimTest::linkLeftByKilledSimIsReplaced()
{
    QFETCH(bool, numberReused);
    SimProcess first(m_home->path());
    QVERIFY2(first.start({"--port", "4"}), qPrintable(first.errorString()));
    const QString link = first.linkPath();
    first.kill();
    QVERIFY(isLink(link));

    PseudoTerminal other;
    QString error;
    QVERIFY2(other.open(&error), qPrintable(error));
    if (numberReused) {
        // As if the old number now belonged to another program's terminal.
        const QString note = ports() + "/.com4.owner";
        QFile in(note);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QList<QByteArray> fields = in.readAll().split('\n');
        in.close();
        fields[2] = QFile::encodeName(other.slavePath());
        QSaveFile out(note);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(fields.join('\n'));
        QVERIFY(out.commit());
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(other.slavePath(), link));
    }
    // Until a simulator takes the port again, it is no port: never someone else's terminal.
    QCOMPARE(assignPort(4, ports(), {}).device, QString());
    const QStringList lines = portsToolLines();
    QVERIFY(lines.size() > 4);
    // The killed simulator's number may have gone to the terminal opened above already.
    const bool leadsToTerminal = QFileInfo::exists(link);
    QVERIFY(leadsToTerminal || !numberReused);
    QVERIFY2(lines.at(4).endsWith(leadsToTerminal ? "by a simulator that is gone)"
                                                  : "which is not there)"),
             qPrintable(lines.at(4)));

    SimProcess second(m_home->path());
    QVERIFY2(second.start({"--port", "4"}), qPrintable(second.errorString()));
    QVERIFY(second.lines().first().startsWith("replaced a stale link to /dev/pts/"));
    QCOMPARE(QFileInfo(link).symLinkTarget(), second.devicePath());
}

void AdaptorSimTest::refusesToReplace_data()
{
    QTest::addColumn<QString>("inTheWay");
    QTest::addColumn<QString>("message");
    QTest::newRow("a device the user pinned") << "device"
                                              << "is pinned to a device that is present";
    QTest::newRow("a simulator that runs") << "simulator"
                                           << "is taken by a simulator that is running";
    QTest::newRow("a file") << "file"
                            << "is there and is not a link";
}

void AdaptorSimTest::refusesToReplace()
{
    QFETCH(QString, inTheWay);
    QFETCH(QString, message);
    const QString link = ports() + "/com2";
    QVERIFY(QDir().mkpath(ports()));
    PseudoTerminal device;
    QString error;
    QVERIFY2(device.open(&error), qPrintable(error));
    SimProcess running(m_home->path());
    if (inTheWay == "device")
        QVERIFY(QFile::link(device.slavePath(), link));
    else if (inTheWay == "simulator")
        QVERIFY2(running.start({"--port", "2"}), qPrintable(running.errorString()));
    else
        QVERIFY(QFile(link).open(QIODevice::WriteOnly));
    const QString before = QFileInfo(link).symLinkTarget();

    SimProcess sim(m_home->path());
    QVERIFY(!sim.start({"--port", "2"}));
    QVERIFY(!sim.isRunning());
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY2(sim.errorOutput().contains(message), qPrintable(sim.errorOutput()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), before);
}

void AdaptorSimTest::badOptions_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("message");
    QTest::newRow("port 0") << QStringList{"--port", "0"} << "--port takes a number from 1 to 16";
    QTest::newRow("port 17") << QStringList{"--port", "17"} << "--port takes a number from 1 to 16";
    QTest::newRow("no number") << QStringList{"--late"} << "--late needs a number";
    QTest::newRow("unknown") << QStringList{"--fast"} << "unknown option \"--fast\"";
    QTest::newRow("silent and late")
        << QStringList{"--silent", "--late", "5"} << "--silent never answers";
    QTest::newRow("guide rate 0") << QStringList{
        "--guide-rate",
        "0"} << "--guide-rate takes arcseconds per second from 0.1 to 3600, not \"0\"";
    QTest::newRow("guide rate not a number")
        << QStringList{"--guide-rate", "fast"} << "--guide-rate takes arcseconds";
    QTest::newRow("guide rate missing")
        << QStringList{"--guide-rate"} << "--guide-rate takes arcseconds";
    QTest::newRow("truth in a folder that is not there")
        << QStringList{"--truth", "/nonexistent/truth.csv"} << "cannot write the truth to";
}

void AdaptorSimTest::badOptions()
{
    QFETCH(QStringList, options);
    QFETCH(QString, message);
    SimProcess sim(m_home->path());
    QVERIFY(!sim.start(options));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY2(sim.errorOutput().contains(message), qPrintable(sim.errorOutput()));
    QVERIFY(!QFileInfo::exists(ports()));
}

void AdaptorSimTest::portsToolShowsEachPort()
{
    QVERIFY(QDir().mkpath(ports()));
    PseudoTerminal pinned;
    QString error;
    QVERIFY2(pinned.open(&error), qPrintable(error));
    QVERIFY(QFile::link(pinned.slavePath(), ports() + "/com3"));
    QVERIFY(QFile::link(ports() + "/unplugged", ports() + "/com2"));

    const QStringList lines = portsToolLines();
    QCOMPARE(lines.size(), 17);
    QCOMPARE(lines.at(0), "Ports folder: " + ports());
    QCOMPARE(lines.at(2),
             "COM 2:  \u2014none\u2014 (pinned to " + ports() + "/unplugged, which is not there)");
    QCOMPARE(lines.at(3), "COM 3:  " + pinned.slavePath() + " (pinned)");
    QVERIFY2(lines.at(16).startsWith("COM 16: "), qPrintable(lines.at(16)));
}

// A program that takes the port for itself (as QSerialPort does) and is killed leaves it
// exclusive; the simulator lifts that once nobody holds the port, and not before.
void AdaptorSimTest::exclusivityOfAKilledProgramIsLifted()
{
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const QByteArray device = QFile::encodeName(sim.devicePath());
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY);
        if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    QVERIFY(holder > 0);
    const auto exclusive = [&device] {
        // Root may open an exclusive terminal, so the test can look.
        const OwnedFd look(
            ::open(device.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        int value = -1;
        ::ioctl(look.get(), TIOCGEXCL, &value);
        return value;
    };
    QTRY_COMPARE(exclusive(), 1);
    QTest::qWait(1500); // the simulator looks once a second: still held, so still exclusive
    QCOMPARE(exclusive(), 1);

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    QVERIFY2(!sim.waitForLine(QStringLiteral("released it"), 3000).isEmpty(),
             qPrintable(sim.lines().join('\n')));
    QCOMPARE(exclusive(), 0);
}

void AdaptorSimTest::skyOptions_data()
{
    // What the options make of the sky: seeing ("), periodic error (") and period (s), drift
    // ("/min) in RA and Dec, backlash ("), the camera's angle (degrees), guide rates n, s, w, e.
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<double>>("sky");
    QTest::addColumn<QList<double>>("rates");
    const QList<double> even{7.5, 7.5, 7.5, 7.5};
    QTest::newRow("none: the sky as it always was")
        << QStringList{} << QList<double>{0, 0, 480, -6, -18, 0, 0} << even;
    QTest::newRow("a night") << QStringList{"--night"} << QList<double>{2, 5, 230.5, 0, 5, 5, 15}
                             << even;
    QTest::newRow("options after --night override it")
        << QStringList{"--night", "--seeing", "1", "--backlash", "0", "--drift-ra", "2"}
        << QList<double>{1, 5, 230.5, 2, 5, 0, 15} << even;
    QTest::newRow("--night overrides options before it")
        << QStringList{"--seeing", "3", "--angle", "-40", "--night"}
        << QList<double>{2, 5, 230.5, 0, 5, 5, 15} << even;
    QTest::newRow("--night keeps the guide rate")
        << QStringList{"--guide-rate", "12", "--night"} << QList<double>{2, 5, 230.5, 0, 5, 5, 15}
        << QList<double>{12, 12, 12, 12};
    QTest::newRow("one direction after the guide rate")
        << QStringList{"--guide-rate", "10", "--east-rate", "5", "--north-rate", "9.5"}
        << QList<double>{0, 0, 480, -6, -18, 0, 0} << QList<double>{9.5, 10, 10, 5};
    QTest::newRow("the guide rate after one direction")
        << QStringList{"--south-rate", "3", "--guide-rate", "10"}
        << QList<double>{0, 0, 480, -6, -18, 0, 0} << QList<double>{10, 10, 10, 10};
    QTest::newRow("each figure its own")
        << QStringList{"--pe",     "2.5",         "--pe-period", "600",     "--drift-ra",
                       "-3",       "--drift-dec", "30",          "--angle", "-45",
                       "--seeing", "0.5",         "--backlash",  "12"}
        << QList<double>{0.5, 2.5, 600, -3, 30, 12, -45} << even;
}

void AdaptorSimTest::skyOptions()
{
    QFETCH(QStringList, options);
    QFETCH(QList<double>, sky);
    QFETCH(QList<double>, rates);
    const SimOptionsResult parsed = parseSimOptions(options);
    QCOMPARE(parsed.outcome, SimOptionsResult::Outcome::Run);
    const SimOptions &o = parsed.options;
    const QList<double> found{o.seeingFwhm,         o.mount.peAmplitude,   o.mount.pePeriod,
                              o.mount.driftRa * 60, o.mount.driftDec * 60, o.mount.decBacklash,
                              o.cameraAngle};
    for (qsizetype i = 0; i < sky.size(); ++i)
        QCOMPARE(found[i] + 1.0, sky[i] + 1.0); // fuzzy comparison needs no zero
    QCOMPARE(QList<double>(o.mount.guideRates.begin(), o.mount.guideRates.end()), rates);
}

void AdaptorSimTest::skyOptionErrors_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("message");
    QTest::newRow("negative seeing")
        << QStringList{"--seeing", "-1"} << "--seeing takes arcseconds from 0 to 60, not \"-1\"";
    QTest::newRow("angle past a turn")
        << QStringList{"--angle", "400"} << "--angle takes degrees from -360 to 360, not \"400\"";
    QTest::newRow("backlash missing")
        << QStringList{"--night", "--backlash"} << "--backlash takes arcseconds from 0 to 3600";
    QTest::newRow("seed not a number")
        << QStringList{"--seed", "x"} << "--seed takes a whole number";
    QTest::newRow("truth without a file") << QStringList{"--truth"} << "--truth needs a file name";
}

void AdaptorSimTest::skyOptionErrors()
{
    QFETCH(QStringList, options);
    QFETCH(QString, message);
    const SimOptionsResult parsed = parseSimOptions(options);
    QCOMPARE(parsed.outcome, SimOptionsResult::Outcome::Error);
    QVERIFY2(parsed.text.startsWith(message), qPrintable(parsed.text));
}

// The truth file tells what the camera was sent: each frame's tracking error and seeing as the
// feed gave them, the commands between, and the mount's errors as the model makes them.
void AdaptorSimTest::truthFile()
{
    const QString truth = m_home->filePath("truth.csv");
    const QStringList options{"--night", "--pe-period", "20",      "--backlash", "20",
                              "--seed",  "7",           "--truth", truth};
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start(options), qPrintable(sim.errorString()));
    MountFeed feed;
    QString error;
    QVERIFY2(
        feed.open(mountFeedPath(SimProcess::runtimeFolder(m_home->path()) + "/voruna", 1), &error),
        qPrintable(error));
    QList<MountReading> readings;
    connect(&feed, &MountFeed::readingArrived, this,
            [&readings](const MountReading &reading) { readings << reading; });
    const auto ask = [&] {
        const qsizetype before = readings.size();
        feed.request();
        return QTest::qWaitFor([&] { return readings.size() > before; }, 2000);
    };
    RawClient client(sim.devicePath());
    QVERIFY(ask());
    // Far shorter than the backlash: the Dec axis never moves.
    QVERIFY(client.write(":Ms#"));
    QVERIFY(!sim.waitForLine(":Ms# DEC- start", 1000).isEmpty());
    QVERIFY(ask());
    QTest::qWait(150);
    QVERIFY(client.write(":Qs#"));
    QVERIFY(!sim.waitForLine(":Qs# DEC- stop", 1000).isEmpty());
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(100);
        QVERIFY(ask());
    }

    QFile file(truth);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.takeLast(), QByteArray()); // the last line is whole
    QCOMPARE(lines.takeFirst() + '\n', TruthLog::header());
    QStringList events;
    MountModel model(parseSimOptions(options).options.mount, {});
    Seeing seeing(2.0, 7);
    qsizetype frame = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.split(',');
        QCOMPARE(f.size(), 8);
        events << QString::fromLatin1(f[1]);
        const double t = f[0].toDouble();
        QCOMPARE(f[2].toDouble(), 0.0);
        QCOMPARE(f[3].toDouble(), 0.0);
        QVERIFY2(std::abs(f[4].toDouble() - model.periodicError(t)) < 2e-4, line.constData());
        QVERIFY2(std::abs(f[5].toDouble() - model.setup().driftDec * t) < 2e-4, line.constData());
        if (f[1] != "frame")
            continue;
        const MountReading &sent = readings.at(frame++);
        const SkyOffset shift = seeing.next();
        QVERIFY2(std::abs(f[6].toDouble() - shift.ra) < 2e-4
                     && std::abs(f[7].toDouble() - shift.dec) < 2e-4,
                 line.constData());
        QVERIFY2(std::abs(sent.ra - f[4].toDouble()) < 1e-3
                     && std::abs(sent.dec - f[5].toDouble()) < 1e-3
                     && std::abs(sent.seeingRa - shift.ra) < 1e-3
                     && std::abs(sent.seeingDec - shift.dec) < 1e-3 && sent.angle == 15.0,
                 line.constData());
    }
    QCOMPARE(events,
             (QStringList{"frame", "start s", "frame", "stop s", "frame", "frame", "frame"}));
}

QTEST_GUILESS_MAIN(AdaptorSimTest)
#include "tools_adaptorsim.moc"
