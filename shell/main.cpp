// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/qtserialcontrol.h"
#include "look/nightlook.h"
#include "settings/displayfile.h"
#include "shell/commandline.h"
#include "shell/exitsignals.h"
#include "shell/messageboxes.h"
#include "shell/platformchoice.h"
#include "shell/windowflow.h"
#include "video/capture/capturedevice.h"
#include "video/drivers/sky/skycamera.h"
#ifdef VORUNA_WITH_INDI
#include "video/drivers/indi/indiservers.h"
#endif
#include "video/drivers/v4l2/v4l2device.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

voruna::WindowFlow *g_windows = nullptr;

// The toolkit ends the process with exit() when the display connection breaks, past every
// window's destruction: a slew still held is stopped on the way out all the same.
void releaseHeldSlewAtExit()
{
    if (g_windows)
        g_windows->releaseHeldSlew();
}

// Prints the answer to --help or --version; false when there is none and the program runs.
// Called before the toolkit starts: these need no display.
bool answeredBeforeStart(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const voruna::ProgramCommand asked = voruna::readProgramArguments(arguments);
    if (asked.outcome == voruna::ProgramCommand::Outcome::Run)
        return false;
    std::fputs(asked.text.toLocal8Bit().constData(), stdout);
    return true;
}

// Says what is wrong with the arguments the toolkit left; false when it left none.
bool refusedLeftovers()
{
    const voruna::ProgramCommand left =
        voruna::readLeftoverArguments(QCoreApplication::arguments().mid(1));
    if (left.outcome != voruna::ProgramCommand::Outcome::Error)
        return false;
    std::fputs(left.text.toLocal8Bit().constData(), stderr);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (answeredBeforeStart(argc, argv))
        return 0;
    voruna::choosePlatformFromEnvironment();
    QApplication app(argc, argv);
    if (refusedLeftovers())
        return 2;
    QApplication::setApplicationName(QStringLiteral("Voruna"));
    QApplication::setApplicationVersion(QStringLiteral(VORUNA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.voruna.Voruna"));
    // The console's start-up messages show while no window is on screen; only "Exit" ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    // The look the user left the program in, from the splash on.
    voruna::setNightLook(voruna::readNightLook());

    voruna::QtSerialControl serial;
    voruna::ScreenMessageBoxes messages;
    // The cameras of this computer, then the sky simulator, listed while an adaptor simulator
    // runs.
    std::vector<std::unique_ptr<voruna::DriverSource>> sources;
    sources.push_back(std::make_unique<voruna::V4l2DriverSource>(voruna::makeKernelSyscalls()));
    sources.push_back(std::make_unique<voruna::SkyDriverSource>());
#ifdef VORUNA_WITH_INDI
    // The cameras of INDI servers: this computer's and those of the servers file.
    sources.push_back(std::make_unique<voruna::IndiDriverSource>());
#endif
    const std::unique_ptr<voruna::CaptureLayer> capture =
        voruna::makeCaptureLayer(std::move(sources));
    voruna::WindowFlow windows(serial, messages, *capture);
    // exit(), not quit(): quit() first asks every window to close, and a window that only hides
    // (or is unloaded by its owner instead) would cancel the end of the program.
    QObject::connect(&windows, &voruna::WindowFlow::ended, &app, [] { QCoreApplication::exit(0); });
    // Logout, shutdown or kill end the program as "Exit" does. The signal may arrive while a
    // handler waits in a message box: the held slew stops now, and the windows are unloaded
    // once every event loop has returned, below.
    voruna::ExitSignals exitSignals;
    QObject::connect(&exitSignals, &voruna::ExitSignals::requested, &windows, [&windows] {
        windows.releaseHeldSlew();
        QCoreApplication::exit(0);
    });
    g_windows = &windows;
    std::atexit(releaseHeldSlewAtExit);

    windows.start();
    const int status = app.exec();
    // However the event loop ended, the windows go as on "Exit": video unload, then the console.
    windows.unloadAll();
    g_windows = nullptr;
    return status;
}
