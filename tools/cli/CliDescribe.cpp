#include "CliCommands.h"
#include "CliCommon.h"

#include "ArmTransport.h"
#include "DescriptorFile.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>

#include <unistd.h>

namespace {

const QString Usage = QStringLiteral("Usage: tessaro-cli describe FILE\n"
                                     "       tessaro-cli describe [--device PATH] [--virtual-arm]\n");

void printUsage(QTextStream &out)
{
    out << Usage
        << "\n"
           "Prints the reports and variables of a HID report descriptor as JSON: the one in FILE, or\n"
           "the one of an attached interface.\n"
           "FILE holds the descriptor as raw bytes, as hex text (\"05 01 09 02\" or \"0x05, 0x01\")\n"
           "or as a hid-recorder dump (the bytes of its R: line).\n"
           "Without FILE the descriptor is read from the interface at PATH (a /dev/hidraw node), or,\n"
           "without --device, from the first robotic arm found (USB 1e6f:1113).\n"
           "\n"
           "Options:\n"
           "  --device PATH   describe the interface at PATH\n"
           "  --virtual-arm   look among the built-in virtual devices instead of the USB devices\n"
           "                  (the arm is virtual/arm0)\n"
           "  -h, --help      show this help and exit\n"
           "\n"
           "Exit status:\n"
           "  0   described\n"
           "  1   the file or the device cannot be read, or the JSON not written\n"
           "  2   the descriptor is malformed (the byte offset and the fault are named)\n"
           "  3   no FILE, no --device, and no robotic arm found\n"
           "  5   the arm is there but its descriptor cannot be read (no permission)\n"
           "  64  usage\n";
}

// The descriptor of an attached interface: read without opening it where the system allows, else
// from an open connection. Empty, with the reason and status set, when it cannot be had.
QByteArray deviceDescriptor(HidTransport &transport, const HidInterfaceInfo &info, QString *error, int *status)
{
    QByteArray bytes = transport.peekReportDescriptor(info);
    if (!bytes.isEmpty())
        return bytes;
    HidTransport::OpenFailure failure = HidTransport::OpenFailure::None;
    QString why;
    const std::unique_ptr<HidConnection> connection = transport.open(info, &why, &failure);
    if (connection)
        bytes = connection->reportDescriptor();
    if (bytes.isEmpty()) {
        *error = QStringLiteral("cannot read the report descriptor of %1: %2")
                     .arg(info.path, why.isEmpty() ? QStringLiteral("the device gives none") : why);
        *status = failure == HidTransport::OpenFailure::PermissionDenied && isArm(info) ? CliExit::Refused
                                                                                        : CliExit::Failed;
    }
    return bytes;
}

} // namespace

int cliDescribe(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CliArguments parsed(args, {{"--device", true}, {"--virtual-arm", false}}, 1);
    if (!parsed.error.isEmpty())
        return cliUsageError(parsed.error, Usage);
    if (parsed.help) {
        printUsage(out);
        return CliExit::Ok;
    }
    const bool fromFile = !parsed.operands.isEmpty();
    if (fromFile && (parsed.has("--device") || parsed.has("--virtual-arm")))
        return cliUsageError(QStringLiteral("give a FILE or a device, not both"), Usage);
    if (parsed.has("--device") && parsed.value("--device").isEmpty())
        return cliUsageError(QStringLiteral("option '--device' needs a path"), Usage);

    QByteArray bytes;
    QString name;
    if (!fromFile) {
        ArmTransport hid;
        QString hidError;
        if (!hid.make(parsed.has("--virtual-arm"), QString(), &hidError)) {
            err << "tessaro-cli: " << hidError << "\n";
            return CliExit::Failed;
        }
        QList<HidInterfaceInfo> found = hid.transport->enumerate();
        std::sort(found.begin(), found.end(),
                  [](const HidInterfaceInfo &a, const HidInterfaceInfo &b) { return a.path < b.path; });
        HidInterfaceInfo target;
        if (parsed.has("--device")) {
            target.path = parsed.value("--device");
            for (const HidInterfaceInfo &info : found) {
                if (info.path == target.path)
                    target = info;
            }
        } else {
            const auto arm = std::find_if(found.cbegin(), found.cend(), isArm);
            if (arm == found.cend()) {
                err << "tessaro-cli: " << cliNoArmAdvice();
                return CliExit::NoArm;
            }
            target = *arm;
        }
        QString error;
        int status = CliExit::Ok;
        bytes = deviceDescriptor(*hid.transport, target, &error, &status);
        if (bytes.isEmpty()) {
            err << "tessaro-cli: " << error << "\n";
            return status;
        }
        name = target.path;
    }

    // Straight to standard output: the JSON of a large descriptor is far bigger than its layout.
    QFile json;
    if (!json.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        err << "tessaro-cli: cannot write to standard output\n";
        return CliExit::Failed;
    }
    const DescriptorFile::Description d = fromFile ? DescriptorFile::describe(parsed.operands.first(), json)
                                                   : DescriptorFile::describeBytes(bytes, name, json);
    if (d.exitStatus != 0) {
        err << "tessaro-cli: " << d.error << "\n";
        return d.exitStatus;
    }
    return CliExit::Ok;
}
