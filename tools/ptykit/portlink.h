// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace voruna {

// The link comN in a ports folder that makes a pseudo-terminal port n. Next to it a hidden note
// (.comN.owner) records the process that made it, so that a link left behind by a killed
// simulator is known for stale even when its pseudo-terminal number has been reused since.
// The link and the note are removed when this is destroyed, if they are still this one's.
class PortLink {
public:
    enum class Existing {
        // Keep a link that leads to a live device or to a running simulator; replace only links
        // that lead nowhere or that a simulator no longer running left behind.
        KeepLive,
        // Replace any link (tests that own the whole folder).
        Replace,
    };

    PortLink() = default;
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;
    ~PortLink() { remove(); }

    // Links com<portNumber> in folder (made if missing) to target. false with error saying
    // what is in the way, or what failed.
    bool create(const QString &folder, int portNumber, const QString &target, Existing existing,
                QString *error);
    void remove();

    QString path() const { return m_path; }
    // Where the link it replaced pointed; empty when there was none.
    QString replaced() const { return m_replaced; }

private:
    bool mayReplace(const QString &oldTarget, QString *error) const;
    bool placeLink(const QString &target, bool replacing, QString *error);

    QString m_path;
    QString m_notePath;
    QString m_target;
    QString m_replaced;
    int m_portNumber = 0;
};

} // namespace voruna
