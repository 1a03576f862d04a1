#include "CliCommands.h"

#include "DescriptorFile.h"

#include <QFile>
#include <QTextStream>

#include <unistd.h>

int cliDescribe(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out << "Usage: tessaro-cli describe FILE\n"
               "\n"
               "Prints the reports and variables of the HID report descriptor in FILE as JSON.\n"
               "FILE holds the descriptor as raw bytes, as hex text (\"05 01 09 02\" or \"0x05, 0x01\")\n"
               "or as a hid-recorder dump (the bytes of its R: line).\n"
               "\n"
               "Exit status: 0 success, 1 the file cannot be read (or the JSON not written),\n"
               "2 the descriptor is malformed.\n";
        return 0;
    }
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-'))) {
        err << "Usage: tessaro-cli describe FILE\n";
        return 64;
    }
    // Straight to standard output: the JSON of a large descriptor is far bigger than its layout.
    QFile json;
    if (!json.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        err << "tessaro-cli: cannot write to standard output\n";
        return 1;
    }
    const DescriptorFile::Description d = DescriptorFile::describe(args.first(), json);
    if (d.exitStatus != 0) {
        err << "tessaro-cli: " << d.error << "\n";
        return d.exitStatus;
    }
    return 0;
}
