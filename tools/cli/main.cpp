#include "CliCommands.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

namespace {

void printUsage(QTextStream &out)
{
    out << "Usage: tessaro-cli COMMAND [OPTIONS]\n"
           "\n"
           "Commands:\n"
           "  describe FILE        print the layout of a HID report descriptor as JSON\n"
           "  devices [--all]      list the arm's HID interfaces (every HID interface with --all)\n"
           "  gamepad [--for S]    print, live, the motion the attached gamepad would drive (for S seconds)\n"
           "  run FILE.SRP         play a script on the arm\n"
           "\n"
           "Options:\n"
           "  --virtual-arm          use the built-in virtual arm instead of real hardware\n"
           "  --virtual-arm-log PATH append one line per report the virtual arm receives\n"
           "  -h, --help             show this help and exit\n"
           "  --version              show the version and exit\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaro-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));

    QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);
    QTextStream err(stderr);

    if (args.isEmpty()) {
        printUsage(err);
        return 64;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("-h") || command == QLatin1String("--help") || command == QLatin1String("help")) {
        printUsage(out);
        return 0;
    }
    if (command == QLatin1String("--version")) {
        out << "tessaro-cli " << TESSARO_VERSION << "\n";
        return 0;
    }
    if (command == QLatin1String("describe"))
        return cliDescribe(args);
    if (command == QLatin1String("devices"))
        return cliDevices(args);
    if (command == QLatin1String("gamepad"))
        return cliGamepad(args);
    if (command == QLatin1String("run"))
        return cliRun(args);

    err << "tessaro-cli: unknown command '" << command << "'\n";
    printUsage(err);
    return 64;
}
