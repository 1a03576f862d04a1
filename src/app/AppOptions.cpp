#include "AppOptions.h"

AppOptions AppOptions::parse(const QStringList &arguments)
{
    AppOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        // Both "--name VALUE" and "--name=VALUE" take a value.
        auto takeValue = [&](const QString &name, QString &into) {
            if (argument.startsWith(name + u'=')) {
                into = argument.mid(name.size() + 1);
            } else if (i + 1 < arguments.size()) {
                into = arguments.at(++i);
            } else {
                options.error = QStringLiteral("%1 needs a value").arg(name);
                return;
            }
            if (into.isEmpty())
                options.error = QStringLiteral("%1 needs a value").arg(name);
        };

        if (argument == u"--virtual-arm") {
            options.virtualArm = true;
        } else if (argument == u"--virtual-arm-log" || argument.startsWith(u"--virtual-arm-log=")) {
            takeValue(QStringLiteral("--virtual-arm-log"), options.virtualArmLog);
        } else if (argument == u"--help" || argument == u"-h") {
            options.help = true;
        } else if (argument == u"--version") {
            options.version = true;
        } else if (argument == u"--startup-probe") {
            options.startupProbe = true;
        } else if (argument == u"--screenshot" || argument.startsWith(u"--screenshot=")) {
            takeValue(QStringLiteral("--screenshot"), options.screenshotPath);
        } else {
            options.error = QStringLiteral("unknown option: %1").arg(argument);
        }
        if (!options.error.isEmpty())
            return options;
    }
    // The log records what the virtual arm receives; without one there is nothing to record.
    if (!options.virtualArmLog.isEmpty() && !options.virtualArm)
        options.error = QStringLiteral("--virtual-arm-log needs --virtual-arm");
    return options;
}

QString AppOptions::usage()
{
    return QStringLiteral(
        "Usage: tessaro [--virtual-arm] [--virtual-arm-log PATH] [--help] [--version]\n"
        "\n"
        "Drives a five-motor USB robotic arm.\n"
        "\n"
        "  --virtual-arm            work with a simulated arm instead of the USB device\n"
        "  --virtual-arm-log PATH   append one line per command the simulated arm receives to PATH\n"
        "  --help                   show this text and exit\n"
        "  --version                show the version and exit\n");
}
