// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/stopsignals.h"

#include <sys/signalfd.h>
#include <unistd.h>

namespace voruna {

StopSignals::StopSignals()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &mask, &m_previousMask) != 0)
        return;
    m_fd.reset(::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK));
}

StopSignals::~StopSignals()
{
    m_fd.reset();
    ::sigprocmask(SIG_SETMASK, &m_previousMask, nullptr);
}

int StopSignals::take()
{
    signalfd_siginfo info{};
    if (::read(m_fd.get(), &info, sizeof info) != ssize_t(sizeof info))
        return 0;
    return int(info.ssi_signo);
}

} // namespace voruna
