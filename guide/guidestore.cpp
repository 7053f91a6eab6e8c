// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/guidestore.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QUrl>

#include <array>
#include <cmath>

namespace voruna {

namespace {

// Scales beyond this are typing mistakes, not cameras behind a lens.
constexpr double kLargestScale = 3600.0;

bool usableScale(double scale)
{
    return std::isfinite(scale) && scale > 0.0 && scale <= kLargestScale;
}

// The file's lines as read; a section is "[name]" up to the next one. Lines that are neither a
// section, nor "key=value", nor a comment are kept as they are and otherwise ignored.
class IniLines {
public:
    explicit IniLines(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        m_lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        if (!m_lines.isEmpty() && m_lines.last().isEmpty())
            m_lines.removeLast();
        for (QString &line : m_lines)
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
    }

    std::optional<QString> value(const QString &section, const QString &key) const
    {
        const int start = sectionStart(section);
        if (start < 0)
            return std::nullopt;
        for (int i = start + 1; i < sectionEnd(start); ++i)
            if (keyOf(m_lines[i]) == key)
                return m_lines[i].section(QLatin1Char('='), 1).trimmed();
        return std::nullopt;
    }

    void set(const QString &section, const QString &key, const QString &value)
    {
        int start = sectionStart(section);
        if (start < 0) {
            if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty())
                m_lines.append(QString());
            m_lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
            start = int(m_lines.size()) - 1;
        }
        const QString line = key + QLatin1Char('=') + value;
        int end = sectionEnd(start);
        for (int i = start + 1; i < end; ++i) {
            if (keyOf(m_lines[i]) == key) {
                m_lines[i] = line;
                return;
            }
        }
        while (end > start + 1 && m_lines[end - 1].trimmed().isEmpty())
            --end;
        m_lines.insert(end, line);
    }

    StoreResult save(const QString &path) const
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return StoreResult::Failed;
        const QByteArray bytes = (m_lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
        if (file.write(bytes) != bytes.size())
            file.cancelWriting();
        return file.commit() ? StoreResult::Saved : StoreResult::Failed;
    }

private:
    static QString keyOf(const QString &line)
    {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#'))
            || !trimmed.contains(QLatin1Char('=')))
            return QString();
        return trimmed.section(QLatin1Char('='), 0, 0).trimmed();
    }

    static bool isHeader(const QString &line)
    {
        const QString trimmed = line.trimmed();
        return trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'));
    }

    int sectionStart(const QString &section) const
    {
        const QString header = QLatin1Char('[') + section + QLatin1Char(']');
        for (int i = 0; i < m_lines.size(); ++i)
            if (m_lines[i].trimmed() == header)
                return i;
        return -1;
    }

    int sectionEnd(int start) const
    {
        int i = start + 1;
        while (i < m_lines.size() && !isHeader(m_lines[i]))
            ++i;
        return i;
    }

    QStringList m_lines;
};

// Camera keys name devices and servers; what would end a section name or a line is escaped.
QString keyText(const QString &cameraKey)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(cameraKey, " :/@.,_-~()+"));
}

QString scaleSection(const QString &cameraKey)
{
    return QStringLiteral("camera ") + keyText(cameraKey);
}

QString calibrationSection(const QString &cameraKey, int port)
{
    return QStringLiteral("calibration %1 port %2").arg(keyText(cameraKey)).arg(port);
}

double number(const IniLines &ini, const QString &section, const char *key)
{
    const auto text = ini.value(section, QLatin1String(key));
    bool ok = false;
    const double value = text ? text->toDouble(&ok) : 0.0;
    return ok && std::isfinite(value) ? value : kNoValue;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 12);
}

const std::array<std::pair<PixelScaleSettings::Source, const char *>, 3> kSources{{
    {PixelScaleSettings::Source::Camera, "camera"},
    {PixelScaleSettings::Source::FocalLength, "focal length"},
    {PixelScaleSettings::Source::Entered, "entered"},
}};

// A binning as the file or a camera gives it: 1 to 16, 1 for anything else.
int binningOf(double value)
{
    return value >= 1.0 && value <= 16.0 && value == std::floor(value) ? int(value) : 1;
}

// A calibration found at binning `from`, for pixels binned `to`.
Calibration rebinned(Calibration c, QSize from, QSize to)
{
    const double sx = double(from.width()) / to.width();
    const double sy = double(from.height()) / to.height();
    const auto rebin = [sx, sy](QPointF p) { return QPointF(p.x() * sx, p.y() * sy); };
    // East and south keep their ratio to west and north.
    c.eastRate *= std::hypot(rebin(c.west).x(), rebin(c.west).y()) / c.raRate();
    c.southRate *= std::hypot(rebin(c.north).x(), rebin(c.north).y()) / c.decRate();
    c.west = rebin(c.west);
    c.north = rebin(c.north);
    c.plateScale /= std::sqrt(sx * sy);
    return c;
}

} // namespace

double arcsecPerPixel(double pixelMicrons, double focalLengthMm)
{
    if (!std::isfinite(pixelMicrons) || !std::isfinite(focalLengthMm) || pixelMicrons <= 0.0
        || focalLengthMm <= 0.0)
        return 0.0;
    const double scale = 206.265 * pixelMicrons / focalLengthMm;
    return usableScale(scale) ? scale : 0.0;
}

double chosenPixelScale(const PixelScaleSettings &settings, double pixelMicrons,
                        double knownArcsecPerPixel)
{
    const std::array<double, 3> scales{knownArcsecPerPixel,
                                       arcsecPerPixel(pixelMicrons, settings.focalLengthMm),
                                       settings.enteredArcsecPerPixel};
    const double chosen = scales[size_t(settings.source)];
    if (usableScale(chosen))
        return chosen;
    for (double scale : scales)
        if (usableScale(scale))
            return scale;
    return 0.0;
}

QString GuideStore::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as for every XDG base directory.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/voruna/guiding.conf"));
}

GuideStore::GuideStore(const QString &path) : m_path(path)
{}

PixelScaleSettings GuideStore::pixelScale(const QString &cameraKey) const
{
    const IniLines ini(m_path);
    const QString section = scaleSection(cameraKey);
    PixelScaleSettings settings;
    const QString source = ini.value(section, QStringLiteral("source")).value_or(QString());
    for (const auto &[value, name] : kSources)
        if (source == QLatin1String(name))
            settings.source = value;
    const double focal = number(ini, section, "focal_length_mm");
    settings.focalLengthMm = focal > 0.0 ? focal : 0.0;
    const double entered = number(ini, section, "arcsec_per_pixel");
    settings.enteredArcsecPerPixel = usableScale(entered) ? entered : 0.0;
    return settings;
}

StoreResult GuideStore::savePixelScale(const QString &cameraKey, const PixelScaleSettings &settings)
{
    IniLines ini(m_path);
    const QString section = scaleSection(cameraKey);
    ini.set(section, QStringLiteral("source"),
            QLatin1String(kSources[size_t(settings.source)].second));
    ini.set(section, QStringLiteral("focal_length_mm"), numberText(settings.focalLengthMm));
    ini.set(section, QStringLiteral("arcsec_per_pixel"),
            numberText(settings.enteredArcsecPerPixel));
    return ini.save(m_path);
}

std::optional<Calibration> GuideStore::calibration(const QString &cameraKey, int port,
                                                   QSize binning) const
{
    const IniLines ini(m_path);
    const QString section = calibrationSection(cameraKey, port);
    Calibration c;
    c.west = QPointF(number(ini, section, "west_x"), number(ini, section, "west_y"));
    c.north = QPointF(number(ini, section, "north_x"), number(ini, section, "north_y"));
    const double east = number(ini, section, "east_rate");
    const double south = number(ini, section, "south_rate");
    const double scale = number(ini, section, "arcsec_per_pixel");
    c.eastRate = east > 0.0 ? east : 0.0;
    c.southRate = south > 0.0 ? south : 0.0;
    c.plateScale = usableScale(scale) ? scale : 0.0;
    if (!c.isValid())
        return std::nullopt;
    const QSize found(binningOf(number(ini, section, "bin_x")),
                      binningOf(number(ini, section, "bin_y")));
    const QSize now(binningOf(binning.width()), binningOf(binning.height()));
    return found == now ? c : rebinned(c, found, now);
}

StoreResult GuideStore::saveCalibration(const QString &cameraKey, int port,
                                        const Calibration &calibration, QSize binning)
{
    IniLines ini(m_path);
    const QString section = calibrationSection(cameraKey, port);
    const std::array<std::pair<const char *, double>, 9> values{{
        {"west_x", calibration.west.x()},
        {"west_y", calibration.west.y()},
        {"north_x", calibration.north.x()},
        {"north_y", calibration.north.y()},
        {"east_rate", calibration.eastRate},
        {"south_rate", calibration.southRate},
        {"arcsec_per_pixel", calibration.plateScale},
        {"bin_x", double(binningOf(binning.width()))},
        {"bin_y", double(binningOf(binning.height()))},
    }};
    for (const auto &[key, value] : values)
        ini.set(section, QLatin1String(key), numberText(value));
    return ini.save(m_path);
}

} // namespace voruna
