// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/guidestarview.h"

#include <QMainWindow>

class QAction;
class QMdiArea;
class QMenu;
class QStatusBar;

namespace voruna {

class CaptureLayer;
class CaptureSubWindow;
class CaptureWindow;

// The video feedback window: the live camera picture in a capture window, its status line and
// its menu commands. The constructor builds the layout; the owner calls Form2_Form_Load()
// before showing it and Form2_Form_Unload() before destroying it.
class Form2 : public QMainWindow {
    Q_OBJECT
public:
    // `capture` must outlive the window.
    explicit Form2(CaptureLayer &capture, QWidget *parent = nullptr);
    ~Form2() override;

    void Form2_Form_Load();
    void Form2_Form_Unload();

    CaptureLayer &captureLayer() const { return m_capture; }
    // The capture window of this load; nullptr before the load.
    CaptureWindow *captureWindow() const { return m_captureWindow; }
    // Replaces the status line's text.
    void setStatusText(const QString &text);
    // After the capture window connected a driver: offers the dialogs that driver has and fits
    // the window to its picture.
    void driverConnected();
    const GuideStarView &guideStar() const { return m_guideStar; }

    QAction *const mnuclose;
    QMenu *const mnuControl;
    QAction *const mnuDisplay;
    QAction *const mnuFormat;
    QAction *const mnuSource;
    QAction *const mnuLine1;
    QAction *const mnuSelect;
    QAction *const mnuScale;
    QAction *const mnuPreview;
    QAction *const mnuLine2;
    QAction *const mnuAlwaysVisible;
    QAction *const mnuLine3;
    QAction *const mnuPickStar;
    QAction *const mnuReticle;
    QAction *const mnuReticleOnStar;
    QAction *const mnuLine4;
    QAction *const mnuGuiding;
    QAction *const mnuStopGuiding;
    QAction *const mnuguide;
    QStatusBar *const StatusBar;
    // Fills the client area above the status bar and holds the capture window.
    QMdiArea *const captureArea;

Q_SIGNALS:
    void mnuguideClicked();
    void mnucloseClicked();
    // The user used the window's close box; the window stays until its owner unloads it.
    void closeBoxUsed();
    void mnuGuidingClicked();
    void mnuStopGuidingClicked();
    // Every frame that arrived, shown or not: the guide star measured in it, or why it is lost
    // (NoStar while none is chosen).
    void starMeasured(const voruna::StarMeasurement &star);
    // A camera was connected (its star, scale and facts are new), or the camera was lost.
    void cameraConnected();
    void cameraLost();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildMenus();
    void connectMenus();
    void Form2_mnuFormat_Click();
    void Form2_mnuSource_Click();
    void Form2_mnuDisplay_Click();
    void Form2_mnuSelect_Click();
    void Form2_mnuScale_Click();
    void Form2_mnuPreview_Click();
    void Form2_mnuAlwaysVisible_Click();
    // The guide star: chosen by a click (a Shift-click puts the reticle there instead), picked
    // automatically, followed on each frame and drawn over the picture.
    void pictureClicked(QPointF framePoint, Qt::KeyboardModifiers modifiers);
    void pickStar();
    void reticleOnStar();
    void guideFrame(const FrameView &frame);
    void showGuideStar();
    CaptureSubWindow *captureSubWindow() const;
    void buildGuidingMenus();
    int Form2_StatusProc(CaptureWindow *window, int id, const char *text);
    int Form2_ErrorProc(CaptureWindow *window, int id, const char *text);

    CaptureLayer &m_capture;
    CaptureWindow *m_captureWindow = nullptr;
    GuideStarView m_guideStar;
    QSize m_frameSize;
};

} // namespace voruna
