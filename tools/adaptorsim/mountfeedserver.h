// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/ownedfd.h"
#include "mountfeed/mountfeed.h"

#include <QString>

#include <functional>
#include <vector>

#include <poll.h>
#include <sys/types.h>

namespace voruna {

// The simulator's side of the mount feed: a Unix stream socket that answers every request
// byte of every client with the mount's position (one line, see mountReadingLine()). Served
// from the simulator's one poll loop, never blocking. The socket file is removed when this is
// destroyed, unless another simulator has put its own in its place meanwhile.
class MountFeedServer {
public:
    MountFeedServer() = default;
    MountFeedServer(const MountFeedServer &) = delete;
    MountFeedServer &operator=(const MountFeedServer &) = delete;
    ~MountFeedServer();

    // Listens at `path`. A socket left there by a simulator that is gone is replaced; false,
    // with the reason in `error`, when a simulator answers there or something else is in the way.
    bool listen(const QString &path, QString *error);
    bool isListening() const { return m_listener.isValid(); }
    QString path() const { return m_path; }

    // Appends the descriptors to watch, for serve() to find at the same places.
    void addPollFds(std::vector<pollfd> &fds) const;
    // Takes new clients, answers requests and drops clients that left, from the poll results
    // that addPollFds() added starting at fds[first]. `reading` is asked once per answer.
    void serve(const std::vector<pollfd> &fds, std::size_t first,
               const std::function<MountReading()> &reading);

private:
    void accept();
    // false when the client is to be dropped.
    bool answer(int fd, const std::function<MountReading()> &reading);

    OwnedFd m_listener;
    std::vector<OwnedFd> m_clients;
    QString m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace voruna
