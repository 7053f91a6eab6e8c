// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/window/guideparameters.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>

#include <cmath>
#include <utility>

namespace voruna {

namespace {

using Algorithm = GuideSettings::RaAlgorithm;
using DecMode = GuideSettings::DecMode;

template<typename Box>
Box *named(const char *name, QWidget *parent)
{
    auto *box = new Box(parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

int percent(double share)
{
    return int(std::lround(share * 100.0));
}

} // namespace

GuideParameters::GuideParameters(QWidget *parent)
    : QGroupBox(tr("Guiding"), parent)
    , cmboRaAlgorithm(named<QComboBox>("cmboRaAlgorithm", this))
    , spnAggressiveness(named<QSpinBox>("spnAggressiveness", this))
    , spnHysteresis(named<QSpinBox>("spnHysteresis", this))
    , spnMinMove(named<QDoubleSpinBox>("spnMinMove", this))
    , spnMaxCorrection(named<QDoubleSpinBox>("spnMaxCorrection", this))
    , cmboDecMode(named<QComboBox>("cmboDecMode", this))
{
    setObjectName(QStringLiteral("GuideParameters"));
    cmboRaAlgorithm->addItem(tr("Hysteresis"), int(Algorithm::Hysteresis));
    cmboRaAlgorithm->addItem(tr("Predictive"), int(Algorithm::Predictive));
    cmboRaAlgorithm->setToolTip(
        tr("Predictive learns the mount's periodic error and corrects it before it shows"));
    for (QSpinBox *box : {spnAggressiveness, spnHysteresis}) {
        box->setRange(0, 100);
        box->setSuffix(QStringLiteral(" %"));
    }
    spnAggressiveness->setToolTip(tr("The share of the RA error corrected on each frame"));
    spnHysteresis->setToolTip(tr("The share of the previous corrections blended into the next"));
    spnMinMove->setRange(0.0, 5.0);
    spnMinMove->setSingleStep(0.05);
    spnMinMove->setSuffix(tr(" px"));
    spnMinMove->setToolTip(tr("Errors smaller than this are left alone"));
    spnMaxCorrection->setRange(0.1, 10.0);
    spnMaxCorrection->setSingleStep(0.1);
    spnMaxCorrection->setDecimals(1);
    spnMaxCorrection->setSuffix(tr(" s"));
    spnMaxCorrection->setToolTip(tr("No correction is held longer than this"));
    cmboDecMode->addItem(tr("North and south"), int(DecMode::Both));
    cmboDecMode->addItem(tr("North only"), int(DecMode::NorthOnly));
    cmboDecMode->addItem(tr("South only"), int(DecMode::SouthOnly));
    cmboDecMode->addItem(tr("Off"), int(DecMode::Off));

    // Two columns of three rows: RA's own on the left, the rest on the right.
    auto *grid = new QGridLayout(this);
    const std::pair<QString, QWidget *> rows[] = {
        {tr("RA &algorithm:"), cmboRaAlgorithm},     {tr("&Minimum move:"), spnMinMove},
        {tr("Aggr&essiveness:"), spnAggressiveness}, {tr("Ma&ximum correction:"), spnMaxCorrection},
        {tr("H&ysteresis:"), spnHysteresis},         {tr("&Dec corrections:"), cmboDecMode},
    };
    for (int i = 0; i < 6; ++i) {
        auto *label = new QLabel(rows[i].first, this);
        label->setBuddy(rows[i].second);
        grid->addWidget(label, i / 2, (i % 2) * 2);
        grid->addWidget(rows[i].second, i / 2, (i % 2) * 2 + 1);
    }
    grid->setColumnMinimumWidth(2, 0);
    setSettings(m_settings);

    connect(cmboRaAlgorithm, &QComboBox::currentIndexChanged, this,
            &GuideParameters::algorithmChosen);
    connect(cmboDecMode, &QComboBox::currentIndexChanged, this, &GuideParameters::edited);
    for (QSpinBox *box : {spnAggressiveness, spnHysteresis})
        connect(box, &QSpinBox::valueChanged, this, &GuideParameters::edited);
    for (QDoubleSpinBox *box : {spnMinMove, spnMaxCorrection})
        connect(box, &QDoubleSpinBox::valueChanged, this, &GuideParameters::edited);
}

void GuideParameters::setSettings(const GuideSettings &settings)
{
    m_settings = settings;
    m_showing = true;
    cmboRaAlgorithm->setCurrentIndex(cmboRaAlgorithm->findData(int(settings.raAlgorithm)));
    const bool predictive = settings.raAlgorithm == Algorithm::Predictive;
    spnAggressiveness->setValue(percent(predictive ? settings.predictive.aggressiveness
                                                   : settings.hysteresis.aggressiveness));
    spnHysteresis->setValue(percent(settings.hysteresis.hysteresis));
    // Predictive blends nothing of the moves before: its own model stands in for it.
    spnHysteresis->setEnabled(!predictive);
    spnMinMove->setValue(settings.minMovePixels);
    spnMaxCorrection->setValue(settings.maxPulseSeconds);
    cmboDecMode->setCurrentIndex(cmboDecMode->findData(int(settings.decMode)));
    m_showing = false;
}

GuideSettings GuideParameters::settings() const
{
    GuideSettings s = m_settings;
    s.raAlgorithm = Algorithm(cmboRaAlgorithm->currentData().toInt());
    const double aggressiveness = spnAggressiveness->value() / 100.0;
    if (s.raAlgorithm == Algorithm::Predictive)
        s.predictive.aggressiveness = aggressiveness;
    else
        s.hysteresis.aggressiveness = aggressiveness;
    s.hysteresis.hysteresis = spnHysteresis->value() / 100.0;
    s.minMovePixels = spnMinMove->value();
    s.maxPulseSeconds = spnMaxCorrection->value();
    s.decMode = DecMode(cmboDecMode->currentData().toInt());
    return s;
}

void GuideParameters::algorithmChosen()
{
    if (m_showing)
        return;
    // The aggressiveness shown becomes the chosen algorithm's own.
    GuideSettings s = m_settings;
    s.raAlgorithm = Algorithm(cmboRaAlgorithm->currentData().toInt());
    s.minMovePixels = spnMinMove->value();
    s.maxPulseSeconds = spnMaxCorrection->value();
    s.hysteresis.hysteresis = spnHysteresis->value() / 100.0;
    s.decMode = DecMode(cmboDecMode->currentData().toInt());
    setSettings(s);
    Q_EMIT changed();
}

void GuideParameters::edited()
{
    if (m_showing)
        return;
    m_settings = settings();
    Q_EMIT changed();
}

} // namespace voruna
