// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace voruna {

// The file that remembers the chosen port, resolved against the current directory at each use.
inline constexpr char kSettingsFileName[] = "VRdata.nwx";

// Reads the saved port index: -1 (none) or 0 to 15. A missing, empty, unreadable or torn file,
// one without a number, or one with a number outside -1 to 15 reads as -1.
int readSavedPortIndex(const QString &path = QString::fromLatin1(kSettingsFileName));

// Parses the file's content by the same rules.
int parseSavedPortIndex(const QByteArray &content);

// The file's bytes for a port index: sign position, digits, one blank, CR LF (" 2 \r\n", "-1
// \r\n").
QByteArray formatPortIndex(int portIndex);

enum class SaveResult { Saved, Failed };

// Replaces the file whole through a temporary file in the same folder, so a failed write leaves
// the previous file as it was.
SaveResult savePortIndex(int portIndex,
                         const QString &path = QString::fromLatin1(kSettingsFileName));

// The first 4 KiB of a regular file, read without ever blocking; empty for a missing or
// unreadable file and for anything that is not a regular file.
QByteArray readSettingsBytes(const QString &path);

// Replaces the file at `path` (for a symbolic link, the file it points to) whole with `bytes`
// through a temporary file beside it; on failure the previous file is left as it was.
SaveResult replaceSettingsFile(const QString &path, const QByteArray &bytes);

} // namespace voruna
