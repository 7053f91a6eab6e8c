// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace voruna {

// An empty XDG_CONFIG_HOME for one test: set in this process's environment, so that
// portsFolder() points into it, and the previous value put back when destroyed.
class TempConfigHome {
public:
    TempConfigHome();
    TempConfigHome(const TempConfigHome &) = delete;
    TempConfigHome &operator=(const TempConfigHome &) = delete;
    ~TempConfigHome();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    // path()/voruna/ports, made.
    QString portsFolder() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

} // namespace voruna
