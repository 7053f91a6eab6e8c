// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/window/pixelscalebox.h"

#include <QButtonGroup>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>

namespace voruna {

namespace {

using Source = PixelScaleSettings::Source;

template<typename Box>
Box *named(const char *name, QWidget *parent)
{
    auto *box = new Box(parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

} // namespace

QString scaleText(double arcsecPerPixel)
{
    if (arcsecPerPixel <= 0.0)
        return PixelScaleBox::tr("none");
    return PixelScaleBox::tr("%1\"/px").arg(arcsecPerPixel, 0, 'f', 2);
}

PixelScaleBox::PixelScaleBox(QWidget *parent)
    : QGroupBox(tr("Pixel scale"), parent)
    , rdoCamera(named<QRadioButton>("rdoCamera", this))
    , rdoFocal(named<QRadioButton>("rdoFocal", this))
    , spnFocal(named<QDoubleSpinBox>("spnFocal", this))
    , lblFocal(named<QLabel>("lblFocal", this))
    , rdoEntered(named<QRadioButton>("rdoEntered", this))
    , spnEntered(named<QDoubleSpinBox>("spnEntered", this))
    , lblScale(named<QLabel>("lblScale", this))
{
    setObjectName(QStringLiteral("PixelScaleBox"));
    rdoFocal->setText(tr("&Focal length:"));
    rdoEntered->setText(tr("En&tered:"));
    auto *group = new QButtonGroup(this);
    group->addButton(rdoCamera, int(Source::Camera));
    group->addButton(rdoFocal, int(Source::FocalLength));
    group->addButton(rdoEntered, int(Source::Entered));
    spnFocal->setRange(0.0, 20000.0);
    spnFocal->setDecimals(0);
    spnFocal->setSuffix(tr(" mm"));
    spnFocal->setSpecialValueText(tr("not given"));
    spnFocal->setToolTip(tr("The focal length of the guide scope (with any reducer)"));
    spnEntered->setRange(0.0, 100.0);
    spnEntered->setDecimals(2);
    spnEntered->setSingleStep(0.01);
    spnEntered->setSuffix(QStringLiteral("\"/px"));
    spnEntered->setSpecialValueText(tr("not given"));
    auto *grid = new QGridLayout(this);
    grid->addWidget(rdoCamera, 0, 0, 1, 3);
    grid->addWidget(rdoFocal, 1, 0);
    grid->addWidget(spnFocal, 1, 1);
    grid->addWidget(lblFocal, 1, 2);
    grid->addWidget(rdoEntered, 2, 0);
    grid->addWidget(spnEntered, 2, 1);
    grid->addWidget(lblScale, 3, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    setCamera(0.0, 0.0, {});

    connect(group, &QButtonGroup::idClicked, this, &PixelScaleBox::edited);
    connect(spnFocal, &QDoubleSpinBox::valueChanged, this, &PixelScaleBox::edited);
    connect(spnEntered, &QDoubleSpinBox::valueChanged, this, &PixelScaleBox::edited);
}

void PixelScaleBox::setCamera(double pixelMicrons, double knownScale,
                              const PixelScaleSettings &settings)
{
    m_pixelMicrons = pixelMicrons;
    m_knownScale = knownScale;
    m_showing = true;
    rdoCamera->setText(knownScale > 0.0 ? tr("Camera's o&wn: %1").arg(scaleText(knownScale))
                                        : tr("Camera's o&wn: not known"));
    rdoCamera->setEnabled(knownScale > 0.0);
    Source source = settings.source;
    if (source == Source::Camera && knownScale <= 0.0)
        source = settings.enteredArcsecPerPixel > 0.0 && settings.focalLengthMm <= 0.0
                     ? Source::Entered
                     : Source::FocalLength;
    (source == Source::Camera    ? rdoCamera
     : source == Source::Entered ? rdoEntered
                                 : rdoFocal)
        ->setChecked(true);
    spnFocal->setValue(settings.focalLengthMm);
    spnEntered->setValue(settings.enteredArcsecPerPixel);
    m_showing = false;
    showScale();
}

PixelScaleSettings PixelScaleBox::settings() const
{
    PixelScaleSettings s;
    s.source = rdoCamera->isChecked()    ? Source::Camera
               : rdoEntered->isChecked() ? Source::Entered
                                         : Source::FocalLength;
    s.focalLengthMm = spnFocal->value();
    s.enteredArcsecPerPixel = spnEntered->value();
    return s;
}

double PixelScaleBox::scale() const
{
    return chosenPixelScale(settings(), m_pixelMicrons, m_knownScale);
}

void PixelScaleBox::edited()
{
    showScale();
    if (!m_showing)
        Q_EMIT changed();
}

void PixelScaleBox::showScale()
{
    if (m_pixelMicrons <= 0.0)
        lblFocal->setText(tr("the camera does not tell its pixel size"));
    else
        lblFocal->setText(
            spnFocal->value() > 0.0
                ? tr("%1 µm pixels: %2")
                      .arg(m_pixelMicrons, 0, 'f', 2)
                      .arg(scaleText(arcsecPerPixel(m_pixelMicrons, spnFocal->value())))
                : tr("%1 µm pixels").arg(m_pixelMicrons, 0, 'f', 2));
    const double inUse = scale();
    lblScale->setText(inUse > 0.0 ? tr("In use: %1").arg(scaleText(inUse))
                                  : tr("In use: none, the graph shows pixels"));
}

} // namespace voruna
