// SPDX-License-Identifier: GPL-3.0-or-later
#include "video_support/indiseams.h"

#include <fitsio.h>

#include <dlfcn.h>
#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

std::mutex holdMutex;
std::condition_variable holdChanged;
bool holding = false;
bool held = false;

bool slowName(const char *name)
{
    const char suffix[] = ".slow.invalid";
    const size_t length = name ? std::strlen(name) : 0;
    return length >= sizeof suffix - 1
           && std::strcmp(name + length - (sizeof suffix - 1), suffix) == 0;
}

void slowLookup()
{
    std::this_thread::sleep_for(std::chrono::seconds(5));
}

template<typename Function>
Function real(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int getaddrinfo(const char *node, const char *service, const struct addrinfo *hints,
                struct addrinfo **result)
{
    if (slowName(node)) {
        slowLookup();
        return EAI_NONAME;
    }
    static const auto next = real<decltype(&getaddrinfo)>("getaddrinfo");
    return next(node, service, hints, result);
}

struct hostent *gethostbyname(const char *name)
{
    if (slowName(name)) {
        slowLookup();
        h_errno = HOST_NOT_FOUND;
        return nullptr;
    }
    static const auto next = real<decltype(&gethostbyname)>("gethostbyname");
    return next(name);
}

int ffgpv(fitsfile *file, int type, LONGLONG first, LONGLONG count, void *blank, void *samples,
          int *anyBlank, int *status)
{
    {
        std::unique_lock lock(holdMutex);
        if (holding) {
            held = true;
            holdChanged.notify_all();
            holdChanged.wait_for(lock, std::chrono::seconds(10), [] { return !holding; });
        }
    }
    static const auto next = real<decltype(&ffgpv)>("ffgpv");
    return next(file, type, first, count, blank, samples, anyBlank, status);
}

} // extern "C"

namespace voruna::test {

DecodeHold::DecodeHold()
{
    const std::lock_guard lock(holdMutex);
    holding = true;
    held = false;
}

DecodeHold::~DecodeHold()
{
    release();
}

bool DecodeHold::entered() const
{
    const std::lock_guard lock(holdMutex);
    return held;
}

void DecodeHold::release()
{
    const std::lock_guard lock(holdMutex);
    holding = false;
    holdChanged.notify_all();
}

} // namespace voruna::test
