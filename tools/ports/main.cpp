// SPDX-License-Identifier: GPL-3.0-or-later
// voruna-ports: what each of COM 1 to COM 16 stands for on this machine right now.

#include "link/portmap.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QString entryText(const voruna::PortAssignment &a)
{
    if (a.device.isEmpty()) {
        if (a.stale)
            return QStringLiteral("\u2014none\u2014 (pinned to %1 by a simulator that is gone)")
                .arg(a.linkTarget);
        if (!a.link.isEmpty())
            return QStringLiteral("\u2014none\u2014 (pinned to %1, which is not there)")
                .arg(a.linkTarget);
        return QStringLiteral("\u2014none\u2014");
    }
    QString text = a.device;
    if (!a.link.isEmpty())
        text += QStringLiteral(" (pinned)");
    if (!a.description.isEmpty())
        text += QStringLiteral("  ") + a.description;
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("--version")}) {
        out << "voruna-ports " VORUNA_VERSION "\n";
        return 0;
    }
    if (!arguments.isEmpty()) {
        const bool help = arguments == QStringList{QStringLiteral("--help")};
        QTextStream err(stderr);
        if (!help)
            err << "voruna-ports: unknown argument \"" << arguments.first() << "\"\n\n";
        (help ? out : err)
            << "Usage: voruna-ports\n\n"
               "Lists COM 1 to COM 16 with the device each one opens now. A link comN in the\n"
               "ports folder pins port N; the other ports are the serial ports of the system,\n"
               "USB adaptors first. A link to a pseudo-terminal that a simulator left behind\n"
               "when it was killed is no port.\n\n"
               "Options:\n"
               "  --help     show this text\n"
               "  --version  show the version\n";
        return help ? 0 : 2;
    }

    const QString folder = voruna::portsFolder();
    const QList<voruna::PortCandidate> system = voruna::systemPorts();
    out << "Ports folder: " << folder << "\n";
    for (int n = 1; n <= voruna::kPortCount; ++n) {
        const QString label = QStringLiteral("COM %1:").arg(n);
        out << label.leftJustified(8) << entryText(voruna::assignPort(n, folder, system)) << "\n";
    }
    return 0;
}
