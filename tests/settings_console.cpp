// SPDX-License-Identifier: GPL-3.0-or-later
// "Save Settings" from the console's menu: the bytes it writes, where it writes them, and what
// the user sees when it cannot.
#include "shell/form1.h"
#include "support/consolefixture.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QtTest>

using namespace voruna;
using voruna::test::ConsoleFixture;

class SettingsConsoleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void saveWritesTheSelection_data();
    void saveWritesTheSelection();
    void savedSelectionComesBack();
    void workingDirectoryDecides();
    void failedSaveIsReported();
};

void SettingsConsoleTest::saveWritesTheSelection_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("COM1") << 0 << QByteArray::fromHex("2030200D0A");
    QTest::newRow("COM12") << 11 << QByteArray::fromHex("203131200D0A");
    QTest::newRow("none") << -1 << QByteArray::fromHex("2D31200D0A");
}

void SettingsConsoleTest::saveWritesTheSelection()
{
    QFETCH(int, index);
    ConsoleFixture fixture;
    fixture.writeSettings(" 7 \r\nsomething older\r\n");
    fixture.load();
    Form1 &c = fixture.console();
    c.Combo1->setCurrentIndex(index);
    fixture.messages.shown.clear();
    c.savesettigsmenu->trigger();
    c.savesettigsmenu->trigger(); // twice: still one line
    QTEST(fixture.settingsBytes(), "bytes");
    QVERIFY(fixture.messages.shown.isEmpty()); // no confirmation
}

void SettingsConsoleTest::savedSelectionComesBack()
{
    QByteArray saved;
    {
        ConsoleFixture first;
        first.load();
        first.console().Combo1->setCurrentIndex(5);
        first.console().savesettigsmenu->trigger();
        saved = first.settingsBytes();
    }
    ConsoleFixture next;
    next.writeSettings(saved);
    next.load();
    QCOMPARE(next.console().Combo1->currentIndex(), 5);
}

void SettingsConsoleTest::workingDirectoryDecides()
{
    ConsoleFixture fixture;
    QTemporaryDir elsewhere;
    fixture.writeSettings(" 3 \r\n");
    fixture.load();
    QCOMPARE(fixture.console().Combo1->currentIndex(), 3);

    // The user moves on to another folder: the next save lands there, the first file stays.
    QDir::setCurrent(elsewhere.path());
    fixture.console().Combo1->setCurrentIndex(9);
    fixture.console().savesettigsmenu->trigger();
    QFile moved(elsewhere.filePath(QStringLiteral("VRdata.nwx")));
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), QByteArray(" 9 \r\n"));
    QCOMPARE(fixture.settingsBytes(), QByteArray(" 3 \r\n"));
    QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/VRdata.nwx")));
    QDir::setCurrent(fixture.workDir());
}

void SettingsConsoleTest::failedSaveIsReported()
{
    ConsoleFixture fixture;
    fixture.load();
    // Something that is not a file stands where the settings go.
    QVERIFY(QDir(fixture.workDir()).mkpath(QStringLiteral("VRdata.nwx/keep")));
    fixture.messages.shown.clear();
    fixture.console().Combo1->setCurrentIndex(2);
    fixture.console().savesettigsmenu->trigger();
    QCOMPARE(fixture.messages.texts(), QStringList{QStringLiteral("Settings could not be saved")});
    QCOMPARE(fixture.messages.shown[0].icon, MessageBoxes::Icon::Exclamation);
    QVERIFY(QFileInfo(fixture.settingsPath()).isDir());
    QCOMPARE(QDir(fixture.workDir()).entryList(QDir::Files | QDir::Hidden).size(),
             0); // no temporary left
}

QTEST_MAIN(SettingsConsoleTest)
#include "settings_console.moc"
