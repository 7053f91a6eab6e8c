// SPDX-License-Identifier: GPL-3.0-or-later
// The slew pad, seen from the adaptor's side of the wire: the bytes each press and release
// sends, the lamps and the direction text, and holds that end without a release.
#include "shell/exitsignals.h"
#include "shell/form1.h"
#include "shell/lamp.h"
#include "shell/slewbutton.h"
#include "support/consolefixture.h"
#include "support/ptypeer.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace voruna;
using voruna::test::ConsoleFixture;
using voruna::test::lampColor;
using voruna::test::padEnabled;

namespace {
const QColor kRedLamp(255, 0, 0);
const QColor kGreyLamp(128, 128, 128);

// A console whose port 1 is a pseudo-terminal held by the test, opened by choosing COM 1:.
struct PadRig {
    ConsoleFixture fixture;
    PtyPeer peer{fixture.portsFolder(), 1};
    Form1 &c = fixture.console();

    PadRig()
    {
        fixture.load();
        c.Combo1->setCurrentIndex(0);
        c.Form1_Combo1_Click();
        for (SlewButton *b : {c.Command1, c.Command2, c.Command3, c.Command4})
            b->setEnabled(true);
        peer.readFor(20); // what the load wrote
    }
    SlewButton *button(const QString &name) { return c.findChild<SlewButton *>(name); }
    Lamp *lamp(const QString &name) { return c.findChild<Lamp *>(name); }
};
} // namespace

class SlewPadTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pressAndRelease_data();
    void pressAndRelease();
    void releaseOutsideThroughTheWindow();
    void keyboardSendsNothing();
    void secondMouseButton();
    void lostRelease_data();
    void lostRelease();
    void unplug_data();
    void unplug();
    void consoleEndsWhileHeld_data();
    void consoleEndsWhileHeld();
    void arrowKeys_data();
    void arrowKeys();
    void arrowKeysKeepTheFocus();
};

void SlewPadTest::pressAndRelease_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("lamp");
    QTest::addColumn<int>("mouse");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("stop");
    QTest::addColumn<QString>("text");
    const struct {
        const char *button, *lamp, *start, *stop, *text;
    } pad[] = {{"Command1", "Shape2", ":Mn#", ":Qn#", "DEC+"},
               {"Command4", "Shape5", ":Ms#", ":Qs#", "DEC-"},
               {"Command2", "Shape3", ":Mw#", ":Qw#", "RA+"},
               {"Command3", "Shape4", ":Me#", ":Qe#", "RA-"}};
    const struct {
        const char *name;
        Qt::MouseButton button;
    } mice[] = {{"left", Qt::LeftButton}, {"right", Qt::RightButton}, {"middle", Qt::MiddleButton}};
    for (const auto &p : pad)
        for (const auto &m : mice)
            QTest::addRow("%s %s", p.text, m.name)
                << p.button << p.lamp << int(m.button) << QByteArray(p.start) << QByteArray(p.stop)
                << QString::fromLatin1(p.text);
}

void SlewPadTest::pressAndRelease()
{
    QFETCH(QString, button);
    QFETCH(QString, lamp);
    QFETCH(int, mouse);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, stop);
    PadRig rig;
    SlewButton *b = rig.button(button);
    const auto mb = Qt::MouseButton(mouse);

    QTest::mousePress(b, mb, Qt::ShiftModifier | Qt::ControlModifier, QPoint(18, 18));
    QCOMPARE(rig.peer.readUntil(4, 1000), start);
    QCOMPARE(lampColor(rig.lamp(lamp)), kRedLamp);
    QTEST(rig.c.Label1->text(), "text");

    // Released far outside the button: the button that took the press takes the release.
    QTest::mouseRelease(b, mb, Qt::NoModifier, QPoint(-80, 200));
    QCOMPARE(rig.peer.readUntil(4, 1000), stop);
    QCOMPARE(lampColor(rig.lamp(lamp)), kGreyLamp);
    QVERIFY(rig.c.Label1->text().isEmpty());
    QVERIFY(rig.peer.readFor(50).isEmpty()); // once per press, once per release
}

void SlewPadTest::releaseOutsideThroughTheWindow()
{
    // Through the window system's path, so the toolkit's grab decides who gets the release.
    PadRig rig;
    rig.c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.c));
    QWindow *window = rig.c.windowHandle();
    const QPoint onUp = rig.c.Command1->mapTo(&rig.c, QPoint(18, 18));
    const QPoint onConnect = rig.c.Command5->mapTo(&rig.c, QPoint(5, 5));
    QTest::mousePress(window, Qt::RightButton, Qt::NoModifier, onUp);
    QCOMPARE(rig.peer.readUntil(4, 1000), QByteArray(":Mn#"));
    QTest::mouseMove(window, onConnect);
    QTest::mouseRelease(window, Qt::RightButton, Qt::NoModifier, onConnect);
    QCOMPARE(rig.peer.readUntil(4, 1000), QByteArray(":Qn#"));
    QCOMPARE(lampColor(rig.c.Shape2), kGreyLamp);
    QVERIFY(rig.c.Label1->text().isEmpty());
}

void SlewPadTest::keyboardSendsNothing()
{
    PadRig rig;
    rig.c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.c));
    for (SlewButton *b : {rig.c.Command1, rig.c.Command2, rig.c.Command3, rig.c.Command4}) {
        b->setFocus();
        QTest::keyClick(b, Qt::Key_Space);
        QTest::keyClick(b, Qt::Key_Return);
        QTest::keyClick(b, Qt::Key_Enter);
    }
    QVERIFY(rig.peer.readFor(100).isEmpty());
    QCOMPARE(lampColor(rig.c.Shape2), kGreyLamp);
}

void SlewPadTest::secondMouseButton()
{
    PadRig rig;
    SlewButton *up = rig.c.Command1;
    QTest::mousePress(up, Qt::LeftButton);
    QTest::mousePress(up, Qt::RightButton);
    QCOMPARE(rig.peer.readUntil(8, 1000), QByteArray(":Mn#:Mn#"));
    QTest::mouseRelease(up, Qt::LeftButton);
    QCOMPARE(rig.peer.readUntil(4, 1000), QByteArray(":Qn#"));
    QCOMPARE(lampColor(rig.c.Shape2), kGreyLamp);
    QVERIFY(rig.c.Label1->text().isEmpty());
    QTest::mouseRelease(up, Qt::RightButton);
    QCOMPARE(rig.peer.readUntil(4, 1000), QByteArray(":Qn#"));

    // A new press shows its own text; a release never brings back an earlier one.
    QTest::mousePress(rig.c.Command2, Qt::LeftButton);
    QTest::mousePress(up, Qt::LeftButton);
    QCOMPARE(rig.c.Label1->text(), QStringLiteral("DEC+"));
    QTest::mouseRelease(up, Qt::LeftButton);
    QVERIFY(rig.c.Label1->text().isEmpty());
}

void SlewPadTest::lostRelease_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("console hidden") << "hide";
    QTest::newRow("a menu opens") << "menu";
    QTest::newRow("pad disabled") << "disable";
    QTest::newRow("another window activated") << "deactivate";
    QTest::newRow("port chosen from the keyboard") << "port change";
    QTest::newRow("Connect from the keyboard") << "connect";
}

void SlewPadTest::lostRelease()
{
    QFETCH(QString, how);
    PadRig rig;
    rig.c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.c));
    QWidget other;
    QTest::mousePress(rig.c.Command4, Qt::LeftButton);
    QCOMPARE(rig.peer.readUntil(4, 1000), QByteArray(":Ms#"));

    if (how == QLatin1String("hide")) {
        rig.c.hide();
    } else if (how == QLatin1String("menu")) {
        rig.c.filenemu->popup(rig.c.mapToGlobal(QPoint(0, 0)));
    } else if (how == QLatin1String("disable")) {
        rig.c.Command4->setEnabled(false);
    } else if (how == QLatin1String("port change")) {
        rig.c.Form1_Combo1_Click(); // reopens the port: the stop must go out before
    } else if (how == QLatin1String("connect")) {
        rig.c.Form1_Command5_Click();
    } else {
        rig.c.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig.c));
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
    }
    QCOMPARE(rig.peer.readUntil(4, 1000), QByteArray(":Qs#"));
    if (how == QLatin1String("connect"))
        QCOMPARE(rig.peer.readUntil(1, 1000), QByteArray("?")); // the stop went out first
    QCOMPARE(lampColor(rig.c.Shape5), kGreyLamp);
    QVERIFY(rig.c.Label1->text().isEmpty());
    rig.c.filenemu->hide();

    // The release that finally arrives sends nothing more.
    QTest::mouseRelease(rig.c.Command4, Qt::LeftButton);
    QVERIFY(rig.peer.readFor(50).isEmpty());
}

namespace {
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
} // namespace

void SlewPadTest::unplug_data()
{
    QTest::addColumn<bool>("held");
    QTest::newRow("during a held slew") << true;
    QTest::newRow("before a press") << false;
}

void SlewPadTest::unplug()
{
    QFETCH(bool, held);
    PadRig rig;
    if (held) {
        QTest::mousePress(rig.c.Command3, Qt::LeftButton);
        QCOMPARE(rig.peer.readUntil(4, 1000), QByteArray(":Me#"));
    }
    rig.fixture.messages.shown.clear();
    rig.peer.hangUp();
    // The port is let go at once: no press is needed to notice, and no message box.
    QTRY_VERIFY(!padEnabled(rig.c));
    QVERIFY(!rig.c.MSComm1.portOpen());
    QCOMPARE(lampColor(rig.c.Shape1), kRedLamp);
    QCOMPARE(lampColor(rig.c.Shape4), kGreyLamp);
    QVERIFY(rig.c.Label1->text().isEmpty());
    QVERIFY(rig.fixture.messages.shown.isEmpty());
    QTest::mouseRelease(rig.c.Command3, Qt::LeftButton);
    QTest::mousePress(rig.c.Command1, Qt::LeftButton);

    // Then the program rests. A retrying port would burn the whole window; the bound is loose
    // for a loaded machine.
    const double before = cpuSeconds();
    QTest::qWait(2000);
    const double used = cpuSeconds() - before;
    qInfo("CPU after the hang-up: %.3f s in 2 s", used);
    QVERIFY2(used < 0.6, qPrintable(QStringLiteral("%1 s of CPU in 2 s").arg(used)));

    // A port change brings the link back on a new device.
    PtyPeer replugged(rig.fixture.portsFolder(), 1);
    rig.c.Form1_Combo1_Click();
    QVERIFY(rig.c.MSComm1.portOpen());
}

void SlewPadTest::consoleEndsWhileHeld_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("console destroyed") << 0;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void SlewPadTest::consoleEndsWhileHeld()
{
    QFETCH(int, signalNumber);
    PadRig rig;
    ExitSignals exitSignals;
    QVERIFY(exitSignals.isValid());
    connect(&exitSignals, &ExitSignals::requested, &exitSignals, [&rig] { rig.fixture.unload(); });
    QTest::mousePress(rig.c.Command1, Qt::LeftButton);
    QCOMPARE(rig.peer.readUntil(4, 1000), QByteArray(":Mn#"));
    if (signalNumber == 0)
        rig.fixture.unload();
    else
        ::raise(signalNumber);
    // The wire ends with the held direction's stop, sent once.
    QCOMPARE(rig.peer.readUntil(4, 5000), QByteArray(":Qn#"));
    QVERIFY(rig.peer.readFor(50).isEmpty());
}

namespace {
// Sends an arrow key as the window system does, to whatever has the focus.
void sendKey(QWidget *window, QEvent::Type type, int key, bool autoRepeat)
{
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
    QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(target, &event);
}
} // namespace

void SlewPadTest::arrowKeys_data()
{
    // Steps: a key (U, D, L, R) with + for its press, - for its release, * for one auto-repeat
    // (press and release); or a way the keyboard is lost.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("up") << "U+ U-" << QByteArray(":Mn#:Qn#");
    QTest::newRow("down, auto-repeat sends nothing") << "D+ D* D* D-" << QByteArray(":Ms#:Qs#");
    QTest::newRow("left is the pad's east") << "L+ L* L-" << QByteArray(":Me#:Qe#");
    QTest::newRow("right is the pad's west") << "R+ R-" << QByteArray(":Mw#:Qw#");
    QTest::newRow("second key on an axis takes it over")
        << "U+ D+ U- D-" << QByteArray(":Mn#:Qn#:Ms#:Qs#");
    QTest::newRow("two axes move both") << "U+ L+ U- L-" << QByteArray(":Mn#:Me#:Qn#:Qe#");
    QTest::newRow("console hidden") << "D+ L+ hide D- L-" << QByteArray(":Ms#:Me#:Qe#:Qs#");
    QTest::newRow("a menu opens") << "D+ menu D-" << QByteArray(":Ms#:Qs#");
    QTest::newRow("another window activated") << "D+ deactivate D-" << QByteArray(":Ms#:Qs#");
    QTest::newRow("the focus moves to the port list") << "R+ tab R-" << QByteArray(":Mw#:Qw#");
    QTest::newRow("the menu bar takes the keyboard") << "R+ menubar R-" << QByteArray(":Mw#:Qw#");
    QTest::newRow("pad disabled") << "U+ disable U-" << QByteArray(":Mn#:Qn#");
    QTest::newRow("console destroyed") << "U+ R+ unload" << QByteArray(":Mn#:Mw#:Qn#:Qw#");
}

void SlewPadTest::arrowKeys()
{
    QFETCH(QString, steps);
    PadRig rig;
    rig.c.show();
    rig.c.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&rig.c));
    rig.c.Command5->setFocus();
    QWidget other;
    const QHash<QChar, int> keys{
        {u'U', Qt::Key_Up}, {u'D', Qt::Key_Down}, {u'L', Qt::Key_Left}, {u'R', Qt::Key_Right}};
    QByteArray wire;
    for (const QString &step : steps.split(u' ')) {
        if (step.size() == 2 && keys.contains(step[0])) {
            const int key = keys.value(step[0]);
            const bool repeat = step[1] == u'*';
            if (step[1] != u'-')
                sendKey(&rig.c, QEvent::KeyPress, key, repeat);
            if (step[1] != u'+')
                sendKey(&rig.c, QEvent::KeyRelease, key, repeat);
        } else if (step == QLatin1String("hide")) {
            rig.c.hide();
        } else if (step == QLatin1String("menu")) {
            rig.c.filenemu->popup(rig.c.mapToGlobal(QPoint(0, 0)));
        } else if (step == QLatin1String("deactivate")) {
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
        } else if (step == QLatin1String("tab")) {
            rig.c.Combo1->setFocus(Qt::TabFocusReason);
        } else if (step == QLatin1String("menubar")) {
            rig.c.menuBar()->setFocus(Qt::MenuBarFocusReason);
        } else if (step == QLatin1String("disable")) {
            rig.c.Command1->setEnabled(false);
        } else if (step == QLatin1String("unload")) {
            rig.fixture.unload();
            QTEST(wire + rig.peer.readFor(30), "wire");
            return;
        }
        wire += rig.peer.readFor(30);
    }
    rig.c.filenemu->hide();
    QTEST(wire, "wire");
    for (Lamp *lamp : {rig.c.Shape2, rig.c.Shape3, rig.c.Shape4, rig.c.Shape5})
        QCOMPARE(lampColor(lamp), kGreyLamp);
    QVERIFY(rig.c.Label1->text().isEmpty());
}

void SlewPadTest::arrowKeysKeepTheFocus()
{
    // A new user pressing Up from Connect slews; the focus stays put and the port list, two
    // controls up, is never reached.
    PadRig rig;
    rig.c.show();
    rig.c.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&rig.c));
    rig.c.Command5->setFocus();
    const int port = rig.c.Combo1->currentIndex();
    for (int k = 0; k < 2; ++k) {
        QTest::keyClick(rig.c.Command5, Qt::Key_Up);
        QCOMPARE(rig.peer.readUntil(8, 1000), QByteArray(":Mn#:Qn#"));
        QCOMPARE(QApplication::focusWidget(), rig.c.Command5);
    }
    QCOMPARE(rig.c.Combo1->currentIndex(), port);
    QVERIFY(rig.c.MSComm1.portOpen());
    // The port list keeps its own arrow keys while it has the focus.
    rig.c.Combo1->setFocus();
    QTest::keyClick(rig.c.Combo1, Qt::Key_Down);
    QCOMPARE(rig.c.Combo1->currentIndex(), port + 1);
    QVERIFY(!rig.peer.readFor(50).contains(":M"));
}

QTEST_MAIN(SlewPadTest)
#include "link_slewpad.moc"
