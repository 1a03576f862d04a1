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

        auto takeScript = [&](const QString &path) {
            if (!options.scriptFile.isEmpty())
                options.error = QStringLiteral("only one script can be opened");
            else if (path.isEmpty())
                options.error = QStringLiteral("the script file name is empty");
            else
                options.scriptFile = path;
        };

        if (argument == u"--virtual-arm") {
            options.virtualArm = true;
        } else if (argument == u"--virtual-arm-realistic" || argument.startsWith(u"--virtual-arm-realistic=")) {
            // The seed only as "=SEED": a word after the option is the script to open.
            bool ok = true;
            const qsizetype equals = argument.indexOf(u'=');
            const quint32 seed = equals < 0 ? DefaultFaultSeed : argument.mid(equals + 1).toUInt(&ok);
            if (!ok)
                options.error = QStringLiteral("--virtual-arm-realistic takes a whole number from 0 to 4294967295");
            options.virtualArm = true;
            options.virtualArmFaultSeed = seed;
        } else if (argument.startsWith(u"--virtual-arm=")) {
            const QString kind = argument.mid(14).toLower();
            options.virtualArm = true;
            options.virtualKit = kind == u"kit";
            if (kind != u"hid" && kind != u"kit")
                options.error = QStringLiteral("--virtual-arm poses as hid or kit, not '%1'").arg(argument.mid(14));
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
        } else if (argument == u"--") {
            // Whatever follows is a file name, even one that starts with a dash.
            if (i + 1 < arguments.size())
                takeScript(arguments.at(++i));
            if (i + 1 < arguments.size())
                options.error = QStringLiteral("only one script can be opened");
        } else if (argument.startsWith(u'-') && argument.size() > 1) {
            options.error = QStringLiteral("unknown option: %1").arg(argument);
        } else {
            takeScript(argument);
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
        "Usage: tessaro [--virtual-arm[=hid|kit]] [--virtual-arm-realistic[=SEED]] [--virtual-arm-log PATH]\n"
        "               [FILE.SRP]\n"
        "\n"
        "Drives a five-motor USB robotic arm: motion buttons for each joint, and timed motion scripts\n"
        "that are recorded, edited, saved and played back. FILE.SRP, when given, is opened at start as\n"
        "Load opens a script.\n"
        "\n"
        "  --virtual-arm[=KIND]     work with a simulated arm instead of the USB device, posing as the\n"
        "                           HID board (hid, the default) or the USB interface kit (kit)\n"
        "  --virtual-arm-realistic[=SEED]\n"
        "                           a simulated arm with the faults of a real one, drawn from SEED\n"
        "                           (default 1): speeds off the table, batteries running down, play in\n"
        "                           the gears, give at the end stops\n"
        "  --virtual-arm-log PATH   append one line per command the simulated arm receives to PATH\n"
        "  --help                   show this text and exit\n"
        "  --version                show the version and exit\n"
        "\n"
        "Without a --virtual-arm option, TESSARO_VIRTUAL_ARM (hid, kit or realistic[:SEED]) and\n"
        "TESSARO_VIRTUAL_ARM_LOG (a path) ask for the simulated arm.\n");
}
