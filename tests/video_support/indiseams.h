// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stand-ins for the system under the INDI code, put in by defining its C functions in the test
// program: names ending in ".slow.invalid" take five seconds to look up and are never found (a
// laptop's resolver asking for a Pi that is off), and FITS data can be held while being read (a
// large frame decoded on a slow laptop).

namespace voruna::test {

// While one lives, every FITS read waits in the library's call until release() (ten seconds at
// most).
class DecodeHold {
public:
    DecodeHold();
    ~DecodeHold();
    DecodeHold(const DecodeHold &) = delete;
    DecodeHold &operator=(const DecodeHold &) = delete;

    // True once a read is waiting.
    bool entered() const;
    void release();
};

} // namespace voruna::test
