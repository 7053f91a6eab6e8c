// SPDX-License-Identifier: GPL-3.0-or-later
// voruna-adaptor-sim: a USB Autoguide Adaptor on a pseudo-terminal, for working without the
// hardware and for the tests. See --help.

#include "link/portmap.h"
#include "mountfeed/mountfeed.h"
#include "tools/adaptorsim/adaptorsim.h"
#include "tools/adaptorsim/mountfeedserver.h"
#include "tools/adaptorsim/simoptions.h"
#include "tools/adaptorsim/stopsignals.h"
#include "tools/adaptorsim/truthlog.h"
#include "tools/ptykit/portlink.h"
#include "tools/ptykit/pseudoterminal.h"

#include <QStringList>

#include <csignal>
#include <cstdio>
#include <random>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "voruna-adaptor-sim: %s\n", message.toLocal8Bit().constData());
    return 2;
}

// Publishes the mount for the sky camera. A simulator that cannot still serves the port: it
// says why and goes on without the sky.
void publishMount(voruna::MountFeedServer &feed, const voruna::SimOptions &options)
{
    if (!options.sky)
        return;
    QString error;
    const QString folder = voruna::mountFeedFolder(true, &error);
    if (!folder.isEmpty() && feed.listen(voruna::mountFeedPath(folder, options.port), &error)) {
        const voruna::MountSetup &m = options.mount;
        std::printf("sky: mount published on %s, guide rate %.2f\"/s\n",
                    feed.path().toLocal8Bit().constData(), m.guideRates[0]);
        std::printf("sky: seeing %.2f\" FWHM (seed %llu), periodic error %.2f\" over %.1f s, "
                    "drift %.2f\"/min RA, %.2f\"/min Dec, backlash %.2f\", camera at %.1f deg\n",
                    options.seeingFwhm, static_cast<unsigned long long>(options.seed.value_or(0)),
                    m.peAmplitude, m.pePeriod, m.driftRa * 60.0, m.driftDec * 60.0, m.decBacklash,
                    options.cameraAngle);
        return;
    }
    std::printf("sky: not published: %s\n", error.toLocal8Bit().constData());
}

QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

} // namespace

int main(int argc, char **argv)
{
    using namespace voruna;
    const SimOptionsResult parsed = parseSimOptions(argumentsOf(argc, argv));
    if (parsed.outcome == SimOptionsResult::Outcome::Help
        || parsed.outcome == SimOptionsResult::Outcome::Version) {
        std::fputs(parsed.text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.outcome == SimOptionsResult::Outcome::Error)
        return fail(parsed.text);
    SimOptions options = parsed.options;
    if (!options.seed)
        options.seed = (std::uint64_t(std::random_device{}()) << 32) ^ std::random_device{}();
    TruthLog truth;
    QString truthError;
    if (!options.truthPath.isEmpty() && !truth.open(options.truthPath, &truthError))
        return fail(truthError);

    // A reader that goes away must not end the program before it has removed its link.
    std::signal(SIGPIPE, SIG_IGN);
    // First, so that it is undone last: a signal from here on ends the loop, not the program.
    StopSignals stop;
    if (!stop.isValid())
        return fail(QStringLiteral("cannot watch for stop signals"));

    QString error;
    PseudoTerminal pty;
    if (!pty.open(&error))
        return fail(error);
    PortLink link;
    const int port = parsed.options.port;
    if (!link.create(portsFolder(), port, pty.slavePath(), PortLink::Existing::KeepLive, &error))
        return fail(error);
    if (!link.replaced().isEmpty())
        std::printf("replaced a stale link to %s\n", link.replaced().toLocal8Bit().constData());
    // Before the ready line: whoever sees that line finds the mount published too.
    MountFeedServer feed;
    publishMount(feed, options);
    std::printf("ready: COM %d -> %s (link %s)\n", port, pty.slavePath().toLocal8Bit().constData(),
                link.path().toLocal8Bit().constData());
    std::fflush(stdout);

    AdaptorSim sim(options, pty, stdout, feed.isListening() ? &feed : nullptr,
                   truth.isOpen() ? &truth : nullptr);
    return sim.run(stop);
}
