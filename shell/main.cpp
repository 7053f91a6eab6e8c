#include "link/qtserialcontrol.h"
#include "shell/form1.h"
#include "shell/messageboxes.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Voruna"));
    QApplication::setApplicationVersion(QStringLiteral("1.1"));

    voruna::QtSerialControl serial;
    voruna::ScreenMessageBoxes messages;
    voruna::Form1 console(serial, messages);
    QObject::connect(&console, &voruna::Form1::exitmenuClicked, &app, &QApplication::quit);
    QObject::connect(&console, &voruna::Form1::closeBoxUsed, &app, &QApplication::quit);
    console.Form1_Form_Load();
    console.show();
    return app.exec();
}
