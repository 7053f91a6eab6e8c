// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/window/guidegraph.h"

#include <QChart>
#include <QChartView>
#include <QEvent>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace voruna {

namespace {

constexpr int kMargin = 2;

QColor blend(const QColor &a, const QColor &b, double share)
{
    return QColor::fromRgbF(float(a.redF() * (1 - share) + b.redF() * share),
                            float(a.greenF() * (1 - share) + b.greenF() * share),
                            float(a.blueF() * (1 - share) + b.blueF() * share));
}

// The smallest symmetric range from a short list that holds `largest`.
double niceRange(double largest, double least)
{
    for (double range : {0.1, 0.2, 0.5, 1.0, 2.0, 3.0, 5.0, 10.0, 20.0, 50.0})
        if (range >= least && range >= largest)
            return range;
    return std::ceil(largest / 50.0) * 50.0;
}

} // namespace

GuideGraph::GuideGraph(QWidget *parent)
    : QWidget(parent)
    , m_errors(makePlot(QStringLiteral("errorChart"), true))
    , m_corrections(makePlot(QStringLiteral("correctionChart"), false))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_errors.view, 2);
    layout->addWidget(m_corrections.view, 1);
    m_corrections.view->setMinimumHeight(110);
    m_corrections.y->setTitleText(tr("seconds"));
    m_corrections.y->setTickCount(3);
    for (const Plot *plot : {&m_errors, &m_corrections}) {
        plot->y->setLabelFormat(QStringLiteral("%.2f"));
        connect(plot->chart, &QChart::plotAreaChanged, this, &GuideGraph::alignPlots);
    }
    applyPalette();
}

GuideGraph::Plot GuideGraph::makePlot(const QString &name, bool legend)
{
    Plot plot;
    plot.chart = new QChart;
    plot.chart->setMargins(QMargins(kMargin, kMargin, kMargin, kMargin));
    plot.chart->setBackgroundRoundness(0);
    plot.chart->layout()->setContentsMargins(0, 0, 0, 0);
    plot.chart->legend()->setVisible(legend);
    plot.chart->legend()->setAlignment(Qt::AlignTop);
    plot.chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    plot.ra = new QLineSeries;
    plot.ra->setName(tr("RA"));
    plot.dec = new QLineSeries;
    plot.dec->setName(tr("Dec"));
    plot.chart->addSeries(plot.ra);
    plot.chart->addSeries(plot.dec);
    plot.x = new QValueAxis;
    plot.y = new QValueAxis;
    plot.x->setLabelFormat(QStringLiteral("%.0f"));
    plot.x->setLabelsVisible(!legend);
    plot.x->setTitleText(legend ? QString() : tr("minutes"));
    plot.y->setTickCount(5);
    plot.chart->addAxis(plot.x, Qt::AlignBottom);
    plot.chart->addAxis(plot.y, Qt::AlignLeft);
    for (QLineSeries *series : {plot.ra, plot.dec}) {
        series->attachAxis(plot.x);
        series->attachAxis(plot.y);
    }
    plot.view = new QChartView(plot.chart, this);
    plot.view->setObjectName(name);
    plot.view->setRenderHint(QPainter::Antialiasing);
    return plot;
}

void GuideGraph::draw(const std::deque<GuideRecord> &records, double now, double span, double scale,
                      const QString &unit)
{
    QList<QPointF> ra, dec, raPulse, decPulse;
    double largest = 0.0, longest = 0.0;
    for (const GuideRecord &r : records) {
        if (r.time < now - span || r.time > now)
            continue;
        const double minutes = (r.time - now) / 60.0;
        if (std::isfinite(r.raPixels)) {
            ra.append({minutes, r.raPixels * scale});
            largest = std::max(largest, std::abs(r.raPixels * scale));
        }
        if (std::isfinite(r.decPixels)) {
            dec.append({minutes, r.decPixels * scale});
            largest = std::max(largest, std::abs(r.decPixels * scale));
        }
        // Each correction is an impulse from the zero line.
        if (r.raPulse != 0.0)
            raPulse << QPointF(minutes, 0) << QPointF(minutes, r.raPulse) << QPointF(minutes, 0);
        if (r.decPulse != 0.0)
            decPulse << QPointF(minutes, 0) << QPointF(minutes, r.decPulse) << QPointF(minutes, 0);
        longest = std::max({longest, std::abs(r.raPulse), std::abs(r.decPulse)});
    }
    m_errors.ra->replace(ra);
    m_errors.dec->replace(dec);
    m_corrections.ra->replace(raPulse);
    m_corrections.dec->replace(decPulse);
    for (const Plot *plot : {&m_errors, &m_corrections})
        plot->x->setRange(-span / 60.0, 0.0);
    const double range = niceRange(largest, 0.5);
    m_errors.y->setRange(-range, range);
    m_errors.y->setTitleText(unit);
    const double pulseRange = niceRange(longest, 0.1);
    m_corrections.y->setRange(-pulseRange, pulseRange);
}

QList<QPointF> GuideGraph::raPoints() const
{
    return m_errors.ra->points();
}

QList<QPointF> GuideGraph::decPoints() const
{
    return m_errors.dec->points();
}

void GuideGraph::alignPlots()
{
    // The two plots share the time axis: the one whose labels take less room on a side gets a
    // wider margin there.
    const auto ownLeft = [](const Plot &plot) {
        return plot.chart->plotArea().left() - plot.chart->margins().left();
    };
    const auto ownRight = [](const Plot &plot) {
        return plot.chart->size().width() - plot.chart->margins().right()
               - plot.chart->plotArea().right();
    };
    const double left = std::max(ownLeft(m_errors), ownLeft(m_corrections));
    const double right = std::max(ownRight(m_errors), ownRight(m_corrections));
    for (const Plot *plot : {&m_errors, &m_corrections}) {
        QMargins margins = plot->chart->margins();
        const QMargins wanted(kMargin + int(std::lround(left - ownLeft(*plot))), margins.top(),
                              kMargin + int(std::lround(right - ownRight(*plot))),
                              margins.bottom());
        if (margins != wanted)
            plot->chart->setMargins(wanted);
    }
}

void GuideGraph::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applyPalette();
    QWidget::changeEvent(event);
}

void GuideGraph::applyPalette()
{
    const QPalette colours = palette();
    const QColor base = colours.color(QPalette::Base);
    const QColor text = colours.color(QPalette::Text);
    const QColor raColour = colours.color(QPalette::Highlight);
    const QColor grid = blend(text, base, 0.8);
    for (const Plot *plot : {&m_errors, &m_corrections}) {
        plot->chart->setBackgroundBrush(colours.color(QPalette::Window));
        plot->chart->setPlotAreaBackgroundBrush(base);
        plot->chart->setPlotAreaBackgroundVisible(true);
        plot->chart->legend()->setLabelColor(text);
        for (QValueAxis *axis : {plot->x, plot->y}) {
            axis->setLabelsColor(text);
            axis->setTitleBrush(text);
            axis->setLinePenColor(grid);
            axis->setGridLineColor(grid);
        }
        QPen raPen(raColour, 2.0);
        QPen decPen(text, 1.5, Qt::DashLine);
        plot->ra->setPen(raPen);
        plot->dec->setPen(decPen);
    }
}

} // namespace voruna
