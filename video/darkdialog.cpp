// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/darkdialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace voruna {

DarkDialog::DarkDialog(const QString &camera, const std::vector<double> &exposures, QWidget *parent)
    : QDialog(parent),
      m_exposures(exposures),
      m_list(new QListWidget(this)),
      m_frames(new QSpinBox(this)),
      m_progress(new QProgressBar(this)),
      m_state(new QLabel(this)),
      m_start(new QPushButton(tr("&Start"), this)),
      m_cancel(new QPushButton(tr("S&top"), this))
{
    setObjectName(QStringLiteral("darkDialog"));
    setWindowTitle(tr("Take darks"));
    auto *intro = new QLabel(
        tr("Cover the telescope so that no light reaches the camera, then start. Voruna "
           "averages the frames at each exposure checked below and keeps them for %1; from "
           "then on the dark of the exposure in use is taken off each frame before the guide "
           "star is measured, and hot pixels are mended.")
            .arg(camera),
        this);
    intro->setWordWrap(true);
    m_list->setObjectName(QStringLiteral("exposures"));
    for (double seconds : m_exposures) {
        auto *item = new QListWidgetItem(exposureText(seconds), m_list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    m_list->setMaximumHeight(m_list->sizeHintForRow(0) * 5 + 2 * m_list->frameWidth());
    m_frames->setObjectName(QStringLiteral("framesEach"));
    m_frames->setRange(1, 200);
    m_frames->setValue(10);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setValue(0);
    m_state->setObjectName(QStringLiteral("state"));
    m_state->setWordWrap(true);
    m_start->setObjectName(QStringLiteral("start"));
    m_cancel->setObjectName(QStringLiteral("stop"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_start, QDialogButtonBox::ActionRole);
    buttons->addButton(m_cancel, QDialogButtonBox::ActionRole);
    auto *form = new QFormLayout;
    form->addRow(tr("Exposures:"), m_list);
    form->addRow(tr("Frames at each:"), m_frames);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(m_progress);
    layout->addWidget(m_state);
    layout->addWidget(buttons);
    connect(m_start, &QPushButton::clicked, this, &DarkDialog::start);
    connect(m_cancel, &QPushButton::clicked, this, &DarkDialog::cancelWanted);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Closing the dialog stops darks under way.
    connect(this, &QDialog::finished, this, [this] {
        if (m_running)
            Q_EMIT cancelWanted();
    });
    setRunning(false);
    m_state->setText(m_exposures.empty() ? tr("The camera tells no exposure: no darks can be taken.")
                                         : tr("Ready"));
}

QString DarkDialog::exposureText(double seconds)
{
    if (seconds <= 0.0)
        return tr("the exposure in use");
    if (seconds < 1.0)
        return tr("%1 ms").arg(seconds * 1000.0, 0, 'g', 4);
    return tr("%1 s").arg(seconds, 0, 'g', 4);
}

void DarkDialog::start()
{
    std::vector<double> chosen;
    for (int i = 0; i < m_list->count(); ++i)
        if (m_list->item(i)->checkState() == Qt::Checked)
            chosen.push_back(m_exposures[size_t(i)]);
    if (chosen.empty()) {
        m_state->setText(tr("Check at least one exposure."));
        return;
    }
    setRunning(true);
    m_progress->setRange(0, m_frames->value() * int(chosen.size()));
    m_progress->setValue(0);
    Q_EMIT startWanted(chosen, m_frames->value());
}

void DarkDialog::showProgress(int done, int total, const QString &text)
{
    m_progress->setRange(0, std::max(1, total));
    m_progress->setValue(done);
    m_state->setText(text);
}

void DarkDialog::showEnded(const QString &text)
{
    setRunning(false);
    m_state->setText(text);
}

void DarkDialog::setRunning(bool running)
{
    m_running = running;
    m_start->setEnabled(!running && !m_exposures.empty());
    m_cancel->setEnabled(running);
    m_list->setEnabled(!running);
    m_frames->setEnabled(!running);
}

} // namespace voruna
