// SPDX-License-Identifier: GPL-3.0-or-later
// The guide console as it looks when loaded: places, texts, fonts, colours, focus and menus.
#include "shell/consolesurface.h"
#include "shell/form1.h"
#include "shell/lamp.h"
#include "shell/slewbutton.h"
#include "support/consolefixture.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

using namespace voruna;
using voruna::test::ConsoleFixture;
using voruna::test::lampColor;

class ConsoleLayoutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controlBoxes_data();
    void controlBoxes();
    void textsAndTooltips_data();
    void textsAndTooltips();
    void fontsAndColours();
    void stateAtLoad();
    void tabOrder();
    void menus();
    void portListEntries();
};

void ConsoleLayoutTest::controlBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("box"); // pixels: twips / 15
    QTest::newRow("Label1") << "Label1" << QRect(20, 8, 125, 29);
    QTest::newRow("Shape2") << "Shape2" << QRect(76, 44, 13, 13);
    QTest::newRow("Command1") << "Command1" << QRect(64, 60, 37, 37);
    QTest::newRow("Shape4") << "Shape4" << QRect(12, 108, 13, 13);
    QTest::newRow("Command3") << "Command3" << QRect(28, 96, 37, 37);
    QTest::newRow("Command2") << "Command2" << QRect(100, 96, 37, 37);
    QTest::newRow("Shape3") << "Shape3" << QRect(140, 108, 13, 13);
    QTest::newRow("Command4") << "Command4" << QRect(64, 132, 37, 37);
    QTest::newRow("Shape5") << "Shape5" << QRect(76, 172, 13, 13);
    QTest::newRow("Label2") << "Label2" << QRect(16, 212, 129, 13);
    QTest::newRow("Combo1") << "Combo1" << QRect(16, 228, 129, 22);
    QTest::newRow("Command5") << "Command5" << QRect(16, 256, 53, 21);
    QTest::newRow("Label3") << "Label3" << QRect(100, 260, 21, 13);
    QTest::newRow("Shape1") << "Shape1" << QRect(132, 260, 13, 13);
}

void ConsoleLayoutTest::controlBoxes()
{
    QFETCH(QString, name);
    ConsoleFixture fixture;
    Form1 &console = fixture.console();
    auto *control = console.findChild<QWidget *>(name);
    QVERIFY(control);
    QTEST(control->geometry(), "box");
    // The client area below the menu bar is 2460 x 4380 twips.
    QCOMPARE(console.centralWidget()->size(), QSize(164, 292));
}

void ConsoleLayoutTest::textsAndTooltips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tip");
    QTest::newRow("Label1") << "Label1"
                            << "Shows the direction of the selected slew";
    QTest::newRow("Command1") << "Command1"
                              << "Slew telescope UP";
    QTest::newRow("Command2") << "Command2"
                              << "Slew telescope RIGHT";
    QTest::newRow("Command3") << "Command3"
                              << "Slew telescope LEFT";
    QTest::newRow("Command4") << "Command4"
                              << "Slew telescope DOWN";
    QTest::newRow("Combo1") << "Combo1"
                            << "Select Communication Port";
    QTest::newRow("Command5") << "Command5"
                              << "Try to find the Nightwell's USB Autoguide Adaptor";
    QTest::newRow("Label3") << "Label3"
                            << "Shows in green when Autoguide Adaptor is found and in red when not";
}

void ConsoleLayoutTest::textsAndTooltips()
{
    QFETCH(QString, name);
    ConsoleFixture fixture;
    auto *control = fixture.console().findChild<QWidget *>(name);
    QVERIFY(control);
    QTEST(control->toolTip(), "tip");
}

void ConsoleLayoutTest::fontsAndColours()
{
    ConsoleFixture fixture;
    Form1 &c = fixture.console();
    QCOMPARE(c.windowTitle(), QStringLiteral("Voruna 1.1"));
    QCOMPARE(c.Label2->text(), QStringLiteral("Select Communication Port"));
    QCOMPARE(c.Label3->text(), QStringLiteral("Link:"));
    QCOMPARE(c.Command5->text(), QStringLiteral("Connect"));
    for (QWidget *w : std::initializer_list<QWidget *>{c.Label2, c.Label3, c.Combo1, c.Command5}) {
        QCOMPARE(w->font().family(), QStringLiteral("Arial"));
        QCOMPARE(w->font().pointSizeF(), 8.25);
        QVERIFY(!w->font().bold());
    }
    QCOMPARE(c.Label1->font().pointSizeF(), 15.75);
    QVERIFY(c.Label1->font().bold());
    QVERIFY(c.Label1->alignment() & Qt::AlignHCenter);
    // 12583104 has red in its low byte: red 192, blue 192, a purple.
    QCOMPARE(c.Label1->palette().color(QPalette::WindowText), QColor(192, 0, 192));
    for (SlewButton *b : {c.Command1, c.Command2, c.Command3, c.Command4}) {
        QVERIFY2(!b->icon().isNull(), qPrintable(b->objectName()));
        QVERIFY(b->icon().availableSizes().contains(QSize(32, 32)));
        QVERIFY(b->text().isEmpty());
    }
    QVERIFY(!c.windowIcon().isNull());
}

void ConsoleLayoutTest::stateAtLoad()
{
    ConsoleFixture fixture;
    Form1 &c = fixture.console();
    QVERIFY(c.Label1->text().isEmpty());
    for (Lamp *lamp : {c.Shape2, c.Shape3, c.Shape4, c.Shape5})
        QCOMPARE(lampColor(lamp), QColor(128, 128, 128));
    QCOMPARE(lampColor(c.Shape1), QColor(0, 0, 0));
    QVERIFY(voruna::test::padEnabled(c));
    QCOMPARE(c.Combo1->count(), 0);
    QCOMPARE(c.Combo1->currentText(), QStringLiteral("Combo1"));
    QVERIFY(c.Combo1->isEditable());
    QVERIFY(!c.MSComm1.portOpen());
}

void ConsoleLayoutTest::tabOrder()
{
    ConsoleFixture fixture;
    Form1 &c = fixture.console();
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    c.activateWindow();
    c.Command1->setFocus();
    const QList<QWidget *> expected{c.Command2, c.Command3, c.Command4, c.Combo1, c.Command5};
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    for (QWidget *label : std::initializer_list<QWidget *>{c.Label1, c.Label2, c.Label3, c.Shape1})
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
}

void ConsoleLayoutTest::menus()
{
    ConsoleFixture fixture;
    Form1 &c = fixture.console();
    const QList<QAction *> bar = c.menuBar()->actions();
    QCOMPARE(bar.size(), 3);
    QCOMPARE(bar[0]->text(), QStringLiteral("&File"));
    QCOMPARE(bar[0]->menu(), c.filenemu);
    QCOMPARE(bar[1], c.videomenu);
    QCOMPARE(bar[1]->text(), QStringLiteral("&Video"));
    QVERIFY(!bar[1]->menu());
    QCOMPARE(bar[2], c.aboutmenu);
    QCOMPARE(bar[2]->text(), QStringLiteral("&About..."));
    QVERIFY(!bar[2]->menu());
    const QList<QAction *> file = c.filenemu->actions();
    QCOMPARE(file.size(), 5);
    QCOMPARE(file[0]->text(), QStringLiteral("Save Settings"));
    QVERIFY(file[1]->isSeparator());
    QCOMPARE(file[2]->text(), QStringLiteral("Exit"));
    for (QAction *a : {c.savesettigsmenu, c.exitmenu, c.videomenu, c.aboutmenu}) {
        QVERIFY(a->shortcut().isEmpty());
        QVERIFY(a->isEnabled() && a->isVisible() && !a->isChecked());
    }
    // The night look comes after the layout's items.
    QVERIFY(file[3]->isSeparator());
    QCOMPARE(file[4], c.nightmenu);
    QCOMPARE(c.nightmenu->text(), QStringLiteral("Nig&ht mode"));
    QCOMPARE(c.nightmenu->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    QVERIFY(c.nightmenu->isCheckable() && !c.nightmenu->isChecked());
}

void ConsoleLayoutTest::portListEntries()
{
    ConsoleFixture fixture;
    fixture.load();
    QComboBox *list = fixture.console().Combo1;
    QCOMPARE(list->count(), 16);
    QCOMPARE(list->itemText(0), QStringLiteral("COM 1:"));
    QCOMPARE(list->itemText(8), QStringLiteral("COM 9:"));
    QCOMPARE(list->itemText(15), QStringLiteral("COM 16:"));
    QCOMPARE(list->currentIndex(), -1);
}

QTEST_MAIN(ConsoleLayoutTest)
#include "shell_console_layout.moc"
