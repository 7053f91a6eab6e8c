// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/adaptorsim.h"

#include "tools/adaptorsim/mountfeedserver.h"
#include "tools/adaptorsim/stopsignals.h"
#include "tools/adaptorsim/truthlog.h"
#include "tools/ptykit/pseudoterminal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace voruna {

namespace {

using namespace std::chrono_literals;

// An unfinished command is given up after this long without more bytes.
constexpr auto kUnfinishedPatience = 500ms;
constexpr auto kExclusivityLookPeriod = 1000ms;
constexpr qsizetype kFloodChunk = 4096;

struct Direction {
    char letter;
    const char *text;
};
constexpr std::array<Direction, 4> kDirections{
    {{'n', "DEC+"}, {'s', "DEC-"}, {'w', "RA+"}, {'e', "RA-"}}};

std::size_t directionIndex(char letter)
{
    for (std::size_t i = 0; i < kDirections.size(); ++i) {
        if (kDirections[i].letter == letter)
            return i;
    }
    return 0; // the decoder lets only n, s, w and e through
}

QString visible(const QByteArray &bytes)
{
    QString text = QString::fromLatin1(bytes);
    text.replace(QLatin1String("\r"), QLatin1String("\\r"))
        .replace(QLatin1String("\n"), QLatin1String("\\n"));
    return text;
}

QString seconds(std::chrono::steady_clock::duration d)
{
    return QString::number(std::chrono::duration<double>(d).count(), 'f', 2) + QStringLiteral(" s");
}

} // namespace

AdaptorSim::AdaptorSim(const SimOptions &options, PseudoTerminal &pty, FILE *log,
                       MountFeedServer *feed, TruthLog *truth)
    : m_options(options)
    , m_pty(pty)
    , m_log(log)
    , m_filler(kFloodChunk, 'x')
    , m_feed(feed)
    , m_mount(options.mount, Clock::now())
    , m_seeing(options.seeingFwhm, options.seed.value_or(0))
    , m_truth(truth)
{}

void AdaptorSim::say(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), m_log);
    std::fflush(m_log);
}

int AdaptorSim::run(StopSignals &stop)
{
    if (m_options.flood)
        say(QStringLiteral("flooding: sending \"x\" as fast as the port takes it"));
    for (;;) {
        const bool wantOut = !m_out.isEmpty() || m_options.flood;
        std::vector<pollfd> fds{{stop.fd(), POLLIN, 0},
                                {m_pty.masterFd(), short(POLLIN | (wantOut ? POLLOUT : 0)), 0}};
        if (m_feed)
            m_feed->addPollFds(fds);
        if (::poll(fds.data(), nfds_t(fds.size()), pollTimeoutMs()) < 0 && errno != EINTR) {
            m_failure =
                QStringLiteral("poll: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        if (fds[0].revents & POLLIN) {
            const int signal = stop.take();
            say(QStringLiteral("stopping on %1")
                    .arg(QString::fromLatin1(sigabbrev_np(signal)).prepend(QLatin1String("SIG"))));
            return 0;
        }
        if ((fds[1].revents & (POLLIN | POLLERR | POLLHUP)) && !readCommands())
            break;
        if (m_feed)
            m_feed->serve(fds, 2, [this] { return mountNow(); });
        sendDue();
        giveUpUnfinished();
        releaseAbandonedPort();
        if (!writeOut())
            break;
    }
    say(QStringLiteral("error: %1").arg(m_failure));
    std::fprintf(stderr, "voruna-adaptor-sim: %s\n", m_failure.toLocal8Bit().constData());
    return 1;
}

bool AdaptorSim::readCommands()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_pty.masterFd(), buffer, sizeof buffer);
        if (n > 0) {
            m_lastReceived = Clock::now();
            const QList<ReceivedCommand> commands = m_decoder.feed(QByteArray(buffer, int(n)));
            for (const ReceivedCommand &command : commands)
                handle(command);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        m_failure = QStringLiteral("reading the pseudo-terminal: %1")
                        .arg(n == 0 ? QStringLiteral("closed")
                                    : QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
}

void AdaptorSim::handle(const ReceivedCommand &command)
{
    switch (command.kind) {
    case ReceivedCommand::Kind::Probe:
        answerProbe();
        break;
    case ReceivedCommand::Kind::Move:
        handleMove(command);
        break;
    case ReceivedCommand::Kind::Unknown:
        say(QStringLiteral("unknown bytes %1").arg(QString::fromLatin1(command.bytes.toHex(' '))));
        break;
    }
}

void AdaptorSim::answerProbe()
{
    QString dropped;
    // A serial driver throws away what a program left unread when it closed the port; the
    // pseudo-terminal keeps it, so an old answer is dropped here before a new one goes out.
    if (!m_options.flood) {
        // Bytes still on their way into the terminal are dropped too, without being counted.
        const int stale = m_pty.pendingForDevice();
        m_pty.dropPendingForDevice();
        if (stale > 0)
            dropped =
                QStringLiteral(" (dropped %1 unread byte(s) of an earlier answer)").arg(stale);
    }
    if (m_options.silent) {
        say(QStringLiteral("? probe -> not answered (--silent)") + dropped);
        return;
    }
    const QByteArray answer =
        m_options.lineEnd ? QByteArrayLiteral("^\r\n") : QByteArrayLiteral("^");
    const auto now = Clock::now();
    QString line;
    if (m_options.lateMs > 0) {
        m_scheduled.push_back({now + std::chrono::milliseconds(m_options.lateMs), answer,
                               QStringLiteral("answered %1 (%2 ms after the probe)")
                                   .arg(visible(answer))
                                   .arg(m_options.lateMs)});
        line = QStringLiteral("? probe -> answering %1 in %2 ms")
                   .arg(visible(answer))
                   .arg(m_options.lateMs);
    } else {
        // Out before the line is printed: whoever watches the log finds the answer there.
        m_out += answer;
        writeOut(); // a failure shows again at the loop's own write
        line = QStringLiteral("? probe -> answered %1").arg(visible(answer));
    }
    if (m_options.splitMs >= 0) {
        const int after = m_options.lateMs + m_options.splitMs;
        m_scheduled.push_back(
            {now + std::chrono::milliseconds(after), QByteArrayLiteral("\r\n"),
             QStringLiteral("sent \\r\\n, the answer's second piece (%1 ms after ^)")
                 .arg(m_options.splitMs)});
        line += QStringLiteral(", then \\r\\n %1 ms later").arg(m_options.splitMs);
    }
    if (m_options.flood)
        line += QStringLiteral(" (amid the flood)");
    say(line + dropped);
}

void AdaptorSim::handleMove(const ReceivedCommand &command)
{
    const std::size_t index = directionIndex(command.direction);
    const QString head = QString::fromLatin1(command.bytes) + QLatin1Char(' ')
                         + QLatin1String(kDirections[index].text);
    std::optional<Clock::time_point> &since = m_movingSince[index];
    const auto now = Clock::now();
    writeTruth((command.start ? "start " : "stop ") + QByteArray(1, command.direction), now);
    if (command.start) {
        m_mount.start(command.direction, now);
        if (since)
            say(head + QStringLiteral(" start (already moving for %1)").arg(seconds(now - *since)));
        else
            say(head + QStringLiteral(" start"));
        if (!since)
            since = now;
    } else if (since) {
        m_mount.stop(command.direction, now);
        say(head
            + QStringLiteral(" stop after %1; mount at RA %2\", Dec %3\"")
                  .arg(seconds(now - *since))
                  .arg(m_mount.raAt(now), 0, 'f', 1)
                  .arg(m_mount.decAt(now), 0, 'f', 1));
        since.reset();
    } else {
        say(head + QStringLiteral(" stop (was not moving)"));
    }
}

void AdaptorSim::sendDue()
{
    const auto now = Clock::now();
    // Scheduled in time order per probe; keep the order of the whole list by due time.
    std::stable_sort(m_scheduled.begin(), m_scheduled.end(),
                     [](const Scheduled &a, const Scheduled &b) { return a.due < b.due; });
    auto it = m_scheduled.begin();
    for (; it != m_scheduled.end() && it->due <= now; ++it) {
        m_out += it->bytes;
        writeOut();
        say(it->note);
    }
    m_scheduled.erase(m_scheduled.begin(), it);
}

void AdaptorSim::giveUpUnfinished()
{
    if (!m_decoder.hasUnfinished() || Clock::now() - m_lastReceived < kUnfinishedPatience)
        return;
    const QList<ReceivedCommand> rest = m_decoder.flush();
    for (const ReceivedCommand &command : rest)
        say(QStringLiteral("unknown bytes %1 (unfinished command)")
                .arg(QString::fromLatin1(command.bytes.toHex(' '))));
}

bool AdaptorSim::writeOut()
{
    for (;;) {
        const bool answering = !m_out.isEmpty();
        if (!answering && !m_options.flood)
            return true;
        const QByteArray &bytes = answering ? m_out : m_filler;
        const ssize_t n = ::write(m_pty.masterFd(), bytes.constData(), std::size_t(bytes.size()));
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return true;
            m_failure = QStringLiteral("writing the pseudo-terminal: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (answering)
            m_out.remove(0, n);
        else
            return true; // one chunk per turn, so reading and signals keep their turn
    }
}

void AdaptorSim::releaseAbandonedPort()
{
    const auto now = Clock::now();
    if (now - m_lastExclusivityLook < kExclusivityLookPeriod)
        return;
    m_lastExclusivityLook = now;
    if (m_pty.releaseAbandonedExclusivity())
        say(QStringLiteral("the program that held the port exclusively has gone: released it"));
}

MountReading AdaptorSim::mountNow()
{
    const auto now = Clock::now();
    const SkyOffset error = m_mount.trackingErrorAt(now);
    const SkyOffset seeing = m_seeing.next();
    writeTruth("frame", now, seeing);
    return {error.ra,
            error.dec,
            QString::fromStdString(m_mount.moving()),
            m_mount.secondsAt(now),
            seeing.ra,
            seeing.dec,
            m_options.cameraAngle};
}

void AdaptorSim::writeTruth(const QByteArray &event, Clock::time_point now,
                            std::optional<SkyOffset> seeing)
{
    if (!m_truth)
        return;
    m_truth->write(TruthLog::line(m_mount.secondsAt(now), event,
                                  {m_mount.raAt(now), m_mount.decAt(now)},
                                  m_mount.trackingErrorAt(now), seeing));
}

int AdaptorSim::pollTimeoutMs() const
{
    std::optional<Clock::time_point> next;
    for (const Scheduled &s : m_scheduled)
        next = next ? std::min(*next, s.due) : s.due;
    if (m_decoder.hasUnfinished()) {
        const auto giveUp = m_lastReceived + kUnfinishedPatience;
        next = next ? std::min(*next, giveUp) : giveUp;
    }
    // Wake now and then to look for a port that a killed program left exclusive.
    const auto look = m_lastExclusivityLook + kExclusivityLookPeriod;
    next = next ? std::min(*next, look) : look;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

} // namespace voruna
