// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/displaydialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>

namespace voruna {

namespace {

QSpinBox *makeLevel(int value, int top)
{
    auto *level = new QSpinBox;
    level->setRange(0, top);
    level->setValue(value);
    return level;
}

} // namespace

DisplayDialog::DisplayDialog(const DisplaySettings &settings, QWidget *parent)
    : QDialog(parent)
    , m_mirror(new QCheckBox(tr("Mirror left-right")))
    , m_flip(new QCheckBox(tr("Flip up-down")))
    , m_black(makeLevel(settings.blackPoint, topLevel(settings.sampleBits)))
    , m_white(makeLevel(settings.whitePoint, topLevel(settings.sampleBits)))
    , m_gamma(new QDoubleSpinBox)
    , m_sampleBits(settings.sampleBits)
{
    setWindowTitle(tr("Video Display"));
    m_mirror->setObjectName(QStringLiteral("mirror"));
    m_flip->setObjectName(QStringLiteral("flip"));
    m_black->setObjectName(QStringLiteral("blackPoint"));
    m_white->setObjectName(QStringLiteral("whitePoint"));
    m_gamma->setObjectName(QStringLiteral("gamma"));
    m_gamma->setRange(0.1, 10.0);
    m_gamma->setSingleStep(0.1);
    m_gamma->setDecimals(2);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close | QDialogButtonBox::Reset);
    auto *layout = new QFormLayout(this);
    layout->addRow(m_mirror);
    layout->addRow(m_flip);
    // Deep cameras count more levels: a 12-bit picture's points run from 0 to 4095.
    const QString range = tr(" (0 to %1)").arg(topLevel(settings.sampleBits));
    layout->addRow(tr("Black point%1:").arg(range), m_black);
    layout->addRow(tr("White point%1:").arg(range), m_white);
    layout->addRow(tr("Gamma (above 1 lifts faint stars):"), m_gamma);
    layout->addRow(buttons);
    showSettings(settings);
    connect(m_mirror, &QCheckBox::toggled, this, &DisplayDialog::report);
    connect(m_flip, &QCheckBox::toggled, this, &DisplayDialog::report);
    connect(m_black, &QSpinBox::valueChanged, this, &DisplayDialog::report);
    connect(m_white, &QSpinBox::valueChanged, this, &DisplayDialog::report);
    connect(m_gamma, &QDoubleSpinBox::valueChanged, this, &DisplayDialog::report);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    connect(buttons->button(QDialogButtonBox::Reset), &QPushButton::clicked, this, [this] {
        showSettings(rescaledTo(DisplaySettings(), m_sampleBits));
        report();
    });
}

void DisplayDialog::showSettings(const DisplaySettings &settings)
{
    const QSignalBlocker a(m_mirror), b(m_flip), c(m_black), d(m_white), e(m_gamma);
    m_mirror->setChecked(settings.mirror);
    m_flip->setChecked(settings.flip);
    m_black->setValue(settings.blackPoint);
    m_white->setValue(settings.whitePoint);
    m_gamma->setValue(settings.gamma);
}

DisplaySettings DisplayDialog::settings() const
{
    DisplaySettings settings;
    settings.mirror = m_mirror->isChecked();
    settings.flip = m_flip->isChecked();
    settings.blackPoint = m_black->value();
    settings.whitePoint = std::max(m_white->value(), m_black->value() + 1);
    settings.gamma = m_gamma->value();
    settings.sampleBits = m_sampleBits;
    return settings;
}

void DisplayDialog::report()
{
    Q_EMIT settingsChanged(settings());
}

} // namespace voruna
