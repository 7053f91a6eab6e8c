#include "settings/settingsfile.h"

#include "common/ownedfd.h"
#include "common/ports.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
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
    while (end < content.size() && content[end] != ',' && content[end] != '\r' && content[end] != '\n')
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

int readSavedPortIndex(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray content = file.read(kReadLimit);
    file.close();
    return parseSavedPortIndex(content);
}

QByteArray formatPortIndex(int portIndex)
{
    QByteArray bytes;
    bytes += portIndex < 0 ? '-' : ' ';
    bytes += QByteArray::number(portIndex < 0 ? -portIndex : portIndex);
    bytes += " \r\n";
    return bytes;
}

SaveResult savePortIndex(int portIndex, const QString &path)
{
    // Written by hand rather than through QSaveFile: on a full disk that reports a short write
    // as success and renames a torn file over the saved one.
    const QFileInfo target(path);
    QByteArray temp = QFile::encodeName(target.absolutePath() + QStringLiteral("/.VRdata.XXXXXX"));
    OwnedFd file(::mkstemp(temp.data()));
    if (!file.isValid())
        return SaveResult::Failed;
    const QByteArray bytes = formatPortIndex(portIndex);
    const bool written = writeFully(file.get(), bytes) && ::fsync(file.get()) == 0;
    const bool closed = file.close();
    ::chmod(temp.constData(), 0644 & ~currentUmask());
    if (!written || !closed || ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(temp.constData());
        return SaveResult::Failed;
    }
    return SaveResult::Saved;
}

} // namespace voruna
