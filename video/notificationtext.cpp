// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/notificationtext.h"

#include <array>
#include <cstring>

namespace voruna {

namespace {

// Where a cut after `length` bytes leaves a whole number of UTF-8 characters.
std::size_t wholeCharacters(const char *bytes, std::size_t length)
{
    std::size_t start = length;
    while (start > 0 && (static_cast<unsigned char>(bytes[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start == 0)
        return length;
    const auto lead = static_cast<unsigned char>(bytes[start - 1]);
    const std::size_t needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length - (start - 1) >= needed ? length : start - 1;
}

} // namespace

QString notificationText(const char *text)
{
    if (!text)
        return QString();
    std::array<char, notificationBufferBytes> buffer{};
    std::size_t length = strnlen(text, notificationTextBytes);
    std::memcpy(buffer.data(), text, length);
    if (length == notificationTextBytes && text[length] != '\0')
        length = wholeCharacters(buffer.data(), length);
    return QString::fromLocal8Bit(buffer.data(), qsizetype(length));
}

} // namespace voruna
