// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guidetypes.h"

#include <QWidget>

#include <deque>

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

namespace voruna {

// The RA and Dec error over the shown time, with the corrections sent under it. Colours come
// from the widget's palette (and follow it when it changes); RA is drawn solid and Dec dashed,
// so the two stay apart whatever the palette's colours are.
class GuideGraph : public QWidget {
    Q_OBJECT
public:
    explicit GuideGraph(QWidget *parent = nullptr);

    // Draws the records of the `span` seconds up to `now`; offsets in pixels times `scale`,
    // labelled with `unit`.
    void draw(const std::deque<GuideRecord> &records, double now, double span, double scale,
              const QString &unit);

    // The points drawn, for a look from tests: the RA and Dec errors, in the unit shown.
    QList<QPointF> raPoints() const;
    QList<QPointF> decPoints() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    struct Plot {
        QChartView *view = nullptr;
        QChart *chart = nullptr;
        QValueAxis *x = nullptr, *y = nullptr;
        QLineSeries *ra = nullptr, *dec = nullptr;
    };
    Plot makePlot(const QString &name, bool legend);
    void applyPalette();
    void alignPlots();

    Plot m_errors;
    Plot m_corrections;
};

} // namespace voruna
