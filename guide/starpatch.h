// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/frameview.h"

#include <QPoint>
#include <QPointF>

#include <vector>

namespace voruna {

// The sky's level and scatter, in ADU per pixel, and how many pixels they were taken from.
struct SkyLevel {
    double level = 0.0;
    double noise = 0.0;
    int count = 0;
};

// Robust level and scatter of `values` (reordered): the median and the scaled median absolute
// deviation, then the mean and standard deviation of the values within three deviations of the
// median, so a star or a hot pixel among them counts for nothing. Zero count when empty.
SkyLevel clippedLevel(std::vector<float> &values);

// A square of a frame, as floats, clipped to the frame. Isolated hot pixels (far above the sky
// while all eight neighbours stay low) are replaced by the median of their neighbours, so one
// pixel cannot pull a centroid or pass for a star. Coordinates are the frame's.
class StarPatch {
public:
    StarPatch(const FrameView &frame, QPoint centre, int halfSize);

    bool contains(int x, int y) const
    {
        return x >= m_left && y >= m_top && x < m_left + m_width && y < m_top + m_height;
    }
    float at(int x, int y) const { return m_values[size_t((y - m_top) * m_width + (x - m_left))]; }
    int left() const { return m_left; }
    int top() const { return m_top; }
    int right() const { return m_left + m_width - 1; }
    int bottom() const { return m_top + m_height - 1; }
    bool isEmpty() const { return m_values.empty(); }
    // The level and scatter of the whole patch, as clippedLevel() gives them.
    SkyLevel roughSky() const { return m_roughSky; }
    // Where hot pixels were replaced.
    const std::vector<QPoint> &repairedPixels() const { return m_repaired; }

    // The sky in the ring between radii `inner` and `outer` around `centre`.
    SkyLevel ringSky(QPointF centre, double inner, double outer) const;

private:
    void repairHotPixels();

    int m_left = 0;
    int m_top = 0;
    int m_width = 0;
    int m_height = 0;
    std::vector<float> m_values;
    SkyLevel m_roughSky;
    std::vector<QPoint> m_repaired;
};

} // namespace voruna
