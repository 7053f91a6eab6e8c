// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/commandline.h"

namespace voruna {

namespace {

const char kUsage[] = R"(Usage: voruna [--help] [--version]

The guide console of the USB Autoguide Adaptor, with the guide camera's window. The chosen
port is read from and saved to VRdata.nwx in the current directory; links comN in the ports
folder ($XDG_CONFIG_HOME/voruna/ports, by default ~/.config/voruna/ports) pin COM ports to
devices. The toolkit's own options (-platform, -display, -style, ...) are taken as well.

Options:
  --help     show this text
  --version  show the version
)";

} // namespace

ProgramCommand readProgramArguments(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--help"))
            return {ProgramCommand::Outcome::Help, QString::fromUtf8(kUsage)};
        if (argument == QLatin1String("--version"))
            return {ProgramCommand::Outcome::Version, QStringLiteral("voruna " VORUNA_VERSION "\n")};
    }
    return {};
}

ProgramCommand readLeftoverArguments(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return {};
    return {ProgramCommand::Outcome::Error,
            QStringLiteral("voruna: unknown argument \"%1\"\n\n").arg(arguments.first())
                + QString::fromUtf8(kUsage)};
}

} // namespace voruna
