#include "CliCommon.h"

#include <QTextStream>

CliArguments::CliArguments(const QStringList &args, std::initializer_list<Option> options, int maxOperands)
{
    bool operandsOnly = false;
    for (int i = 0; i < args.size() && error.isEmpty(); ++i) {
        const QString &a = args.at(i);
        if (operandsOnly || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            if (operands.size() >= maxOperands)
                error = QStringLiteral("unexpected argument '%1'").arg(a);
            else
                operands << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            operandsOnly = true;
            continue;
        }
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            help = true;
            continue;
        }
        const qsizetype equals = a.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? a : a.left(equals);
        const Option *option = nullptr;
        for (const Option &o : options) {
            if (name == QLatin1String(o.name))
                option = &o;
        }
        if (!option) {
            error = QStringLiteral("unknown option '%1'").arg(name);
        } else if (!option->takesValue) {
            if (equals >= 0 && !option->flagValue)
                error = QStringLiteral("option '%1' takes no value").arg(name);
            else
                m_values.insert(name, equals >= 0 ? a.mid(equals + 1) : QString());
        } else if (equals >= 0) {
            m_values.insert(name, a.mid(equals + 1));
        } else if (i + 1 < args.size()) {
            m_values.insert(name, args.at(++i));
        } else {
            error = QStringLiteral("option '%1' needs a value").arg(name);
        }
    }
}

int cliUsageError(const QString &message, const QString &usage)
{
    QTextStream err(stderr);
    err << "tessaro-cli: " << message << "\n" << usage << "Try 'tessaro-cli --help' for more.\n";
    return CliExit::Usage;
}

QString cliNoArmAdvice()
{
    return QStringLiteral(
        "no robotic arm found (USB 1e6f:1113 for the HID board, 1267:0000 or 1267:0001 for the\n"
        "interface kit). Check that:\n"
        "  - the arm's USB cable is plugged in at both ends (try another port or cable);\n"
        "  - the arm's power switch is on and its batteries are not flat;\n"
        "  - the udev rule 70-tessaro.rules is installed in /usr/lib/udev/rules.d (without it the arm\n"
        "    is found but cannot be opened); after installing it, unplug the arm and plug it in again.\n");
}
