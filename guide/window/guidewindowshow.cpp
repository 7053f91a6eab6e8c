// SPDX-License-Identifier: GPL-3.0-or-later
// What the guiding window shows: the state, the calibration, the graph and the numbers.
#include "guide/guidestats.h"
#include "guide/window/guidegraph.h"
#include "guide/window/guidewindow.h"
#include "guide/window/pixelscalebox.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace voruna {

void GuideWindow::onStateChanged(GuideState state, const QString &text)
{
    m_stateText = text;
    QString words = text;
    // At rest the loop's own word ("Not guiding", "Calibrated") gives way to what to do next,
    // which knows whether a star is chosen and whether the calibration is this camera's; a
    // reason it gives (why it stopped) stays as it is.
    const bool atRest = state == GuideState::Idle || state == GuideState::Calibrated;
    if (atRest && text == m_session.engine().stateText())
        words.clear();
    if (words.isEmpty()) {
        switch (state) {
        case GuideState::Idle:
        case GuideState::Calibrated:
            if (!m_star)
                words = tr("No guide star: pick one in the video window");
            else
                words = calibrated() ? tr("Calibrated: ready to guide") : tr("Ready to calibrate");
            break;
        case GuideState::Calibrating:
            words = tr("Calibrating");
            break;
        case GuideState::Guiding:
            words = tr("Guiding");
            break;
        case GuideState::StarLost:
            words = tr("Star lost: no corrections until it is back");
            break;
        case GuideState::CameraSilent:
            words = tr("No frames from the camera: no corrections until they come again");
            break;
        case GuideState::Failed:
            words = tr("Calibration failed: %1").arg(m_session.engine().failureText());
            break;
        }
    }
    lblState->setText(words);
    updateButtons();
}

void GuideWindow::updateButtons()
{
    const bool active = m_session.isActive();
    const bool ready = calibrated();
    cmdCalibrate->setVisible(!ready);
    cmdCalibrateAgain->setVisible(ready);
    cmdCalibrate->setEnabled(m_star && !active);
    cmdCalibrateAgain->setEnabled(m_star && !active);
    cmdGuide->setEnabled(m_star && ready && !active);
    cmdStop->setEnabled(active);
}

void GuideWindow::showCalibration()
{
    const GuideEngine &engine = m_session.engine();
    const auto c = engine.calibration();
    if (!calibrated()) {
        lblCalibration->setText(
            tr("Not calibrated: Calibrate moves the star west, east, north and south to learn "
               "how the adaptor moves it."));
        lblWarnings->hide();
        updateButtons();
        return;
    }
    const auto rate = [](double pixelsPerSecond) {
        return QString::number(pixelsPerSecond, 'f', 2);
    };
    lblCalibration->setText(
        tr("Calibration: west %1 px/s, east %2 px/s, north %3 px/s, south %4 px/s; camera angle "
           "%5°, axes %6° apart.")
            .arg(rate(c->raRate()), rate(c->rateOf(true, false)), rate(c->decRate()),
                 rate(c->rateOf(false, false)))
            .arg(c->raAngle(), 0, 'f', 1)
            .arg(c->axesAngle(), 0, 'f', 1));
    const QStringList warnings = engine.calibrationWarnings();
    lblWarnings->setText(warnings.join(QLatin1Char('\n')));
    lblWarnings->setVisible(!warnings.isEmpty());
    updateButtons();
}

void GuideWindow::showNumbers()
{
    const double scale = pixelScale->scale();
    const bool arcsec = scale > 0.0;
    const double factor = arcsec ? scale : 1.0;
    const double now = m_records.empty() ? 0.0 : m_records.back().time;
    const GuideStats stats = guideStats(m_records, now, shownSeconds(), factor);
    const auto value = [arcsec](double v) {
        if (!std::isfinite(v))
            return QStringLiteral("–");
        return arcsec ? tr("%1\"").arg(v, 0, 'f', 2) : tr("%1 px").arg(v, 0, 'f', 2);
    };
    lblRmsRa->setText(tr("RA %1").arg(value(stats.raRms)));
    lblRmsDec->setText(tr("Dec %1").arg(value(stats.decRms)));
    lblRmsTotal->setText(tr("Total %1").arg(value(stats.totalRms)));
    lblPeak->setText(tr("Peak RA %1, Dec %2").arg(value(stats.raPeak), value(stats.decPeak)));
    double snr = kNoValue;
    for (auto r = m_records.rbegin(); r != m_records.rend() && !std::isfinite(snr); ++r)
        if (r->loss == StarLoss::None && r->snr > 0.0)
            snr = r->snr;
    lblSnr->setText(std::isfinite(snr) ? tr("SNR %1").arg(snr, 0, 'f', 0) : tr("SNR –"));
    graph->draw(m_records, now, shownSeconds(), factor, unit());
}

} // namespace voruna
