#include "link/qtserialcontrol.h"
#include "shell/messageboxes.h"
#include "shell/windowflow.h"
#include "sky/skycamera.h"
#include "video/capturedevice.h"
#include "video/indi/indicamera.h"
#include "video/v4l2/v4l2device.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Voruna"));
    QApplication::setApplicationVersion(QStringLiteral(VORUNA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("voruna"));
    // The console's start-up messages show while no window is on screen; only "Exit" ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    voruna::QtSerialControl serial;
    voruna::ScreenMessageBoxes messages;
    // The cameras of this computer, then the sky simulator, listed while an adaptor simulator
    // runs.
    std::vector<std::unique_ptr<voruna::DriverSource>> sources;
    sources.push_back(std::make_unique<voruna::V4l2DriverSource>(voruna::makeKernelSyscalls()));
    sources.push_back(std::make_unique<voruna::SkyDriverSource>());
    // The cameras of INDI servers: this computer's and those of the servers file.
    sources.push_back(std::make_unique<voruna::IndiDriverSource>());
    const std::unique_ptr<voruna::CaptureLayer> capture = voruna::makeCaptureLayer(std::move(sources));
    voruna::WindowFlow windows(serial, messages, *capture);
    // exit(), not quit(): quit() first asks every window to close, and a window that only hides
    // (or is unloaded by its owner instead) would cancel the end of the program.
    QObject::connect(&windows, &voruna::WindowFlow::ended, &app, [] { QCoreApplication::exit(0); });
    windows.start();
    return app.exec();
}
