// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/truthlog.h"

namespace voruna {

namespace {

QByteArray arcsec(double value)
{
    return QByteArray::number(value, 'f', 4);
}

} // namespace

QByteArray TruthLog::header()
{
    return QByteArrayLiteral(
        "seconds,event,axis_ra,axis_dec,error_ra,error_dec,seeing_ra,seeing_dec\n");
}

QByteArray TruthLog::line(double seconds, const QByteArray &event, SkyOffset axes, SkyOffset error,
                          std::optional<SkyOffset> seeing)
{
    QByteArray text = QByteArray::number(seconds, 'f', 6) + ',' + event + ',' + arcsec(axes.ra)
                      + ',' + arcsec(axes.dec) + ',' + arcsec(error.ra) + ',' + arcsec(error.dec)
                      + ',';
    if (seeing)
        text += arcsec(seeing->ra) + ',' + arcsec(seeing->dec);
    else
        text += ',';
    return text + '\n';
}

bool TruthLog::open(const QString &path, QString *error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *error = QStringLiteral("cannot write the truth to %1: %2").arg(path, m_file.errorString());
        return false;
    }
    write(header());
    return true;
}

void TruthLog::write(const QByteArray &line)
{
    if (m_file.isOpen())
        m_file.write(line);
}

} // namespace voruna
