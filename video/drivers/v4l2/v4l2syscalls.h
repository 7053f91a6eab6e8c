// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <utility>

namespace voruna {

// The only way the camera code reaches the kernel. Calls follow the system calls of the same
// names: -1 with errno set on failure (mmap: MAP_FAILED). open() must return a descriptor that
// poll() can wait on for frames. Tests hand in a scripted device.
class V4l2Syscalls {
public:
    virtual ~V4l2Syscalls() = default;
    // Paths of the video nodes present now, in node-number order (/dev/video0, /dev/video2...).
    virtual QStringList nodes() = 0;
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void *arg) = 0;
    virtual void *mmap(std::size_t length, int prot, int flags, int fd, off_t offset) = 0;
    virtual int munmap(void *address, std::size_t length) = 0;
};

// The kernel's own calls on the /dev/video* nodes.
std::shared_ptr<V4l2Syscalls> makeKernelSyscalls();

// ioctl() retried while interrupted by a signal.
int xioctl(V4l2Syscalls &sys, int fd, unsigned long request, void *arg);

// Owns one open descriptor of a video node; closes it through the same table.
class UniqueFd {
public:
    UniqueFd() = default;
    UniqueFd(V4l2Syscalls &sys, int fd) : m_sys(&sys), m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept { swap(other); }
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    void reset();
    void swap(UniqueFd &other) noexcept;

private:
    V4l2Syscalls *m_sys = nullptr;
    int m_fd = -1;
};

// Owns one memory mapping of a capture buffer.
class UniqueMapping {
public:
    UniqueMapping() = default;
    UniqueMapping(V4l2Syscalls &sys, void *address, std::size_t length)
        : m_sys(&sys)
        , m_address(address)
        , m_length(length)
    {}
    UniqueMapping(UniqueMapping &&other) noexcept { swap(other); }
    UniqueMapping &operator=(UniqueMapping &&other) noexcept;
    UniqueMapping(const UniqueMapping &) = delete;
    UniqueMapping &operator=(const UniqueMapping &) = delete;
    ~UniqueMapping() { reset(); }

    const unsigned char *data() const { return static_cast<const unsigned char *>(m_address); }
    std::size_t length() const { return m_length; }
    void reset();
    void swap(UniqueMapping &other) noexcept;

private:
    V4l2Syscalls *m_sys = nullptr;
    void *m_address = nullptr;
    std::size_t m_length = 0;
};

} // namespace voruna
