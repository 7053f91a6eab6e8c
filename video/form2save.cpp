// SPDX-License-Identifier: GPL-3.0-or-later
// The video window's saving: the newest frame as FITS and PNG, and recording every frame.
#include "video/capturesubwindow.h"
#include "video/form2.h"
#include "video/save/framerecorder.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>

namespace voruna {

namespace {

constexpr int recordingPeriodMs = 1;

// The folders used last, kept in $XDG_CONFIG_HOME/voruna/saving.
QSettings savedFolders()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QSettings(config + QStringLiteral("/voruna/saving"), QSettings::IniFormat);
}

QString lastFolder(const QString &key)
{
    const QString folder = savedFolders().value(key).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void rememberFolder(const QString &key, const QString &folder)
{
    QSettings settings = savedFolders();
    settings.setValue(key, folder);
}

// The frame's header facts: the exposure began its length before the frame was taken.
FrameFacts factsOf(const CaptureSubWindow &sub)
{
    FrameFacts facts;
    if (sub.device())
        facts.camera = sub.device()->cameraFacts();
    facts.exposureStart =
        sub.newestTakenUtc().addMSecs(-qint64(facts.camera.exposureSeconds * 1000.0));
    return facts;
}

QString pngBeside(const QString &fitsPath)
{
    const QFileInfo info(fitsPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".png"));
}

} // namespace

void Form2::tell(const QString &title, const QString &text)
{
    setStatusText(text);
    auto *box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("savingMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool Form2::savePicture(const QString &fitsPath)
{
    const CaptureSubWindow *sub = captureSubWindow();
    if (!sub || sub->newestFrame().frame.isNull()) {
        tell(tr("Save picture"), tr("There is no picture to save yet."));
        return false;
    }
    // Copies share the pixels: the frame stays as it is while it is written.
    const ShownFrame newest = sub->newestFrame();
    QString error;
    bool saved = saveFits(fitsPath, newest.frame, newest.sampleBits, factsOf(*sub), &error);
    if (saved) {
        // The picture as the window shows it, at the frame's own size.
        QImage shown;
        const DisplayView view{rescaledTo(sub->displaySettings(), newest.sampleBits),
                               newest.frame.size(), false};
        renderView(newest.frame, newest.sampleBits, view, &shown);
        QByteArray png;
        QBuffer buffer(&png);
        saved = buffer.open(QIODevice::WriteOnly) && shown.save(&buffer, "PNG")
                && writeWhole(pngBeside(fitsPath), png, &error);
    }
    if (!saved) {
        tell(tr("Save picture"),
             tr("The picture was not saved: %1").arg(error.isEmpty() ? tr("PNG failed") : error));
        return false;
    }
    setStatusText(tr("Saved %1").arg(QDir::toNativeSeparators(fitsPath)));
    return true;
}

void Form2::Form2_mnuSavePicture_Click()
{
    const QString name =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("'voruna-'yyyyMMdd-hhmmss'.fits'"));
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Save picture"), QDir(lastFolder(QStringLiteral("pictures"))).filePath(name),
        tr("FITS pictures (*.fits *.fit *.fts)"));
    if (path.isEmpty())
        return;
    rememberFolder(QStringLiteral("pictures"), QFileInfo(path).absolutePath());
    savePicture(path);
}

void Form2::Form2_mnuRecord_Click()
{
    if (isRecording()) {
        stopRecording();
        return;
    }
    // Checked once recording begins.
    mnuRecord->setChecked(false);
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Record frames into"), lastFolder(QStringLiteral("recording")));
    if (folder.isEmpty())
        return;
    rememberFolder(QStringLiteral("recording"), folder);
    startRecording(folder);
}

void Form2::startRecording(const QString &folder)
{
    m_recorder = std::make_unique<FrameRecorder>(folder, QDateTime::currentDateTimeUtc());
    mnuRecord->setChecked(true);
    if (!mnuPreview->isChecked())
        mnuPreview->trigger();
    // Every frame that comes is taken at once, not only those the preview's rate would show.
    if (m_captureWindow)
        m_captureWindow->setPreviewRate(recordingPeriodMs);
    setStatusText(tr("Recording into %1").arg(QDir::toNativeSeparators(folder)));
}

void Form2::stopRecording()
{
    if (!m_recorder)
        return;
    const int saved = m_recorder->framesSaved();
    const QString folder = QDir::toNativeSeparators(m_recorder->folder());
    m_recorder.reset();
    mnuRecord->setChecked(false);
    if (m_captureWindow)
        m_captureWindow->setPreviewRate(previewPeriodMs);
    setStatusText(tr("Recording stopped: %1 frames saved in %2").arg(saved).arg(folder));
}

void Form2::recordNewest()
{
    const CaptureSubWindow *sub = captureSubWindow();
    if (!m_recorder || !sub || sub->newestFrame().frame.isNull())
        return;
    const ShownFrame &newest = sub->newestFrame();
    QString message;
    if (m_recorder->record(newest.frame, newest.sampleBits, factsOf(*sub), &message)
        == FrameRecorder::Outcome::Saved)
        return;
    stopRecording();
    tell(tr("Record frames"), message);
}

} // namespace voruna
