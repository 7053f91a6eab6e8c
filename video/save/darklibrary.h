// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/darkframe.h"

#include <QSize>
#include <QString>

#include <optional>
#include <vector>

namespace voruna {

// The darks of one camera, one FITS file each, in $XDG_CACHE_HOME/voruna/darks/<camera>/, named
// so a person can read them: dark-640x480-8bit-1500ms.fits. Each is a 32-bit float image of the
// mean, rows from the top, with IMAGETYP, EXPTIME, NCOMBINE, INSTRUME, DATE and the frames' depth
// (FRMBITS) in its header. Reading never deletes or changes a file.
class DarkLibrary {
public:
    // `root` holds a folder per camera; empty: $XDG_CACHE_HOME/voruna/darks.
    explicit DarkLibrary(const QString &camera, QString root = {});

    // The camera's folder; made by save(), not by reading.
    QString folder() const { return m_folder; }
    // Writes the dark whole or not at all, replacing the one of its size, depth and exposure.
    // True on success, otherwise the reason in `error`.
    bool save(const DarkFrame &dark, QString *error) const;
    // The exposures in seconds of the darks kept for frames of `size` and `bits`, as their
    // file names tell, shortest first.
    std::vector<double> exposures(QSize size, int bits) const;
    // The dark of `exposureSeconds` (the kept exposure within a thousandth of it) for such
    // frames; nullopt with a reason in `why` when there is none or its file is torn, of another
    // shape or from an older Voruna.
    std::optional<DarkFrame> load(double exposureSeconds, QSize size, int bits, QString *why) const;
    // The dark of the longest exposure kept for such frames; a file that cannot be read is
    // passed over for the next longest and `why` tells of it, even when a dark is returned.
    // nullopt when none can be read.
    std::optional<DarkFrame> longest(QSize size, int bits, QString *why) const;

    // The file of such a dark in folder(); the exposure to a tenth of a microsecond.
    QString filePath(QSize size, int bits, double exposureSeconds) const;
    // `camera` made a folder name: no slash, no control character, no leading dot, at most 100
    // characters; "camera" when nothing is left.
    static QString folderName(const QString &camera);

private:
    QString m_camera;
    QString m_folder;
};

} // namespace voruna
