// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/ownedfd.h"

#include <signal.h>

namespace voruna {

// Turns SIGINT, SIGTERM and SIGHUP into a readable descriptor (signalfd), so that the poll loop
// sees them and the program ends through its normal clean-up. Restores the signal mask when
// destroyed, which lets a later signal end the program in the usual way.
class StopSignals {
public:
    StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;
    ~StopSignals();

    bool isValid() const { return m_fd.isValid(); }
    // Becomes readable when one of the signals has arrived.
    int fd() const { return m_fd.get(); }
    // The signal that arrived, or 0.
    int take();

private:
    sigset_t m_previousMask{};
    OwnedFd m_fd;
};

} // namespace voruna
