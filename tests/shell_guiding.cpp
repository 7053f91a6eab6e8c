// SPDX-License-Identifier: GPL-3.0-or-later
// Guiding joined to the program: every way out sends the stops on the wire before anything else,
// and no start follows. (How long a correction lasts on the wire is measured in the
// guide_latency benchmark.)
#include "guide/guidesession.h"
#include "guide/window/guidewindow.h"
#include "shell/exitsignals.h"
#include "shell/form1.h"
#include "shell/slewbutton.h"
#include "shell/windowflow.h"
#include "support/recordingmessages.h"
#include "support/scriptedserial.h"
#include "support/tempconfighome.h"
#include "video/form2.h"
#include "video_support/starcamera.h"

#include <QAction>
#include <QComboBox>
#include <QMdiArea>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace voruna;
using voruna::test::ScriptedSerial;

namespace {

const QPointF kStar(160, 120);

// The program but main(): the console on a scripted port, the video window on a camera whose
// frames the test sends, guiding west with a long correction under way.
struct Program {
    TempConfigHome home; // the remembered calibrations of this run only
    QTemporaryDir work;
    ScriptedSerial serial;
    voruna::test::RecordingMessages messages;
    voruna::test::StarSource *source = nullptr;
    std::unique_ptr<CaptureLayer> capture;
    std::unique_ptr<WindowFlow> windows;

    Program()
    {
        QDir::setCurrent(work.path());
        auto owned = std::make_unique<voruna::test::StarSource>();
        source = owned.get();
        std::vector<std::unique_ptr<DriverSource>> sources;
        sources.push_back(std::move(owned));
        capture = makeCaptureLayer(std::move(sources));
        windows = std::make_unique<WindowFlow>(serial, messages, *capture);
        session().setLogFolder(work.filePath(QStringLiteral("state")));
        windows->start();
        windows->Form5_Timer1_Timer();
        Form1 &c = *windows->form1();
        c.Combo1->setCurrentIndex(0);
        c.Form1_Combo1_Click();
        for (SlewButton *b : {c.Command1, c.Command2, c.Command3, c.Command4})
            b->setEnabled(true);
        windows->Form1_videomenu_Click();
        camera().scene.addStar(kStar, 3.0, 30000);
        send();
        windows->form2()->mnuPickStar->trigger();
        session().engine().useCalibration({.west = {3.75, 0.0}, .north = {0.0, -3.75}});
        session().guide(kStar);
        serial.written.clear();
        session().startPulse({GuideDirection::West, 5.0});
    }
    ~Program()
    {
        windows.reset();
        QDir::setCurrent(QDir::tempPath());
    }
    GuideSession &session() { return windows->guideSession(); }
    voruna::test::StarCamera &camera() { return *source->camera; }
    // One frame, with the star where the scene has it; handed to guiding as it arrives.
    void send()
    {
        QSignalSpy measured(windows->form2(), &Form2::starMeasured);
        camera().send();
        QTRY_VERIFY(!measured.isEmpty());
    }
    static void settle() { QCoreApplication::processEvents(); }
};

enum class Way {
    StopCommand, VideoCloseBox, VideoClose, Exit, Signal, PortLost, CameraLost, StarLost,
    SlewPad, SlewKeyConsole, SlewKeyVideo, SlewKeyHeldAsVideoCloses, PortChange, Connect, GuideWindowClosed
};

} // namespace

class ShellGuidingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void waysOut_data();
    void waysOut();
};

void ShellGuidingTest::waysOut_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<QByteArray>("wire"); // after the correction's start
    const QByteArray stop = ":Mw#:Qw#";
    QTest::newRow("Stop guiding") << int(Way::StopCommand) << stop;
    QTest::newRow("video window's close box") << int(Way::VideoCloseBox) << stop;
    QTest::newRow("video window's Close") << int(Way::VideoClose) << stop;
    QTest::newRow("Exit") << int(Way::Exit) << stop;
    QTest::newRow("a signal") << int(Way::Signal) << stop;
    QTest::newRow("port lost") << int(Way::PortLost) << stop;
    QTest::newRow("camera lost") << int(Way::CameraLost) << stop;
    QTest::newRow("star lost") << int(Way::StarLost) << stop;
    QTest::newRow("slew pad pressed") << int(Way::SlewPad) << stop + ":Mn#:Qn#";
    QTest::newRow("slew key in the console") << int(Way::SlewKeyConsole) << stop + ":Mn#:Qn#";
    QTest::newRow("slew key in the video window") << int(Way::SlewKeyVideo) << stop + ":Me#:Qe#";
    QTest::newRow("slew key held as the video window closes")
        << int(Way::SlewKeyHeldAsVideoCloses) << stop + ":Mw#:Qw#";
    QTest::newRow("another port chosen") << int(Way::PortChange) << stop;
    QTest::newRow("Connect") << int(Way::Connect) << stop + "?";
    QTest::newRow("guiding window closed") << int(Way::GuideWindowClosed) << stop;
}

void ShellGuidingTest::waysOut()
{
    QFETCH(int, way);
    Program p;
    QCOMPARE(p.serial.written, QByteArray(":Mw#"));
    Form1 *console = p.windows->form1();
    Form2 *video = p.windows->form2();
    ExitSignals signals;
    connect(&signals, &ExitSignals::requested, p.windows.get(),
            [&p] { p.windows->releaseHeldSlew(); });
    switch (Way(way)) {
    case Way::StopCommand: video->mnuStopGuiding->trigger(); break;
    case Way::VideoCloseBox: video->close(); break;
    case Way::VideoClose: video->mnuclose->trigger(); break;
    case Way::Exit: console->exitmenu->trigger(); break;
    case Way::Signal: ::raise(SIGTERM); break;
    case Way::PortLost: p.serial.reportDeviceGone(); break;
    case Way::CameraLost: p.camera().fail(); break;
    case Way::StarLost:
        p.camera().scene.clear();
        p.send();
        break;
    case Way::SlewPad:
        QTest::mousePress(console->Command1, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseRelease(console->Command1, Qt::LeftButton, {}, QPoint(10, 10));
        break;
    case Way::SlewKeyConsole:
        QTest::keyPress(console->Command5, Qt::Key_Up);
        QTest::keyRelease(console->Command5, Qt::Key_Up);
        break;
    case Way::SlewKeyVideo:
        QTest::keyPress(video->captureArea, Qt::Key_Left);
        QTest::keyRelease(video->captureArea, Qt::Key_Left);
        break;
    case Way::SlewKeyHeldAsVideoCloses:
        QTest::keyPress(video->captureArea, Qt::Key_Right);
        video->mnuclose->trigger();
        break;
    case Way::PortChange:
        console->Combo1->setCurrentIndex(1);
        console->Form1_Combo1_Click();
        break;
    case Way::Connect: console->Form1_Command5_Click(); break;
    case Way::GuideWindowClosed:
        video->mnuGuiding->trigger();
        QVERIFY(p.windows->guideWindow() && p.windows->guideWindow()->isVisible());
        p.windows->guideWindow()->close();
        break;
    }
    QFETCH(QByteArray, wire);
    QTRY_COMPARE(p.serial.written, wire);
    // No start follows: the camera, where it is still there, keeps sending the star away from
    // where it was guided (or, with the star lost, still without it).
    if (p.windows->form2() && !p.camera().isLost()) {
        if (Way(way) != Way::StarLost) {
            p.camera().scene.clear();
            p.camera().scene.addStar(kStar + QPointF(4, 3), 3.0, 30000);
        }
        for (int k = 0; k < 3; ++k)
            p.send();
    }
    QTest::qWait(50);
    QCOMPARE(p.serial.written, wire);
    for (int d = 0; d < 4; ++d)
        QVERIFY(!p.session().isMoving(GuideDirection(d)));
}

QTEST_MAIN(ShellGuidingTest)
#include "shell_guiding.moc"
