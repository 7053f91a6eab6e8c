// SPDX-License-Identifier: GPL-3.0-or-later
// The night look over the whole program: every window, menu and dialog drawn with no green or
// blue light worth the name, the camera picture in red, both windows' items in step, the look
// remembered, and the day look back exactly as it was.
#include "look/nightlook.h"
#include "settings/displayfile.h"
#include "shell/form1.h"
#include "shell/form4.h"
#include "shell/form5.h"
#include "shell/messageboxes.h"
#include "shell/windowflow.h"
#include "support/recordingmessages.h"
#include "support/scriptedserial.h"
#include "support/tempconfighome.h"
#include "video/capture/capturelayer.h"
#include "video/capturesubwindow.h"
#include "video/displaydialog.h"
#include "video/form2.h"
#include "video/form3.h"
#include "video/formatdialog.h"
#include "video/previewwidget.h"
#include "video/sourcedialog.h"
#include "video_support/fakev4l2.h"

#include <QAction>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QtTest>

using namespace voruna;

namespace {

// The brightest green or blue a night window may show anywhere: 24 of 255, well below what a
// dark-adapted eye notices beside the red.
constexpr int kGreenBlueBound = 24;

// The whole program but main(): a scripted port, recorded messages, one fake camera, and a
// configuration home of its own for the remembered look.
struct Program {
    Program()
    {
        kernel->addCamera(0, test::webcamConfig());
        capture = makeV4l2CaptureLayer(kernel);
        windows = std::make_unique<WindowFlow>(serial, messages, *capture);
        windows->start();
        windows->Form5_Timer1_Timer();
    }
    ~Program()
    {
        windows.reset();
        setNightLook(false);
    }
    // Opens the video window and waits for its first picture.
    Form2 &video()
    {
        windows->Form1_videomenu_Click();
        Form2 *form = windows->form2();
        auto *sub = dynamic_cast<CaptureSubWindow *>(form->captureWindow());
        [&] { QTRY_VERIFY(!sub->picture()->shownSize().isEmpty()); }();
        kernel->produceFrame(0);
        [&] { QTRY_VERIFY(!sub->picture()->frame().isNull()); }();
        return *form;
    }

    TempConfigHome home;
    test::ScriptedSerial serial;
    test::RecordingMessages messages;
    std::shared_ptr<test::FakeV4l2> kernel = std::make_shared<test::FakeV4l2>();
    std::unique_ptr<CaptureLayer> capture;
    std::unique_ptr<WindowFlow> windows;
};

// The brightest green or blue of `image`, and the brightest red.
QPair<int, int> brightest(const QImage &image)
{
    int greenBlue = 0, red = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            greenBlue = qMax(greenBlue, qMax(qGreen(row[x]), qBlue(row[x])));
            red = qMax(red, qRed(row[x]));
        }
    }
    return {greenBlue, red};
}

// A window, menu or dialog as the user sees it; one that was hidden is hidden again.
QImage shown(QWidget *widget)
{
    const bool wasVisible = widget->isVisible();
    widget->show();
    [&] { QTRY_VERIFY(widget->isVisible()); }();
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (!wasVisible)
        widget->hide();
    return image;
}

} // namespace

class ShellNightModeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyWindowInRed_data();
    void everyWindowInRed();
    void itemsInStepAndDayLookBack();
    void clientAreaTurnsWithTheLook();
};

void ShellNightModeTest::everyWindowInRed_data()
{
    QTest::addColumn<QString>("window");
    for (const char *name :
         {"splash", "console", "console menu", "about", "video", "video menu", "select", "format",
          "source", "display", "information box", "warning box"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void ShellNightModeTest::everyWindowInRed()
{
    QFETCH(QString, window);
    Program program;
    Form1 *console = program.windows->form1();
    console->nightmenu->trigger();
    Form2 &video = program.video();
    auto *sub = dynamic_cast<CaptureSubWindow *>(video.captureWindow());
    const std::unique_ptr<QWidget> dialogs[] = {
        std::make_unique<form3>(video),
        std::make_unique<FormatDialog>(*sub->device(), &video),
        std::make_unique<SourceDialog>(*sub->device(), &video),
        std::make_unique<DisplayDialog>(sub->displaySettings(), &video),
        makeMessageBox(console, MessageBoxes::Icon::Information, QStringLiteral("Detected")),
        makeMessageBox(console, MessageBoxes::Icon::Exclamation, QStringLiteral("Not found"))};
    static_cast<form3 *>(dialogs[0].get())->form3_Form_Load();
    console->aboutmenu->trigger();
    // The capture window made smaller than the client area, which then shows round it.
    sub->resize(120, 90);
    const QMap<QString, QWidget *> windows{{"splash", program.windows->form5()},
                                           {"console", console},
                                           {"console menu", console->filenemu},
                                           {"about", program.windows->form4()},
                                           {"video", &video},
                                           {"video menu", video.mnuControl},
                                           {"select", dialogs[0].get()},
                                           {"format", dialogs[1].get()},
                                           {"source", dialogs[2].get()},
                                           {"display", dialogs[3].get()},
                                           {"information box", dialogs[4].get()},
                                           {"warning box", dialogs[5].get()}};
    const QImage image = shown(windows.value(window));
    const auto [greenBlue, red] = brightest(image);
    QVERIFY2(greenBlue <= kGreenBlueBound,
             qPrintable(QStringLiteral("green or blue %1").arg(greenBlue)));
    QVERIFY2(red >= 150, qPrintable(QStringLiteral("red only %1: nothing to read").arg(red)));
    if (window == QLatin1String("video")) {
        const QImage picture = shown(sub->picture());
        QCOMPARE(brightest(picture).first, 0);
        QVERIFY(brightest(picture).second > 150);
    }
}

// Either window's item turns the look for both and ticks both; the look is remembered; back in
// the day every pixel of both windows is as it was.
void ShellNightModeTest::itemsInStepAndDayLookBack()
{
    Program program;
    Form1 *console = program.windows->form1();
    Form2 &video = program.video();
    const QImage consoleDay = shown(console);
    const QImage videoDay = shown(&video);

    video.mnuNight->trigger();
    QVERIFY(isNightLook());
    QVERIFY(qApp->property(kNightProperty).toBool());
    QVERIFY(console->nightmenu->isChecked() && video.mnuNight->isChecked());
    QCOMPARE(readNightLook(), true);
    QVERIFY(shown(console) != consoleDay);

    console->nightmenu->trigger();
    QVERIFY(!isNightLook());
    QVERIFY(!video.mnuNight->isChecked());
    QCOMPARE(readNightLook(), false);
    QCOMPARE(shown(console), consoleDay);
    QCOMPARE(shown(&video), videoDay);
}

// Turned on with the video window open, the client area round a picture smaller than the
// window turns dark too, and back.
void ShellNightModeTest::clientAreaTurnsWithTheLook()
{
    Program program;
    Form2 &video = program.video();
    video.resize(video.size() + QSize(160, 120));
    const int dayGreen = brightest(shown(&video)).first;
    video.mnuNight->trigger();
    QTRY_VERIFY(brightest(shown(&video)).first <= kGreenBlueBound);
    video.mnuNight->trigger();
    QTRY_COMPARE(brightest(shown(&video)).first, dayGreen);
}

QTEST_MAIN(ShellNightModeTest)
#include "shell_nightmode.moc"
