// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstddef>

namespace voruna {

// Room for a notification's text: 255 two-byte characters, the last one the terminator.
constexpr std::size_t notificationBufferBytes = 510;
constexpr std::size_t notificationTextBytes = notificationBufferBytes - 2;

// The status-line text of a notification: `text` up to its NUL, read for at most 508 bytes
// (a longer text is cut there, never at a split character), from the local 8-bit encoding.
// A null `text` gives an empty string.
QString notificationText(const char *text);

} // namespace voruna
