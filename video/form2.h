// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/darkframe.h"
#include "video/capture/capturedevice.h"
#include "video/guidestarview.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

class QAction;
class QMdiArea;
class QMenu;
class QStatusBar;

namespace voruna {

class CaptureLayer;
class CaptureSubWindow;
class CaptureWindow;
class DarkDialog;
class FrameRecorder;

// The video feedback window: the live camera picture in a capture window, its status line and
// its menu commands. The constructor builds the layout; the owner calls Form2_Form_Load()
// before showing it and Form2_Form_Unload() before destroying it.
class Form2 : public QMainWindow {
    Q_OBJECT
public:
    // The shortest time between two pictures shown, in milliseconds.
    static constexpr int previewPeriodMs = 66;

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
    // Saves the newest frame as FITS at `fitsPath` and the picture as shown as PNG beside it
    // (the same name ending in .png); false, with a calm message shown and the status line
    // saying why, when there is no frame or a file cannot be written. Files already there are
    // replaced only by a whole new one.
    bool savePicture(const QString &fitsPath);
    // Saves every frame the window shows as numbered FITS files in `folder` until
    // stopRecording(), or until the disk nearly fills or a write fails, which a message tells.
    // Recording turns the preview on: only frames taken for the window are recorded.
    void startRecording(const QString &folder);
    void stopRecording();
    bool isRecording() const { return m_recorder != nullptr; }
    // Takes the darks of `exposures` (seconds), `framesEach` frames each, from the frames to
    // come, asking the camera for each exposure in turn and back to its own at the end; each
    // dark is kept in the camera's dark library as it is done.
    void startDarks(const std::vector<double> &exposures, int framesEach);
    bool isTakingDarks() const { return m_darkTaker != nullptr; }
    // What is taken off the frames now (the dark of the exposure in use, the hot pixels).
    const DarkCorrection &darkCorrection() const { return m_darkCorrection; }

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
    // After the window's own items: guiding, the night look (shared with the console's), saving.
    QAction *const mnuLine4;
    QAction *const mnuGuiding;
    QAction *const mnuStopGuiding;
    QAction *const mnuLineNight;
    QAction *const mnuNight;
    QAction *const mnuLineSave;
    QAction *const mnuSavePicture;
    QAction *const mnuRecord;
    QAction *const mnuLineDarks;
    QAction *const mnuTakeDarks;
    QAction *const mnuDarkPicture;
    QAction *const mnuguide;
    QStatusBar *const StatusBar;
    // Fills the client area above the status bar and holds the capture window.
    QMdiArea *const captureArea;

Q_SIGNALS:
    void mnuguideClicked();
    void mnucloseClicked();
    // The user turned the night look on or off; mnuNight is checked for on.
    void mnuNightClicked();
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
    // An arrow key went down or up in this window (auto-repeat is left out): the slew keys,
    // which the window hands on. The window keeps no arrow key for itself.
    void arrowKey(int key, bool pressed);
    // The keyboard left the window (another window, a control, the menu bar), or the window
    // hides or unloads: a held arrow key's release will not come.
    void arrowKeysLost();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

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
    // Saving frames: the menu items ask where, in the folders used last.
    void Form2_mnuSavePicture_Click();
    void Form2_mnuRecord_Click();
    void recordNewest();
    // A window-modal message that does not hold up the camera.
    void tell(const QString &title, const QString &text);
    void buildGuidingMenus();
    // Darks: the menu items, the dialog, taking them, and taking them off the frames.
    struct DarkKey {
        QString camera;
        QSize size;
        int bits = 0;
        double exposure = -1.0;
        friend bool operator==(const DarkKey &, const DarkKey &) = default;
    };
    void buildDarkMenus();
    void Form2_mnuTakeDarks_Click();
    std::vector<double> darkExposures() const;
    // Feeds a frame to the darks under way; false when none are.
    bool takeDarkFrame(const FrameView &raw);
    void showDarkProgress();
    // Ends the darks under way, the camera back at its exposure; `why` tells the user.
    void stopDarks(const QString &why);
    // The frame with the dark of its exposure taken off and its hot pixels mended.
    FrameView cleanFrame(const FrameView &raw);
    void loadDarks(const DarkKey &key);
    // What the camera tells of its exposure and the rest, asked once for each frame.
    const CameraFacts &frameFacts(const FrameView &raw);
    // Asks the camera for the exposure the darks take now; false when it refused.
    bool setDarkExposure();
    void showCleanPicture(bool on);
    int Form2_StatusProc(CaptureWindow *window, int id, const char *text);
    int Form2_ErrorProc(CaptureWindow *window, int id, const char *text);

    CaptureLayer &m_capture;
    CaptureWindow *m_captureWindow = nullptr;
    GuideStarView m_guideStar;
    QSize m_frameSize;
    std::unique_ptr<FrameRecorder> m_recorder;
    DarkCorrection m_darkCorrection;
    DarkKey m_darkKey;
    std::unique_ptr<DarkTaker> m_darkTaker;
    QPointer<DarkDialog> m_darkDialog;
    double m_exposureBefore = 0.0;
    // The camera the darks are taken with.
    QPointer<CaptureDevice> m_darkDevice;
    CameraFacts m_facts;
    std::chrono::steady_clock::time_point m_factsTime;
    QStringList m_darksTaken;
    // The exposures each camera was used with since the window opened.
    std::map<QString, std::vector<double>> m_exposuresUsed;
};

} // namespace voruna
