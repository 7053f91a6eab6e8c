// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/form2.h"

#include "look/nightlook.h"
#include "video/capture/capturelayer.h"
#include "video/capturesubwindow.h"
#include "video/crosshaircursor.h"
#include "video/darkdialog.h"
#include "video/fittovideo.h"
#include "video/form3.h"
#include "video/notificationtext.h"
#include "video/previewwidget.h"
#include "video/save/framerecorder.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>

namespace voruna {

namespace {

// Client area at load: 4155 x 2940 twips; status bar 255 twips high.
constexpr int clientWidth = 277;
constexpr int clientHeight = 196;
constexpr int statusBarHeight = 17;

QAction *namedAction(const char *name, const QString &text, QObject *parent)
{
    auto *action = new QAction(text, parent);
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace

Form2::Form2(CaptureLayer &capture, QWidget *parent)
    : QMainWindow(parent, Qt::Tool)
    , mnuclose(namedAction("mnuclose", tr("&Close"), this))
    , mnuControl(new QMenu(tr("&Control"), this))
    , mnuDisplay(namedAction("mnuDisplay", tr("&Display"), this))
    , mnuFormat(namedAction("mnuFormat", tr("&Format"), this))
    , mnuSource(namedAction("mnuSource", tr("S&ource"), this))
    , mnuLine1(namedAction("mnuLine1", QString(), this))
    , mnuSelect(namedAction("mnuSelect", tr("&Select"), this))
    , mnuScale(namedAction("mnuScale", tr("Sc&ale"), this))
    , mnuPreview(namedAction("mnuPreview", tr("&Preview"), this))
    , mnuLine2(namedAction("mnuLine2", QString(), this))
    , mnuAlwaysVisible(namedAction("mnuAlwaysVisible", tr("Al&ways Visible"), this))
    , mnuLine3(namedAction("mnuLine3", QString(), this))
    , mnuPickStar(namedAction("mnuPickStar", tr("Pick guide sta&r"), this))
    , mnuReticle(namedAction("mnuReticle", tr("Re&ticle"), this))
    , mnuReticleOnStar(namedAction("mnuReticleOnStar", tr("Reticle o&n star"), this))
    , mnuLine4(namedAction("mnuLine4", QString(), this))
    , mnuGuiding(namedAction("mnuGuiding", tr("G&uiding..."), this))
    , mnuStopGuiding(namedAction("mnuStopGuiding", tr("Stop gu&iding"), this))
    , mnuLineNight(namedAction("mnuLineNight", QString(), this))
    , mnuNight(namedAction("mnuNight", tr("Nig&ht mode"), this))
    , mnuLineSave(namedAction("mnuLineSave", QString(), this))
    , mnuSavePicture(namedAction("mnuSavePicture", tr("Sa&ve picture..."), this))
    , mnuRecord(namedAction("mnuRecord", tr("Re&cord frames..."), this))
    , mnuLineDarks(namedAction("mnuLineDarks", QString(), this))
    , mnuTakeDarks(namedAction("mnuTakeDarks", tr("Take dar&ks..."), this))
    , mnuDarkPicture(namedAction("mnuDarkPicture", tr("Dark-subtracted pictur&e"), this))
    , mnuguide(namedAction("mnuguide", tr("&Guide"), this))
    , StatusBar(new QStatusBar(this))
    , captureArea(new QMdiArea(this))
    , m_capture(capture)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(tr("Voruna Video Feedback"));
    buildMenus();
    connectMenus();
    captureArea->setObjectName(QStringLiteral("captureArea"));
    captureArea->setCursor(crossHairCursor());
    setCentralWidget(captureArea);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    StatusBar->setFont(font);
    StatusBar->setFixedHeight(statusBarHeight);
    StatusBar->setCursor(crossHairCursor());
    setStatusBar(StatusBar);
    resize(clientWidth, menuBar()->sizeHint().height() + clientHeight);
    qApp->installEventFilter(this);
}

Form2::~Form2()
{
    qApp->removeEventFilter(this);
}

void Form2::buildMenus()
{
    mnuControl->setObjectName(QStringLiteral("mnuControl"));
    mnuLine1->setSeparator(true);
    mnuLine2->setSeparator(true);
    mnuFormat->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    mnuSelect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuScale->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    mnuPreview->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    mnuAlwaysVisible->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    for (QAction *item : {mnuScale, mnuPreview, mnuAlwaysVisible})
        item->setCheckable(true);
    mnuScale->setChecked(true);
    mnuPreview->setChecked(true);
    mnuControl->addActions({mnuDisplay, mnuFormat, mnuSource, mnuLine1, mnuSelect, mnuScale,
                            mnuPreview, mnuLine2, mnuAlwaysVisible});
    // The guide star's commands come after the window's own.
    mnuLine3->setSeparator(true);
    mnuPickStar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    mnuReticle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    mnuReticleOnStar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    mnuReticle->setCheckable(true);
    mnuReticle->setChecked(true);
    mnuControl->addActions({mnuLine3, mnuPickStar, mnuReticle, mnuReticleOnStar});
    buildGuidingMenus();
    mnuLineNight->setSeparator(true);
    mnuNight->setCheckable(true);
    mnuNight->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    mnuControl->addActions({mnuLineNight, mnuNight});
    // Saving comes last; Ctrl+S already chooses the camera.
    mnuLineSave->setSeparator(true);
    mnuSavePicture->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    mnuRecord->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    mnuRecord->setCheckable(true);
    mnuControl->addActions({mnuLineSave, mnuSavePicture, mnuRecord});
    buildDarkMenus();
    menuBar()->addAction(mnuclose);
    menuBar()->addMenu(mnuControl);
    menuBar()->addAction(mnuguide);
}

void Form2::connectMenus()
{
    connect(mnuclose, &QAction::triggered, this, &Form2::mnucloseClicked);
    connect(mnuguide, &QAction::triggered, this, &Form2::mnuguideClicked);
    connect(mnuNight, &QAction::triggered, this, &Form2::mnuNightClicked);
    connect(mnuFormat, &QAction::triggered, this, &Form2::Form2_mnuFormat_Click);
    connect(mnuSource, &QAction::triggered, this, &Form2::Form2_mnuSource_Click);
    connect(mnuDisplay, &QAction::triggered, this, &Form2::Form2_mnuDisplay_Click);
    connect(mnuSelect, &QAction::triggered, this, &Form2::Form2_mnuSelect_Click);
    connect(mnuScale, &QAction::triggered, this, &Form2::Form2_mnuScale_Click);
    connect(mnuPreview, &QAction::triggered, this, &Form2::Form2_mnuPreview_Click);
    connect(mnuAlwaysVisible, &QAction::triggered, this, &Form2::Form2_mnuAlwaysVisible_Click);
    connect(mnuSavePicture, &QAction::triggered, this, &Form2::Form2_mnuSavePicture_Click);
    connect(mnuRecord, &QAction::triggered, this, &Form2::Form2_mnuRecord_Click);
    connect(mnuPickStar, &QAction::triggered, this, &Form2::pickStar);
    connect(mnuReticleOnStar, &QAction::triggered, this, &Form2::reticleOnStar);
    connect(mnuReticle, &QAction::toggled, this, [this](bool on) {
        m_guideStar.setReticleShown(on);
        showGuideStar();
    });
}

void Form2::Form2_Form_Load()
{
    const std::optional<DriverDescription> driver = m_capture.driverDescription(0);
    const QString name = driver ? driver->name : QString();
    m_captureWindow = m_capture.createCaptureWindow(captureArea, name, QRect(0, 0, 160, 120));
    if (!m_captureWindow)
        return;
    m_captureWindow->setWindowText(name);
    m_captureWindow->setStatusHook([this](CaptureWindow *window, int id, const char *text) {
        return Form2_StatusProc(window, id, text);
    });
    m_captureWindow->setErrorHook([this](CaptureWindow *window, int id, const char *text) {
        return Form2_ErrorProc(window, id, text);
    });
    if (CaptureSubWindow *sub = captureSubWindow()) {
        sub->setFrameConsumer([this](const FrameView &frame) {
            takeDarkFrame(frame);
            guideFrame(cleanFrame(frame));
            recordNewest();
        });
        connect(sub, &CaptureSubWindow::cameraFailed, this, &Form2::cameraLost);
        connect(sub, &CaptureSubWindow::cameraFailed, this,
                [this] { stopDarks(tr("The camera was lost: the darks stopped.")); });
        showCleanPicture(mnuDarkPicture->isChecked());
        connect(sub->picture(), &PreviewWidget::clicked, this, &Form2::pictureClicked);
    }
    QPointer<Form2> alive(this);
    // Driver 0 as listed just now: the list is not looked at again to open it.
    const bool connected =
        driver ? m_captureWindow->driverConnect(driver->id, 0) : m_captureWindow->driverConnect(0);
    if (!alive || !connected)
        return;
    m_captureWindow->setScale(true);
    m_captureWindow->setPreviewRate(previewPeriodMs);
    m_captureWindow->setPreview(true);
    driverConnected();
}

void Form2::driverConnected()
{
    if (!m_captureWindow)
        return;
    DriverCaps caps; // left zero when unreadable: a driver without dialogs
    m_captureWindow->driverGetCaps(&caps);
    mnuSource->setEnabled(caps.hasDlgVideoSource);
    mnuFormat->setEnabled(caps.hasDlgVideoFormat);
    mnuDisplay->setEnabled(caps.hasDlgVideoDisplay);
    fitToVideo(m_captureWindow);
    // A star of the camera before means nothing in this one's frames.
    m_guideStar.stop();
    const CaptureSubWindow *sub = captureSubWindow();
    m_guideStar.setPlateScale(sub && sub->device() ? sub->device()->arcsecondsPerPixel() : 0.0);
    showGuideStar();
    Q_EMIT cameraConnected();
}

void Form2::Form2_Form_Unload()
{
    Q_EMIT arrowKeysLost();
    stopRecording();
    stopDarks(QString());
    if (m_darkDialog)
        m_darkDialog->close();
    if (!m_captureWindow)
        return;
    if (CaptureSubWindow *sub = captureSubWindow()) {
        sub->setFrameConsumer({});
        sub->setPictureCleaner({});
        sub->disconnect(this);
    }
    m_captureWindow->setErrorHook({});
    m_captureWindow->setStatusHook({});
}

void Form2::setStatusText(const QString &text)
{
    StatusBar->showMessage(text);
}

int Form2::Form2_StatusProc(CaptureWindow *, int id, const char *text)
{
    if (id != 0)
        StatusBar->showMessage(notificationText(text));
    return 0;
}

int Form2::Form2_ErrorProc(CaptureWindow *window, int id, const char *text)
{
    // Errors and status notifications share the status line.
    return Form2_StatusProc(window, id, text);
}

void Form2::Form2_mnuFormat_Click()
{
    if (!m_captureWindow)
        return;
    QPointer<Form2> alive(this);
    m_captureWindow->dlgVideoFormat();
    if (alive)
        fitToVideo(m_captureWindow);
}

void Form2::Form2_mnuSource_Click()
{
    if (m_captureWindow)
        m_captureWindow->dlgVideoSource();
}

void Form2::Form2_mnuDisplay_Click()
{
    if (m_captureWindow)
        m_captureWindow->dlgVideoDisplay();
}

void Form2::Form2_mnuSelect_Click()
{
    QPointer<form3> dialog = new form3(*this);
    dialog->form3_Form_Load();
    dialog->exec();
    delete dialog.data();
}

void Form2::Form2_mnuScale_Click()
{
    const bool on = mnuScale->isChecked();
    if (!m_captureWindow)
        return;
    m_captureWindow->setScale(on);
    m_captureWindow->setSizingFrame(on);
    fitToVideo(m_captureWindow);
}

void Form2::Form2_mnuPreview_Click()
{
    setStatusText(QString());
    if (m_captureWindow)
        m_captureWindow->setPreview(mnuPreview->isChecked());
}

void Form2::Form2_mnuAlwaysVisible_Click()
{
    // Changing the flag re-creates the native window: keep where and how big it is.
    const QRect place = geometry();
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, mnuAlwaysVisible->isChecked());
    setGeometry(place);
    if (visible)
        show();
}

bool Form2::event(QEvent *event)
{
    // Menu hovering would put the items' (empty) tips in the status line and wipe the
    // driver's last notification: the status line shows notifications only.
    if (event->type() == QEvent::StatusTip) {
        event->accept();
        return true;
    }
    return QMainWindow::event(event);
}

void Form2::changeEvent(QEvent *event)
{
    // The night look came or went: the cross-hair takes its colours, and the client area round
    // a picture smaller than the window its shade (which it reads only when made).
    if (event->type() == QEvent::PaletteChange) {
        captureArea->setCursor(crossHairCursor());
        StatusBar->setCursor(crossHairCursor());
        captureArea->setBackground(palette().brush(QPalette::Dark));
    }
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        Q_EMIT arrowKeysLost();
    QMainWindow::changeEvent(event);
}

void Form2::closeEvent(QCloseEvent *event)
{
    event->ignore();
    Q_EMIT closeBoxUsed();
}

} // namespace voruna
