// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/capturesubwindow.h"

#include "look/nightlook.h"
#include "video/capture/notices.h"
#include "video/displaydialog.h"
#include "video/fittovideo.h"
#include "video/formatdialog.h"
#include "video/guidestarview.h"
#include "video/previewwidget.h"
#include "video/sourcedialog.h"

#include <QEvent>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimer>

#include <utility>

namespace voruna {

namespace {

constexpr Qt::WindowFlags framedFlags =
    Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

} // namespace

CaptureSubWindow::CaptureSubWindow(DriverOpener &opener, QWidget *parent)
    : QMdiSubWindow(parent, framedFlags)
    , m_opener(opener)
    , m_picture(new PreviewWidget)
    , m_previewTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("captureWindow"));
    setWidget(m_picture);
    setSystemMenu(nullptr);
    m_previewTimer->setSingleShot(true);
    connect(m_previewTimer, &QTimer::timeout, this, &CaptureSubWindow::showNewest);
    connect(m_picture, &PreviewWidget::shownSizeChanged, this,
            &CaptureSubWindow::onShownSizeChanged);
}

CaptureSubWindow::~CaptureSubWindow() = default;

bool CaptureSubWindow::driverConnect(int index)
{
    return connectDriver(m_opener.driverAt(index).value_or(DriverId()), index, false);
}

bool CaptureSubWindow::driverConnect(const DriverId &driver, int index)
{
    return connectDriver(driver, index, true);
}

bool CaptureSubWindow::connectDriver(const DriverId &driver, int index, bool chosen)
{
    // The camera can be opened once at a time: let go of the current one first.
    m_previewTimer->stop();
    const bool hadCamera = m_device != nullptr;
    if (driver != m_displayFor) {
        // Black and white points belong to a camera; how the telescope turns the picture does not.
        m_display = {.mirror = m_display.mirror, .flip = m_display.flip};
        m_displayFor = driver;
    }
    m_device.reset();
    m_index = -1;
    m_driver = {};
    // Nothing of the camera let go stays on show, even when the next one does not open.
    m_newest = ShownFrame();
    m_unshown = ShownFrame();
    m_luminance = QImage();
    m_luminanceFresh = false;
    m_picture->setFrame(QImage());
    QString error;
    std::unique_ptr<CaptureDevice> device = m_opener.openDriver(driver, &error);
    if (!device) {
        // A camera chosen from the list may have gone since the list was made.
        if (error.isEmpty() && (hadCamera || chosen))
            error = QStringLiteral("The chosen camera is no longer there");
        if (!error.isEmpty())
            notify(true, notice::ConnectFailed, error);
        return false;
    }
    m_device = std::move(device);
    m_index = index;
    m_driver = driver;
    m_view = currentView();
    m_device->setDisplayView(m_view);
    connect(m_device.get(), &CaptureDevice::frameArrived, this, &CaptureSubWindow::onFrameArrived);
    connect(m_device.get(), &CaptureDevice::statusNotice, this,
            [this](int id, const QString &text) { notify(false, id, text); });
    connect(m_device.get(), &CaptureDevice::failed, this, [this](int id, const QString &text) {
        Q_EMIT cameraFailed();
        notify(true, id, text);
    });
    // The owner fits the window to the size the camera tells now; a camera that tells none yet
    // (a remote one still connecting) is fitted to its first picture.
    m_fittedTo = m_device->format().size;
    QPointer<CaptureSubWindow> alive(this);
    if (!m_device->start() && alive && hasDevice())
        notify(true, notice::StreamNotStarted, streamNotStartedText(m_device->startError()));
    return true;
}

bool CaptureSubWindow::driverGetCaps(DriverCaps *caps) const
{
    if (!hasDevice())
        return false;
    caps->deviceIndex = m_index;
    caps->driver = m_driver;
    caps->hasDlgVideoSource = m_device->hasSourceDialog();
    caps->hasDlgVideoFormat = m_device->hasFormatDialog();
    caps->hasDlgVideoDisplay = m_device->hasDisplayDialog();
    return true;
}

bool CaptureSubWindow::getStatus(QSize *imageSize) const
{
    // A camera still connecting has no size yet: the window keeps its own until it has.
    if (!hasDevice() || m_device->format().size.isEmpty())
        return false;
    *imageSize = m_device->format().size;
    return true;
}

bool CaptureSubWindow::runModal(QDialog *dialog)
{
    QPointer<CaptureSubWindow> alive(this);
    QPointer<QDialog> guard(dialog);
    dialog->exec();
    delete guard.data();
    return bool(alive);
}

void CaptureSubWindow::dlgVideoFormat()
{
    if (!hasDevice())
        return;
    auto *dialog = new FormatDialog(*m_device, window());
    QPointer<FormatDialog> guard(dialog);
    QPointer<CaptureSubWindow> alive(this);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!alive || !guard)
        return;
    const StreamFormat chosen = dialog->chosenFormat();
    delete dialog;
    if (!accepted || !hasDevice() || chosen == m_device->format())
        return;
    if (m_device->setFormat(chosen))
        m_fittedTo = m_device->format().size; // the owner fits the window to it
    else if (alive)
        notify(true, notice::FormatRefused,
               QStringLiteral("The camera refused %1").arg(streamDescription(chosen)));
}

void CaptureSubWindow::dlgVideoSource()
{
    if (hasDevice())
        runModal(new SourceDialog(*m_device, window()));
}

void CaptureSubWindow::dlgVideoDisplay()
{
    if (!hasDevice())
        return;
    m_display = rescaledTo(m_display, m_device->sampleBits());
    auto *dialog = new DisplayDialog(m_display, window());
    connect(dialog, &DisplayDialog::settingsChanged, this, &CaptureSubWindow::applyDisplay);
    runModal(dialog);
}

void CaptureSubWindow::applyDisplay(const DisplaySettings &settings)
{
    m_display = settings;
    // The newest frame is drawn again at once, also when the preview is stopped.
    if (updateView())
        showFrame();
}

DisplayView CaptureSubWindow::currentView() const
{
    const QSize size = m_picture->shownSize();
    return {m_display, size, m_picture->isScaled() && !size.isEmpty(), isNightLook()};
}

bool CaptureSubWindow::updateView()
{
    const DisplayView view = currentView();
    if (view == m_view)
        return false;
    m_view = view;
    if (m_device)
        m_device->setDisplayView(m_view);
    return true;
}

void CaptureSubWindow::setPictureCleaner(PictureCleaner cleaner)
{
    m_cleaner = std::move(cleaner);
    m_cleanPicture = QImage();
    showFrame();
}

bool CaptureSubWindow::showCleaned()
{
    const FrameView raw = newestLuminance();
    if (!raw.isValid())
        return false;
    const FrameView clean = m_cleaner(raw);
    if (clean.pixels == raw.pixels || !clean.isValid())
        return false;
    const QImage grey(static_cast<const uchar *>(clean.pixels), clean.width, clean.height,
                      clean.stride,
                      clean.bits == 16 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
    renderView(grey, clean.bits == 16 ? m_newest.sampleBits : 8, m_view, &m_cleanPicture);
    m_picture->setSource(grey.size(), m_view.settings.mirror, m_view.settings.flip);
    m_picture->setFrame(m_cleanPicture);
    return true;
}

void CaptureSubWindow::showFrame()
{
    if (m_newest.frame.isNull())
        return;
    if (m_cleaner && showCleaned())
        return;
    // Costs what the window shows: only a picture drawn for another view (or none) is drawn here.
    if (m_newest.picture.isNull() || !(m_newest.view == m_view)) {
        renderView(m_newest.frame, m_newest.sampleBits, m_view, &m_newest.picture);
        m_newest.view = m_view;
    }
    m_picture->setSource(m_newest.frame.size(), m_view.settings.mirror, m_view.settings.flip);
    m_picture->setFrame(m_newest.picture);
}

FrameView CaptureSubWindow::newestLuminance()
{
    if (m_newest.frame.isNull())
        return {};
    // Grey frames cost nothing here; a colour frame is converted once, at the first asking.
    const bool grey = m_newest.frame.format() == QImage::Format_Grayscale8
                      || m_newest.frame.format() == QImage::Format_Grayscale16;
    FrameView view;
    if (grey || !m_luminanceFresh) {
        view = luminanceView(m_newest.frame, &m_luminance);
        m_luminanceFresh = !grey;
    } else {
        view = luminanceView(m_luminance, &m_luminance);
    }
    view.time = m_newestTime;
    return view;
}

void CaptureSubWindow::handOver()
{
    if (!m_consumer)
        return;
    const FrameView view = newestLuminance();
    if (view.isValid())
        m_consumer(view);
}

void CaptureSubWindow::changeEvent(QEvent *event)
{
    // The night look came or went: the newest frame is drawn again at once in its colours, and
    // the camera draws the next ones so.
    if (event->type() == QEvent::PaletteChange && updateView())
        showFrame();
    QMdiSubWindow::changeEvent(event);
}

void CaptureSubWindow::onShownSizeChanged()
{
    if (updateView())
        showFrame();
}

void CaptureSubWindow::setPreview(bool on)
{
    m_preview = on;
    if (!on)
        m_previewTimer->stop();
}

void CaptureSubWindow::setPreviewRate(int periodMs)
{
    m_periodMs = std::max(1, periodMs);
}

void CaptureSubWindow::setScale(bool on)
{
    m_picture->setScaled(on);
    if (updateView())
        showFrame();
}

void CaptureSubWindow::onFrameArrived()
{
    if (!m_preview) {
        takeUnshown();
        return;
    }
    if (m_previewTimer->isActive())
        return;
    const qint64 since = m_sinceShown.isValid() ? m_sinceShown.elapsed() : m_periodMs;
    if (since >= m_periodMs)
        showNewest();
    else
        m_previewTimer->start(int(m_periodMs - since));
}

void CaptureSubWindow::showNewest()
{
    if (!m_preview || !hasDevice())
        return;
    QPointer<CaptureSubWindow> alive(this);
    ShownFrame next;
    // The frame before is lent to be drawn over, to a camera that can.
    next.frame.swap(m_newest.frame);
    const bool taken = m_device->takeFrame(&next);
    if (!alive)
        return;
    if (!taken) {
        m_newest.frame.swap(next.frame);
        return;
    }
    ShownFrame spent = std::exchange(m_newest, std::move(next));
    m_newestTime = std::chrono::steady_clock::now();
    m_newestUtc = QDateTime::currentDateTimeUtc();
    m_luminanceFresh = false;
    // A format of another depth keeps the black and white points at their place in the range.
    m_display = rescaledTo(m_display, m_device->sampleBits());
    m_sinceShown.start();
    updateView();
    showFrame();
    m_device->letGo(std::move(spent));
    handOver();
    // The window fits the picture the camera sends, also when that is not the size it told.
    if (m_newest.frame.size() != m_fittedTo) {
        m_fittedTo = m_newest.frame.size();
        setWindowSize(fittedSize(m_fittedTo, frameMetrics()));
    }
}

void CaptureSubWindow::takeUnshown()
{
    if (!m_consumer || !hasDevice())
        return;
    QPointer<CaptureSubWindow> alive(this);
    ShownFrame next;
    next.frame.swap(m_unshown.frame);
    const bool taken = m_device->takeFrame(&next);
    if (!alive)
        return;
    if (!taken) {
        m_unshown.frame.swap(next.frame);
        return;
    }
    ShownFrame spent = std::exchange(m_unshown, std::move(next));
    m_device->letGo(std::move(spent));
    FrameView view = luminanceView(m_unshown.frame, &m_unshownLuminance);
    view.time = std::chrono::steady_clock::now();
    if (view.isValid())
        m_consumer(view);
}

void CaptureSubWindow::notify(bool error, int id, const QString &text)
{
    // A copy: the handler may remove itself or close the window while it runs.
    const CaptureHook hook = error ? m_errorHook : m_statusHook;
    if (!hook)
        return;
    const QByteArray bytes = text.toLocal8Bit();
    hook(this, id, bytes.constData());
}

void CaptureSubWindow::setSizingFrame(bool on)
{
    // Without its sizing frame the window keeps its caption, so that the user still sees the
    // driver's name and can drag it; only resizing by its border ends.
    m_framed = on;
    setWindowSize(size());
}

void CaptureSubWindow::setWindowSize(QSize outerSize)
{
    if (m_framed) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(outerSize);
    } else {
        setFixedSize(outerSize);
    }
}

FrameMetrics CaptureSubWindow::frameMetrics() const
{
    ensurePolished();
    const QMargins margins = contentsMargins();
    if (margins.top() > 0) {
        m_metrics = {margins.top() - margins.bottom(), margins.left(), margins.bottom()};
        return m_metrics;
    }
    // Not laid out yet: ask the style as the sub-window will.
    QStyleOptionTitleBar option;
    option.initFrom(this);
    option.titleBarFlags = windowFlags();
    const int frame = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
    m_metrics = {style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, this), frame, frame};
    return m_metrics;
}

} // namespace voruna
