// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/exitsignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace voruna {

namespace {

constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};
// Read by the handler, so a plain global: a handler can reach nothing else.
volatile sig_atomic_t g_writeEnd = -1;
struct sigaction g_previous[kSignals.size()];

extern "C" void onExitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up: losing this byte loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

ExitSignals::ExitSignals(QObject *parent) : QObject(parent)
{
    if (g_writeEnd >= 0)
        return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readEnd.reset(fds[0]);
    m_writeEnd.reset(fds[1]);
    g_writeEnd = fds[1];
    struct sigaction action {};
    action.sa_handler = onExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
    m_notifier = new QSocketNotifier(m_readEnd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignals::drain);
}

ExitSignals::~ExitSignals()
{
    if (!m_notifier)
        return;
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    delete m_notifier;
    g_writeEnd = -1;
}

void ExitSignals::drain()
{
    unsigned char bytes[64];
    int first = 0;
    for (;;) {
        const ssize_t n = ::read(m_readEnd.get(), bytes, sizeof bytes);
        if (n > 0 && first == 0)
            first = bytes[0];
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || size_t(n) < sizeof bytes)
            break;
    }
    if (first != 0)
        Q_EMIT requested(first);
}

} // namespace voruna
