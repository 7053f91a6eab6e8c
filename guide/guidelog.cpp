// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/guidelog.h"

#include <QDir>

#include <cmath>

namespace voruna {

namespace {

QString number(double value, int decimals)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QString();
}

// Words without commas or spaces, so that the column reads as one token.
const char *lossWord(StarLoss loss)
{
    switch (loss) {
    case StarLoss::None:
        return "";
    case StarLoss::BadFrame:
        return "bad-frame";
    case StarLoss::NoStar:
        return "no-star";
    case StarLoss::HotPixel:
        return "hot-pixel";
    case StarLoss::NearEdge:
        return "near-edge";
    case StarLoss::Saturated:
        return "saturated";
    case StarLoss::TooFaint:
        return "too-faint";
    case StarLoss::BrightnessJump:
        return "brightness-jump";
    }
    return "";
}

const char *stateWord(GuideState state)
{
    switch (state) {
    case GuideState::Idle:
        return "idle";
    case GuideState::Calibrating:
        return "calibrating";
    case GuideState::Calibrated:
        return "calibrated";
    case GuideState::Guiding:
        return "guiding";
    case GuideState::StarLost:
        return "star-lost";
    case GuideState::CameraSilent:
        return "camera-silent";
    case GuideState::Failed:
        return "failed";
    }
    return "";
}

} // namespace

QString guideLogHeader()
{
    return QStringLiteral("time_s,dx_px,dy_px,ra_px,dec_px,ra_arcsec,dec_arcsec,"
                          "ra_pulse_s,dec_pulse_s,snr,stale,loss,state");
}

QString guideLogLine(const GuideRecord &record, GuideState state)
{
    const QStringList fields{number(record.time, 3),
                             number(record.offset.x(), 3),
                             number(record.offset.y(), 3),
                             number(record.raPixels, 3),
                             number(record.decPixels, 3),
                             number(record.raArcsec, 3),
                             number(record.decArcsec, 3),
                             number(record.raPulse, 3),
                             number(record.decPulse, 3),
                             number(record.snr, 1),
                             record.stale ? QStringLiteral("1") : QStringLiteral("0"),
                             QString::fromLatin1(lossWord(record.loss)),
                             QString::fromLatin1(stateWord(state))};
    return fields.join(QLatin1Char(','));
}

QString guideLogFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME is invalid by the XDG rules and is ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/voruna");
}

QString guideLogName(const QDateTime &start)
{
    return start.toString(QStringLiteral("'guide-'yyyy-MM-dd-HHmmss'.csv'"));
}

bool GuideLog::open(const QString &folder, const QDateTime &start)
{
    m_file.close();
    m_note.clear();
    if (!QDir().mkpath(folder)) {
        m_note = QStringLiteral("No guide log: the folder %1 cannot be made").arg(folder);
        return false;
    }
    // Two sessions begun within a second keep a file each.
    QString path = QDir(folder).filePath(guideLogName(start));
    for (int n = 2; QFile::exists(path); ++n)
        path = QDir(folder).filePath(guideLogName(start).replace(
            QStringLiteral(".csv"), QStringLiteral("-%1.csv").arg(n)));
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)) {
        m_note = QStringLiteral("No guide log: %1 cannot be written (%2)")
                     .arg(path, m_file.errorString());
        return false;
    }
    m_file.write(guideLogHeader().toLatin1() + '\n');
    m_file.flush();
    return true;
}

void GuideLog::write(const GuideRecord &record, GuideState state)
{
    if (!m_file.isOpen())
        return;
    const QByteArray line = guideLogLine(record, state).toLatin1() + '\n';
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        m_note = QStringLiteral("The guide log stopped: %1 (%2)")
                     .arg(m_file.fileName(), m_file.errorString());
        m_file.close();
    }
}

} // namespace voruna
