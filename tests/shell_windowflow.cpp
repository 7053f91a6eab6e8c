// SPDX-License-Identifier: GPL-3.0-or-later
// The program's windows: start-up through the splash, the hand-over, the menus that lead from
// window to window, and the way out.
#include "shell/form1.h"
#include "shell/form4.h"
#include "shell/form5.h"
#include "shell/windowflow.h"
#include "support/recordingmessages.h"
#include "support/scriptedserial.h"
#include "video/capture/capturelayer.h"
#include "video/drivers/v4l2/v4l2device.h"
#include "video/form2.h"
#include "video_support/fakev4l2.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace voruna;
using voruna::test::RecordingMessages;
using voruna::test::ScriptedSerial;

namespace {

// The whole program but main(): a scripted port, recorded messages and one fake camera.
struct Program {
    Program()
    {
        QDir::setCurrent(work.path()); // the settings file of this run only
        kernel->addCamera(0, voruna::test::webcamConfig());
        capture = makeV4l2CaptureLayer(kernel);
        windows = std::make_unique<WindowFlow>(serial, messages, *capture);
    }
    ~Program()
    {
        windows.reset();
        QDir::setCurrent(QDir::tempPath());
    }
    // Starts and hands over at once, as the splash timer's first tick would.
    void startAndHandOver()
    {
        windows->start();
        windows->Form5_Timer1_Timer();
    }
    // Lets queued handlers (exit, close) run.
    static void settle() { QCoreApplication::processEvents(); }

    QTemporaryDir work;
    ScriptedSerial serial;
    RecordingMessages messages;
    std::shared_ptr<voruna::test::FakeV4l2> kernel = std::make_shared<voruna::test::FakeV4l2>();
    std::unique_ptr<CaptureLayer> capture;
    std::unique_ptr<WindowFlow> windows;
};

int loadsOf(const Program &p)
{
    return p.kernel->openDescriptors();
}

} // namespace

class WindowFlowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void splashHandsOverOnce();
    void handOverOnceWhileAMessageWaits();
    void startUpMessageBeforeConsoleShows();
    void videoTwiceIsOneWindow();
    void videoAfterCloseLoadsAnew();
    void guideLeavesVideoOpen();
    void closeBoxOfVideoUnloadsWithoutConsole();
    void exit_data();
    void exit();
    void consoleCloseBoxExits();
    void exitFromTheKeyboard();
    void aboutHidesAndKeepsLoaded();
    void aboutCloseBoxUnloads();
};

void WindowFlowTest::splashHandsOverOnce()
{
    Program p;
    p.windows->start();
    Form5 *splash = p.windows->form5();
    QVERIFY(splash && splash->isVisible());
    QVERIFY(!p.windows->form1());
    QCOMPARE(splash->Timer1->interval(), 4000);

    QSignalSpy ticks(splash->Timer1, &QTimer::timeout);
    QVERIFY(ticks.wait(5000)); // the real first tick
    QVERIFY(!splash->isVisible());
    Form1 *console = p.windows->form1();
    QVERIFY(console && console->isVisible());
    QVERIFY(!splash->Timer1->isActive());
    QCOMPARE(p.messages.texts(), QStringList{"Communication Port not initialized"});

    p.windows->Form5_Timer1_Timer(); // a late tick changes nothing
    QCOMPARE(p.windows->form1(), console);
    QCOMPARE(p.messages.shown.size(), 1);
    QVERIFY(!splash->isVisible());
}

void WindowFlowTest::handOverOnceWhileAMessageWaits()
{
    Program p;
    p.windows->start();
    int nested = 0;
    // The user takes six seconds to answer the start-up message: the timer ticks meanwhile.
    p.messages.whileShown = [&] {
        ++nested;
        QTest::qWait(4500);
    };
    p.windows->form5()->Timer1->setInterval(4000);
    QSignalSpy ticks(p.windows->form5()->Timer1, &QTimer::timeout);
    QVERIFY(ticks.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(p.windows->form1() && p.windows->form1()->isVisible(), 12000);
    QCOMPARE(nested, 1); // one load, one message
    QCOMPARE(p.windows->form1()->Combo1->count(), 16);
}

void WindowFlowTest::startUpMessageBeforeConsoleShows()
{
    Program p;
    p.startAndHandOver();
    QCOMPARE(p.messages.shown.size(), 1);
    QVERIFY(!p.messages.shown[0].parentVisible);
    QVERIFY(p.windows->form1()->isVisible());
}

void WindowFlowTest::videoTwiceIsOneWindow()
{
    Program p;
    p.startAndHandOver();
    p.windows->form1()->videomenu->trigger();
    Form2 *video = p.windows->form2();
    QVERIFY(video && video->isVisible());
    const int descriptors = loadsOf(p);
    QCOMPARE(descriptors, 1); // the load connected camera 0
    p.windows->form1()->videomenu->trigger();
    QCOMPARE(p.windows->form2(), video);
    QCOMPARE(loadsOf(p), descriptors); // no second load
}

void WindowFlowTest::videoAfterCloseLoadsAnew()
{
    Program p;
    p.startAndHandOver();
    p.windows->form1()->videomenu->trigger();
    QPointer<Form2> first = p.windows->form2();
    first->mnuScale->trigger(); // a state that must not survive
    QVERIFY(!first->mnuScale->isChecked());
    first->mnuclose->trigger();
    Program::settle();
    QVERIFY(!first);
    QVERIFY(!p.windows->form2());
    QCOMPARE(loadsOf(p), 0);
    QVERIFY(p.windows->form1()->isVisible());

    p.windows->form1()->videomenu->trigger();
    QVERIFY(p.windows->form2());
    QVERIFY(p.windows->form2()->mnuScale->isChecked());
    QCOMPARE(loadsOf(p), 1);
}

void WindowFlowTest::guideLeavesVideoOpen()
{
    Program p;
    p.startAndHandOver();
    p.windows->form1()->videomenu->trigger();
    Form2 *video = p.windows->form2();
    p.windows->form1()->hide();
    video->mnuguide->trigger();
    Program::settle();
    QCOMPARE(p.windows->form2(), video);
    QVERIFY(video->isVisible());
    QVERIFY(p.windows->form1()->isVisible());
}

void WindowFlowTest::closeBoxOfVideoUnloadsWithoutConsole()
{
    Program p;
    p.startAndHandOver();
    p.windows->form1()->videomenu->trigger();
    p.windows->form1()->hide();
    QVERIFY(!p.windows->form2()->close()); // the window itself declines; its owner unloads it
    Program::settle();
    QVERIFY(!p.windows->form2());
    QCOMPARE(loadsOf(p), 0);
    QVERIFY(!p.windows->form1()->isVisible());
}

void WindowFlowTest::exit_data()
{
    QTest::addColumn<bool>("videoOpen");
    QTest::newRow("video window never opened") << false;
    QTest::newRow("video window open") << true;
}

void WindowFlowTest::exit()
{
    QFETCH(bool, videoOpen);
    Program p;
    p.serial.existing = {1};
    QFile settings(p.work.filePath("VRdata.nwx"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(" 0 \r\n");
    settings.close();
    p.startAndHandOver();
    QVERIFY(p.serial.portOpen());
    if (videoOpen)
        p.windows->form1()->videomenu->trigger();
    p.windows->form1()->Combo1->setCurrentIndex(5); // chosen, never saved

    QSignalSpy ended(p.windows.get(), &WindowFlow::ended);
    p.windows->form1()->exitmenu->trigger();
    Program::settle();
    QCOMPARE(ended.size(), 1);
    QVERIFY(!p.windows->form1());
    QVERIFY(!p.windows->form2()); // and Exit never creates one to unload it
    QCOMPARE(loadsOf(p), 0);
    QVERIFY(!p.serial.portOpen());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), QByteArray(" 0 \r\n"));
}

void WindowFlowTest::consoleCloseBoxExits()
{
    Program p;
    p.startAndHandOver();
    p.windows->form1()->videomenu->trigger();
    QSignalSpy ended(p.windows.get(), &WindowFlow::ended);
    p.windows->form1()->close();
    Program::settle();
    QCOMPARE(ended.size(), 1);
    QVERIFY(!p.windows->form1());
    QVERIFY(!p.windows->form2());
    QCOMPARE(loadsOf(p), 0);
}

void WindowFlowTest::exitFromTheKeyboard()
{
    Program p;
    p.startAndHandOver();
    Form1 *console = p.windows->form1();
    console->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(console));
    QSignalSpy ended(p.windows.get(), &WindowFlow::ended);
    QTest::keyClick(console, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(console->filenemu->isVisible());
    // Wraps round to the last item, "Night mode", then past the separator to "Exit".
    QTest::keyClick(console->filenemu, Qt::Key_Up);
    QTest::keyClick(console->filenemu, Qt::Key_Up);
    QTest::keyClick(console->filenemu, Qt::Key_Return);
    QTRY_COMPARE(ended.size(), 1);
    QVERIFY(!p.windows->form1());
}

void WindowFlowTest::aboutHidesAndKeepsLoaded()
{
    Program p;
    p.startAndHandOver();
    p.windows->form1()->aboutmenu->trigger();
    Form4 *about = p.windows->form4();
    QVERIFY(about && about->isVisible());
    about->Command1->click();
    QVERIFY(!about->isVisible());
    p.windows->form1()->aboutmenu->trigger();
    QCOMPARE(p.windows->form4(), about);
    QVERIFY(about->isVisible());
}

void WindowFlowTest::aboutCloseBoxUnloads()
{
    Program p;
    p.startAndHandOver();
    p.windows->form1()->aboutmenu->trigger();
    QPointer<Form4> about = p.windows->form4();
    about->close();
    Program::settle();
    QVERIFY(!about);
    p.windows->form1()->aboutmenu->trigger();
    QVERIFY(p.windows->form4() && p.windows->form4()->isVisible());
}

QTEST_MAIN(WindowFlowTest)
#include "shell_windowflow.moc"
