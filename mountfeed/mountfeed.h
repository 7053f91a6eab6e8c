// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/ownedfd.h"

#include <QObject>
#include <QString>

#include <optional>

class QSocketNotifier;

namespace voruna {

// Where the simulated mount points, as the adaptor simulator publishes it with each frame.
// `ra` and `dec` are its tracking error in arcseconds since the simulator started (where it
// points against where it should: the guide commands' moves plus periodic error and drift):
// north is +Dec, west is +RA (the senses of the slew commands ":Mn#" and ":Mw#"). `moving` holds
// the letters of the directions under way ("nw"), empty when none; `seconds` counts the
// simulator's own clock from its start. `seeingRa` and `seeingDec` are this frame's shift of the
// star image by the air (arcseconds), and `angle` the degrees the camera is turned
// (counter-clockwise on the picture) against RA and Dec.
struct MountReading {
    double ra = 0.0;
    double dec = 0.0;
    QString moving;
    double seconds = 0.0;
    double seeingRa = 0.0;
    double seeingDec = 0.0;
    double angle = 0.0;
    friend bool operator==(const MountReading &, const MountReading &) = default;
};

// The feed's wire format: a client connects to the simulator's stream socket and sends one
// byte ("\n") per request; the simulator answers each request with one line
// "<ra> <dec> <moving or -> <seconds> [<seeing ra> <seeing dec> <angle>]\n", numbers in the
// C locale, e.g. "12.500 -3.000 n 41.250" or "12.500 -3.000 n 41.250 0.210 -0.132 15.000".
// The last three fields come only when one of them is not zero; a line without them reads as
// zeros, so simulators and cameras of before and after them understand each other.
QByteArray mountReadingLine(const MountReading &reading);
// The reading of one line without its "\n"; nullopt when the line is not one.
std::optional<MountReading> parseMountReading(const QByteArray &line);

// The folder of the simulators' sockets: $XDG_RUNTIME_DIR/voruna, or when that is unset a
// folder /tmp/voruna-<uid>. With `create`, made (mode 0700) when missing. Empty, with the
// reason in `error`, when it is missing or is not a private folder of this user (a folder in
// /tmp that someone else made, or that others may enter, is never used).
QString mountFeedFolder(bool create, QString *error);
// The socket of the simulator linked as COM `port` in `folder`: sky-com<port>.sock.
QString mountFeedPath(const QString &folder, int port);

// Whether a simulator listens on the socket at `path` now. Immediate: a Unix socket's connect
// succeeds or fails at once, so this never waits.
bool mountFeedAnswers(const QString &path);

// One connection to a simulator's feed, read on the GUI thread without ever blocking: request()
// asks for the mount's position, readingArrived() brings the answer. lost() tells, once, that
// the simulator went away; nothing comes after it.
class MountFeed : public QObject {
    Q_OBJECT
public:
    explicit MountFeed(QObject *parent = nullptr);
    ~MountFeed() override;

    // Connects to the socket at `path`; false with the reason in `error`.
    bool open(const QString &path, QString *error);
    bool isLost() const { return m_lost; }
    QString path() const { return m_path; }
    // Asks for one reading. A request while the previous one is unanswered is not sent again.
    void request();

Q_SIGNALS:
    void readingArrived(const MountReading &reading);
    void lost();

private:
    void onReadable();
    void drop();

    OwnedFd m_fd;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_partial;
    QString m_path;
    int m_unanswered = 0;
    bool m_lost = false;
};

} // namespace voruna
