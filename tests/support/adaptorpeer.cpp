// SPDX-License-Identifier: GPL-3.0-or-later
// The far end of the test guest's USB serial adaptor: serves the Unix socket named on the
// command line, answers each probe "?" with "^" as the autoguide adaptor does, and appends
// every byte it receives to the file "received" beside the socket, so that a test can compare
// what crossed the real driver byte for byte. Runs until it is ended by a signal.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOCKET\n", argv[0]);
        return 2;
    }
    const std::string socketPath = argv[1];
    const std::string folder = socketPath.substr(0, socketPath.find_last_of('/') + 1);
    const int log = ::open((folder + "received").c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (log < 0 || server < 0 || socketPath.size() >= sizeof address.sun_path) {
        std::perror("adaptor peer");
        return 1;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ::unlink(socketPath.c_str());
    if (::bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(server, 1) != 0) {
        std::perror("adaptor peer");
        return 1;
    }
    // The emulator may connect again (after a reset); serve each connection in turn.
    for (;;) {
        const int link = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        if (link < 0) {
            if (errno == EINTR)
                continue;
            std::perror("adaptor peer");
            return 1;
        }
        char bytes[256];
        ssize_t count;
        while ((count = ::read(link, bytes, sizeof bytes)) > 0 || (count < 0 && errno == EINTR)) {
            if (count <= 0)
                continue;
            if (::write(log, bytes, size_t(count)) != count)
                std::perror("adaptor peer");
            for (ssize_t i = 0; i < count; ++i) {
                if (bytes[i] == '?' && ::write(link, "^", 1) != 1)
                    std::perror("adaptor peer");
            }
        }
        ::close(link);
    }
}
