// SPDX-License-Identifier: GPL-3.0-or-later
// The video window's darks: taken with the telescope covered, kept per camera, and taken off
// each frame (hot pixels mended) before the guide star is measured.
#include "video/capturesubwindow.h"
#include "video/darkdialog.h"
#include "video/form2.h"
#include "video/save/darklibrary.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

namespace voruna {

namespace {

CameraFacts factsOf(const CaptureSubWindow *sub)
{
    return sub && sub->device() ? sub->device()->cameraFacts() : CameraFacts{};
}

QString cameraName(const CameraFacts &facts)
{
    return facts.name.isEmpty() ? QStringLiteral("camera") : facts.name;
}

void addExposure(std::vector<double> *list, double seconds)
{
    if (std::none_of(list->begin(), list->end(), [seconds](double e) { return sameExposure(e, seconds); }))
        list->push_back(seconds);
}

} // namespace

void Form2::buildDarkMenus()
{
    mnuLineDarks->setSeparator(true);
    mnuTakeDarks->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    mnuDarkPicture->setCheckable(true);
    mnuControl->addActions({mnuLineDarks, mnuTakeDarks, mnuDarkPicture});
    connect(mnuTakeDarks, &QAction::triggered, this, &Form2::Form2_mnuTakeDarks_Click);
    connect(mnuDarkPicture, &QAction::toggled, this, &Form2::showCleanPicture);
}

void Form2::showCleanPicture(bool on)
{
    if (CaptureSubWindow *sub = captureSubWindow())
        sub->setPictureCleaner(on ? CaptureSubWindow::PictureCleaner(
                                        [this](const FrameView &raw) { return cleanFrame(raw); })
                                  : CaptureSubWindow::PictureCleaner());
}

const CameraFacts &Form2::frameFacts(const FrameView &raw)
{
    if (raw.time != m_factsTime || raw.time == std::chrono::steady_clock::time_point{}) {
        m_facts = factsOf(captureSubWindow());
        m_factsTime = raw.time;
    }
    return m_facts;
}

FrameView Form2::cleanFrame(const FrameView &raw)
{
    const CameraFacts &facts = frameFacts(raw);
    const DarkKey key{cameraName(facts), QSize(raw.width, raw.height), raw.bits,
                      facts.exposureSeconds};
    if (!(key == m_darkKey))
        loadDarks(key);
    return m_darkCorrection.apply(raw);
}

void Form2::loadDarks(const DarkKey &key)
{
    const bool sameSensor = key.camera == m_darkKey.camera && key.size == m_darkKey.size
                            && key.bits == m_darkKey.bits;
    m_darkKey = key;
    addExposure(&m_exposuresUsed[key.camera], key.exposure);
    const DarkLibrary library(key.camera);
    QString why;
    // Hot pixels show best in the longest dark kept.
    if (!sameSensor) {
        const std::optional<DarkFrame> longest = library.longest(key.size, key.bits, &why);
        m_darkCorrection.setHotPixels(longest ? HotPixelMap::fromDark(*longest) : HotPixelMap());
    }
    QString missing;
    m_darkCorrection.setDark(library.load(key.exposure, key.size, key.bits, &missing));
    const int hot = int(m_darkCorrection.hotPixels().pixels().size());
    const QString mended = hot == 1 ? tr("1 hot pixel mended") : tr("%1 hot pixels mended").arg(hot);
    const QString exposure = DarkDialog::exposureText(key.exposure);
    const std::vector<double> kept = library.exposures(key.size, key.bits);
    if (m_darkTaker)
        return; // the dialog tells how the darks go
    if (m_darkCorrection.dark())
        setStatusText(tr("Dark of %1 taken off each frame; %2").arg(exposure, mended));
    else if (std::any_of(kept.begin(), kept.end(),
                         [&key](double e) { return sameExposure(e, key.exposure); }))
        setStatusText(tr("Dark of %1 not used: %2").arg(exposure, missing));
    else if (!kept.empty())
        setStatusText(tr("No dark of %1 (Take darks); %2").arg(exposure, mended));
}

std::vector<double> Form2::darkExposures() const
{
    CaptureSubWindow *sub = captureSubWindow();
    const CameraFacts facts = factsOf(sub);
    std::vector<double> list{facts.exposureSeconds};
    // Only a camera that takes an exposure when asked can have darks of others.
    if (facts.exposureSeconds <= 0.0 || !sub->device()->canSetExposure())
        return list;
    const auto used = m_exposuresUsed.find(cameraName(facts));
    if (used != m_exposuresUsed.end())
        for (double seconds : used->second)
            addExposure(&list, seconds);
    const ShownFrame &newest = sub->newestFrame();
    if (!newest.frame.isNull()) {
        const int bits = newest.frame.depth() > 32 || newest.frame.format() == QImage::Format_Grayscale16 ? 16 : 8;
        for (double seconds : DarkLibrary(cameraName(facts)).exposures(newest.frame.size(), bits))
            addExposure(&list, seconds);
    }
    std::sort(list.begin(), list.end());
    return list;
}

void Form2::Form2_mnuTakeDarks_Click()
{
    CaptureSubWindow *sub = captureSubWindow();
    if (!sub || !sub->device() || sub->device()->isLost()) {
        tell(tr("Take darks"), tr("There is no camera to take darks with."));
        return;
    }
    if (m_darkDialog) {
        m_darkDialog->raise();
        m_darkDialog->activateWindow();
        return;
    }
    m_darkDialog = new DarkDialog(cameraName(factsOf(sub)), darkExposures(), this);
    m_darkDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_darkDialog, &DarkDialog::startWanted, this, &Form2::startDarks);
    connect(m_darkDialog, &DarkDialog::cancelWanted, this, [this] {
        stopDarks(m_darksTaken.isEmpty()
                      ? tr("Stopped before a dark was finished.")
                      : tr("Stopped: the darks of %1 are kept.")
                            .arg(m_darksTaken.join(QStringLiteral(", "))));
    });
    m_darkDialog->show();
}

void Form2::startDarks(const std::vector<double> &exposures, int framesEach)
{
    CaptureSubWindow *sub = captureSubWindow();
    if (!sub || !sub->device() || exposures.empty())
        return;
    m_darkTaker = std::make_unique<DarkTaker>(exposures, framesEach);
    m_darkDevice = sub->device();
    m_darksTaken.clear();
    m_exposureBefore = sub->device()->cameraFacts().exposureSeconds;
    if (setDarkExposure())
        showDarkProgress();
}

bool Form2::setDarkExposure()
{
    CaptureDevice *device = m_darkDevice;
    const double wanted = m_darkTaker->exposure();
    if (!sameExposure(wanted, device->cameraFacts().exposureSeconds)
        && !device->setExposureSeconds(wanted)) {
        stopDarks(tr("The camera did not take an exposure of %1.")
                      .arg(DarkDialog::exposureText(wanted)));
        return false;
    }
    // The camera may have rounded the exposure to its own steps: its frames tell that one.
    m_darkTaker->exposureSet(std::chrono::steady_clock::now(), device->cameraFacts().exposureSeconds);
    return true;
}

void Form2::showDarkProgress()
{
    if (!m_darkTaker || !m_darkDialog)
        return;
    const DarkTaker &taker = *m_darkTaker;
    m_darkDialog->showProgress(
        taker.framesDone(), taker.framesTotal(),
        tr("Taking the dark of %1: frame %2 of %3")
            .arg(DarkDialog::exposureText(taker.exposure()))
            .arg(taker.framesDone() % taker.framesEach() + 1)
            .arg(taker.framesEach()));
}

bool Form2::takeDarkFrame(const FrameView &raw)
{
    if (!m_darkTaker)
        return false;
    CaptureSubWindow *sub = captureSubWindow();
    if (!sub || !m_darkDevice || sub->device() != m_darkDevice) {
        stopDarks(tr("Another camera was chosen: the darks stopped."));
        return true;
    }
    switch (m_darkTaker->add(raw, frameFacts(raw).exposureSeconds)) {
    case DarkTaker::Step::Passed:
        return true;
    case DarkTaker::Step::Added:
        showDarkProgress();
        return true;
    case DarkTaker::Step::Refused:
        stopDarks(tr("The camera's frames changed size or depth: the darks stopped."));
        return true;
    case DarkTaker::Step::NotKept:
        stopDarks(tr("The camera did not keep an exposure of %1: the darks stopped.")
                      .arg(DarkDialog::exposureText(m_darkTaker->exposure())));
        return true;
    case DarkTaker::Step::ExposureDone:
        break;
    }
    const DarkFrame dark = m_darkTaker->takeDark();
    QString error;
    if (!DarkLibrary(cameraName(frameFacts(raw))).save(dark, &error)) {
        stopDarks(tr("The dark of %1 could not be kept: %2")
                      .arg(DarkDialog::exposureText(dark.exposureSeconds), error));
        return true;
    }
    m_darksTaken << DarkDialog::exposureText(dark.exposureSeconds);
    m_darkKey = {}; // read again, with the new dark and hot pixels
    if (m_darkDialog)
        m_darkDialog->showProgress(m_darkTaker->framesDone(), m_darkTaker->framesTotal(),
                                   tr("The dark of %1 is kept.").arg(m_darksTaken.back()));
    if (m_darkTaker->isDone()) {
        const int each = m_darkTaker->framesEach();
        stopDarks(tr("Darks taken (%1, %2 each). Uncover the telescope.")
                      .arg(m_darksTaken.join(QStringLiteral(", ")),
                           each == 1 ? tr("1 frame") : tr("%1 frames").arg(each)));
        return true;
    }
    if (setDarkExposure())
        showDarkProgress();
    return true;
}

void Form2::stopDarks(const QString &why)
{
    if (!m_darkTaker)
        return;
    m_darkTaker.reset();
    CaptureSubWindow *sub = captureSubWindow();
    // The camera goes back to the exposure it had.
    if (sub && m_darkDevice && sub->device() == m_darkDevice && !m_darkDevice->isLost()
        && m_exposureBefore > 0.0
        && !sameExposure(m_darkDevice->cameraFacts().exposureSeconds, m_exposureBefore))
        m_darkDevice->setExposureSeconds(m_exposureBefore);
    m_darkDevice.clear();
    if (!why.isEmpty()) {
        setStatusText(why);
        if (m_darkDialog)
            m_darkDialog->showEnded(why);
    }
}

} // namespace voruna
