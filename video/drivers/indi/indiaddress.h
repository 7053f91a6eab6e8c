// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/drivers/indi/indiservers.h"

#include <QList>

#include <chrono>

namespace voruna {

// Looks up the servers' names at once, each on a thread of its own, and gives the address of
// each one found within `limit`, in the order given. A name still being looked up when the limit is
// reached is dropped; its lookup ends by itself later, holding nothing of the caller's.
QList<IndiAddress> resolveIndiServers(const QList<IndiServer> &servers,
                                      std::chrono::milliseconds limit);

// The servers that are not the same as one before them: the same address and port under
// another name (localhost and 127.0.0.1) is one server, shown by its first-written name.
QList<IndiAddress> distinctIndiServers(const QList<IndiAddress> &resolved);

} // namespace voruna
