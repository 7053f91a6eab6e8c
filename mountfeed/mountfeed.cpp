// SPDX-License-Identifier: GPL-3.0-or-later
#include "mountfeed/mountfeed.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace voruna {

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The socket address of `path`; false when the path does not fit one.
bool socketAddress(const QString &path, sockaddr_un *address)
{
    const QByteArray bytes = QFile::encodeName(path);
    *address = {};
    address->sun_family = AF_UNIX;
    if (bytes.isEmpty() || std::size_t(bytes.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, bytes.constData(), std::size_t(bytes.size()));
    return true;
}

// A connected, non-blocking stream socket to `path`; invalid (errno set) on failure.
OwnedFd connectTo(const QString &path)
{
    sockaddr_un address;
    if (!socketAddress(path, &address)) {
        errno = ENAMETOOLONG;
        return OwnedFd();
    }
    OwnedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.isValid()
        && ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        fd.reset();
    return fd;
}

// Whether `path` is a folder of this user that no one else may enter.
bool isPrivateFolder(const QString &path, QString *error)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        *error = QStringLiteral("%1: %2").arg(path, systemError());
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        *error = QStringLiteral("%1 is not a private folder of this user").arg(path);
        return false;
    }
    return true;
}

// Far beyond what a night of slewing reaches (about 280 days of motion at the fastest rate),
// yet small enough that differences of readings and pixels computed from them stay exact
// enough and in range.
constexpr double kMaxOffset = 1.0e8; // arcseconds
constexpr double kMaxSeconds = 1.0e8;
// Far beyond any seeing; a turn is at most a full circle either way.
constexpr double kMaxSeeing = 3600.0; // arcseconds
constexpr double kMaxAngle = 360.0;   // degrees
// A number field is a short decimal, never a page of digits.
constexpr qsizetype kMaxFieldLength = 32;

bool validNumber(const QByteArray &text, double low, double high, double *value)
{
    if (text.isEmpty() || text.size() > kMaxFieldLength)
        return false;
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && std::isfinite(*value) && *value >= low && *value <= high;
}

} // namespace

QByteArray mountReadingLine(const MountReading &reading)
{
    const QByteArray moving =
        reading.moving.isEmpty() ? QByteArray("-") : reading.moving.toLatin1();
    return QByteArray::number(reading.ra, 'f', 3) + ' ' + QByteArray::number(reading.dec, 'f', 3)
           + ' ' + moving + ' ' + QByteArray::number(reading.seconds, 'f', 3)
           + (reading.seeingRa == 0.0 && reading.seeingDec == 0.0 && reading.angle == 0.0
                  ? QByteArray()
                  : ' ' + QByteArray::number(reading.seeingRa, 'f', 3) + ' '
                        + QByteArray::number(reading.seeingDec, 'f', 3) + ' '
                        + QByteArray::number(reading.angle, 'f', 3))
           + '\n';
}

std::optional<MountReading> parseMountReading(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() != 4 && fields.size() != 7)
        return std::nullopt;
    MountReading reading;
    if (!validNumber(fields[0], -kMaxOffset, kMaxOffset, &reading.ra)
        || !validNumber(fields[1], -kMaxOffset, kMaxOffset, &reading.dec)
        || !validNumber(fields[3], 0.0, kMaxSeconds, &reading.seconds))
        return std::nullopt;
    if (fields.size() == 7
        && (!validNumber(fields[4], -kMaxSeeing, kMaxSeeing, &reading.seeingRa)
            || !validNumber(fields[5], -kMaxSeeing, kMaxSeeing, &reading.seeingDec)
            || !validNumber(fields[6], -kMaxAngle, kMaxAngle, &reading.angle)))
        return std::nullopt;
    if (fields[2].isEmpty() || fields[2].size() > 4)
        return std::nullopt;
    if (fields[2] != "-") {
        for (const char c : fields[2]) {
            if (c != 'n' && c != 's' && c != 'w' && c != 'e')
                return std::nullopt;
        }
        reading.moving = QString::fromLatin1(fields[2]);
    }
    return reading;
}

QString mountFeedFolder(bool create, QString *error)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = runtime.isEmpty() ? QStringLiteral("/tmp/voruna-%1").arg(::getuid())
                                             : QDir(runtime).filePath(QStringLiteral("voruna"));
    // mkdir fails on anything already there, a link included; the check below judges that.
    if (create && ::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot make %1: %2").arg(folder, systemError());
        return {};
    }
    return isPrivateFolder(folder, error) ? folder : QString();
}

QString mountFeedPath(const QString &folder, int port)
{
    return QDir(folder).filePath(QStringLiteral("sky-com%1.sock").arg(port));
}

bool mountFeedAnswers(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return false;
    return connectTo(path).isValid();
}

MountFeed::MountFeed(QObject *parent) : QObject(parent)
{}

MountFeed::~MountFeed() = default;

bool MountFeed::open(const QString &path, QString *error)
{
    drop();
    m_fd = connectTo(path);
    if (!m_fd.isValid()) {
        *error =
            QStringLiteral("The sky simulator at %1 does not answer: %2").arg(path, systemError());
        return false;
    }
    m_path = path;
    m_lost = false;
    m_unanswered = 0;
    m_partial.clear();
    m_notifier = new QSocketNotifier(m_fd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MountFeed::onReadable);
    return true;
}

void MountFeed::request()
{
    if (!m_fd.isValid() || m_unanswered > 0)
        return;
    const ssize_t n = ::send(m_fd.get(), "\n", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == 1)
        ++m_unanswered;
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
        onReadable(); // the peer is gone: the read tells it and reports the loss
}

void MountFeed::onReadable()
{
    char buffer[512];
    std::optional<MountReading> newest;
    for (;;) {
        const ssize_t n = ::recv(m_fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        if (n <= 0) {
            drop();
            m_lost = true;
            Q_EMIT lost();
            return;
        }
        m_partial.append(buffer, n);
        qsizetype end;
        while ((end = m_partial.indexOf('\n')) >= 0) {
            if (const std::optional<MountReading> reading = parseMountReading(m_partial.left(end)))
                newest = reading;
            m_partial.remove(0, end + 1);
            m_unanswered = std::max(0, m_unanswered - 1);
        }
        // A peer that never ends its line is not a simulator of ours.
        if (m_partial.size() > 256)
            m_partial.clear();
    }
    if (newest)
        Q_EMIT readingArrived(*newest);
}

void MountFeed::drop()
{
    if (m_notifier) {
        // This may run inside the notifier's own activation: let the event loop delete it.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_fd.reset();
}

} // namespace voruna
