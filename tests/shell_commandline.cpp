// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/commandline.h"

#include <QTest>

using namespace voruna;
using Outcome = ProgramCommand::Outcome;

class CommandLineTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void arguments_data();
    void arguments();
};

// before: the whole command line, read before the toolkit starts; left: what the toolkit left
// of it. text: a piece of what is printed ("" for nothing).
void CommandLineTest::arguments_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QStringList{} << QStringList{} << int(Outcome::Run) << "";
    QTest::newRow("help") << QStringList{"--help"} << QStringList{} << int(Outcome::Help)
                          << "Usage: voruna [--help] [--version]";
    QTest::newRow("version") << QStringList{"--version"} << QStringList{}
                             << int(Outcome::Version) << "voruna " VORUNA_VERSION "\n";
    QTest::newRow("after the toolkit's options")
        << QStringList{"-platform", "offscreen", "--help"} << QStringList{} << int(Outcome::Help)
        << "Usage:";
    QTest::newRow("unknown option") << QStringList{"--port", "3"} << QStringList{"--port", "3"}
                                    << int(Outcome::Error) << "unknown argument \"--port\"";
    QTest::newRow("a file name") << QStringList{"VRdata.nwx"} << QStringList{"VRdata.nwx"}
                                 << int(Outcome::Error) << "\n\nUsage: voruna";
}

void CommandLineTest::arguments()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, left);
    QFETCH(int, outcome);
    QFETCH(QString, text);
    ProgramCommand command = readProgramArguments(before);
    if (command.outcome == Outcome::Run)
        command = readLeftoverArguments(left);
    QCOMPARE(int(command.outcome), outcome);
    QVERIFY2(command.text.contains(text), qPrintable(command.text));
    QCOMPARE(command.text.isEmpty(), text.isEmpty());
}

QTEST_APPLESS_MAIN(CommandLineTest)
#include "shell_commandline.moc"
