// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settingsfile.h"

#include "common/ownedfd.h"
#include "common/ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace voruna {

namespace {

// More than any well-formed file holds; a larger file is read only this far.
constexpr qint64 kReadLimit = 4096;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool writeFully(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

int parseSavedPortIndex(const QByteArray &content)
{
    // The first item ends at the first comma or line end.
    qsizetype end = 0;
    while (end < content.size() && content[end] != ',' && content[end] != '\r'
           && content[end] != '\n')
        ++end;
    qsizetype begin = 0;
    while (begin < end && isBlank(content[begin]))
        ++begin;
    while (end > begin && isBlank(content[end - 1]))
        --end;
    const QByteArray item = content.mid(begin, end - begin);
    if (item.isEmpty() || item.size() > 8)
        return -1;
    for (qsizetype i = 0; i < item.size(); ++i) {
        const char c = item[i];
        const bool sign = i == 0 && (c == '-' || c == '+');
        if (!sign && (c < '0' || c > '9'))
            return -1;
    }
    bool ok = false;
    const int value = item.toInt(&ok);
    if (!ok || value < -1 || value >= kPortCount)
        return -1;
    return value;
}

QByteArray readSettingsBytes(const QString &path)
{
    // Never blocks: a FIFO that nobody writes, a device or a socket in the file's place reads
    // like a damaged file, and the program goes on.
    const OwnedFd file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.isValid())
        return {};
    const int fd = file.get();
    struct stat info {};
    QByteArray content;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        content.resize(kReadLimit);
        qsizetype got = 0;
        while (got < kReadLimit) {
            const ssize_t n = ::read(fd, content.data() + got, size_t(kReadLimit - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        content.truncate(got);
    }
    return content;
}

int readSavedPortIndex(const QString &path)
{
    return parseSavedPortIndex(readSettingsBytes(path));
}

QByteArray formatPortIndex(int portIndex)
{
    QByteArray bytes;
    bytes += portIndex < 0 ? '-' : ' ';
    bytes += QByteArray::number(portIndex < 0 ? -portIndex : portIndex);
    bytes += " \r\n";
    return bytes;
}

namespace {

// Where a save lands: the file itself or, for a symbolic link (one settings file shared by
// several folders), the file it points to, so that the link stays a link. A dangling link
// names a new file at its target.
QString resolveLinks(const QString &path)
{
    QString current = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QByteArray name = QFile::encodeName(current);
        struct stat info {};
        if (::lstat(name.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(name.constData(), target, sizeof target - 1);
        if (n <= 0)
            return current;
        const QString next = QFile::decodeName(QByteArray(target, n));
        current = QDir::isAbsolutePath(next)
                      ? next
                      : QFileInfo(current).absolutePath() + QLatin1Char('/') + next;
    }
    return QString(); // a loop of links: nothing to write to
}

} // namespace

SaveResult replaceSettingsFile(const QString &path, const QByteArray &bytes)
{
    // Written by hand rather than through QSaveFile: on a full disk that reports a short write
    // as success and renames a torn file over the saved one.
    const QString resolved = resolveLinks(path);
    if (resolved.isEmpty())
        return SaveResult::Failed;
    const QFileInfo target(resolved);
    QByteArray temp = QFile::encodeName(target.absolutePath() + QStringLiteral("/.")
                                        + target.completeBaseName() + QStringLiteral(".XXXXXX"));
    OwnedFd file(::mkstemp(temp.data()));
    if (!file.isValid())
        return SaveResult::Failed;
    const bool written = writeFully(file.get(), bytes) && ::fsync(file.get()) == 0;
    const bool closed = file.close();
    ::chmod(temp.constData(), 0644 & ~currentUmask());
    if (!written || !closed
        || ::rename(temp.constData(), QFile::encodeName(resolved).constData()) != 0) {
        ::unlink(temp.constData());
        return SaveResult::Failed;
    }
    return SaveResult::Saved;
}

SaveResult savePortIndex(int portIndex, const QString &path)
{
    return replaceSettingsFile(path, formatPortIndex(portIndex));
}

} // namespace voruna
