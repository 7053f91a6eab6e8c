// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/drivers/v4l2/v4l2syscalls.h"

#include <QDir>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace voruna {

namespace {

class KernelSyscalls final : public V4l2Syscalls {
public:
    QStringList nodes() override
    {
        QDir dev(QStringLiteral("/dev"));
        const QStringList names =
            dev.entryList({QStringLiteral("video*")}, QDir::System | QDir::Files);
        std::vector<std::pair<int, QString>> numbered;
        for (const QString &name : names) {
            bool ok = false;
            const int number = name.mid(5).toInt(&ok);
            if (ok)
                numbered.emplace_back(number, dev.filePath(name));
        }
        std::sort(numbered.begin(), numbered.end());
        QStringList paths;
        for (const auto &entry : numbered)
            paths << entry.second;
        return paths;
    }
    int open(const char *path, int flags) override { return ::open(path, flags | O_CLOEXEC); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void *arg) override
    {
        return ::ioctl(fd, request, arg);
    }
    void *mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override
    {
        return ::mmap(nullptr, length, prot, flags, fd, offset);
    }
    int munmap(void *address, std::size_t length) override { return ::munmap(address, length); }
};

} // namespace

std::shared_ptr<V4l2Syscalls> makeKernelSyscalls()
{
    return std::make_shared<KernelSyscalls>();
}

int xioctl(V4l2Syscalls &sys, int fd, unsigned long request, void *arg)
{
    int result;
    do {
        result = sys.ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    UniqueFd moved(std::move(other));
    swap(moved);
    return *this;
}

void UniqueFd::reset()
{
    if (m_fd >= 0 && m_sys)
        m_sys->close(m_fd);
    m_fd = -1;
}

void UniqueFd::swap(UniqueFd &other) noexcept
{
    std::swap(m_sys, other.m_sys);
    std::swap(m_fd, other.m_fd);
}

UniqueMapping &UniqueMapping::operator=(UniqueMapping &&other) noexcept
{
    UniqueMapping moved(std::move(other));
    swap(moved);
    return *this;
}

void UniqueMapping::reset()
{
    if (m_address && m_address != MAP_FAILED && m_sys)
        m_sys->munmap(m_address, m_length);
    m_address = nullptr;
    m_length = 0;
}

void UniqueMapping::swap(UniqueMapping &other) noexcept
{
    std::swap(m_sys, other.m_sys);
    std::swap(m_address, other.m_address);
    std::swap(m_length, other.m_length);
}

} // namespace voruna
