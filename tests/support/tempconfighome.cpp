// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/tempconfighome.h"

#include <QDir>

namespace voruna {

TempConfigHome::TempConfigHome()
    : m_previous(qgetenv("XDG_CONFIG_HOME"))
    , m_hadPrevious(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    if (m_dir.isValid()) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        QDir().mkpath(portsFolder());
    }
}

TempConfigHome::~TempConfigHome()
{
    if (m_hadPrevious)
        qputenv("XDG_CONFIG_HOME", m_previous);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TempConfigHome::portsFolder() const
{
    return m_dir.path() + QStringLiteral("/voruna/ports");
}

} // namespace voruna
