// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/calibration.h"
#include "guide/guidetypes.h"

#include <QSize>
#include <QString>

#include <optional>

namespace voruna {

// How the user gives one camera's pixel scale.
struct PixelScaleSettings {
    // The camera's own scale where it knows one, else the focal length with the camera's pixel
    // size, or a scale the user entered.
    enum class Source { Camera, FocalLength, Entered };
    Source source = Source::Camera;
    double focalLengthMm = 0.0;
    double enteredArcsecPerPixel = 0.0;

    bool operator==(const PixelScaleSettings &) const = default;
};

// Arcseconds per pixel for pixels `pixelMicrons` wide (binning included) at `focalLengthMm`;
// 0 unless both are positive and finite.
double arcsecPerPixel(double pixelMicrons, double focalLengthMm);

// The scale the settings give, arcseconds per pixel, 0 when none is known. A source that has
// nothing to give (no known scale, no pixel size or focal length, nothing entered) gives way to
// the next one that has: the camera's own, the focal length, the entered value.
double chosenPixelScale(const PixelScaleSettings &settings, double pixelMicrons,
                        double knownArcsecPerPixel);

enum class StoreResult { Saved, Failed };

// The guiding settings remembered between sessions, in an INI file: each camera's pixel scale
// settings, and the calibration of each camera and port. A missing, torn or hand-edited file
// reads as defaults wherever it makes no sense; saving one entry rewrites only that entry and
// keeps every other line of the file as it was.
class GuideStore {
public:
    // guiding.conf in $XDG_CONFIG_HOME/voruna/ (~/.config/voruna/ when unset or relative).
    static QString defaultPath();

    explicit GuideStore(const QString &path = defaultPath());

    QString path() const { return m_path; }

    PixelScaleSettings pixelScale(const QString &cameraKey) const;
    StoreResult savePixelScale(const QString &cameraKey, const PixelScaleSettings &settings);

    // The calibration last found with this camera on this port; none when never found or when
    // what the file holds is not a usable calibration. One found at another binning is scaled
    // to `binning` (the star moves half as many pixels a second in pixels twice as large).
    std::optional<Calibration> calibration(const QString &cameraKey, int port,
                                           QSize binning = {1, 1}) const;
    // Remembers `calibration`, found at `binning`.
    StoreResult saveCalibration(const QString &cameraKey, int port, const Calibration &calibration,
                                QSize binning = {1, 1});

private:
    QString m_path;
};

} // namespace voruna
