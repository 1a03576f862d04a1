#include "CliCommands.h"

#include "ArmTransport.h"
#include "ArmSession.h"
#include "HIDagentX.h"
#include "HidError.h"

#include <QTextStream>

#include <memory>

namespace {

constexpr int ArmVendorId = 0x1E6F;
constexpr int ArmProductId = 0x1113;
constexpr int ExitArmRefused = 5;

bool isArm(const HidInterfaceInfo &info)
{
    return info.vendorId == ArmVendorId && info.productId == ArmProductId;
}

QString hex4(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

void printInterface(QTextStream &out, const HidInterfaceInfo &info)
{
    out << info.path << "\n";
    out << "  "
        << QStringLiteral("VID_%1&PID_%2")
               .arg(info.vendorId, 4, 16, QLatin1Char('0'))
               .arg(info.productId, 4, 16, QLatin1Char('0'))
               .toUpper()
        << "  release " << hex4(info.releaseNumber) << "  interface " << info.interfaceNumber << "\n";
    out << "  product: " << (info.product.isEmpty() ? QStringLiteral("-") : info.product)
        << "  manufacturer: " << (info.manufacturer.isEmpty() ? QStringLiteral("-") : info.manufacturer)
        << "  serial: " << (info.serialNumber.isEmpty() ? QStringLiteral("-") : info.serialNumber) << "\n";
}

void printVariables(QTextStream &out, const HidReportLayout &layout)
{
    out << "  variables: " << layout.variables.size() << "\n";
    for (const HidVariable &v : layout.variables) {
        out << "    " << hidReportTypeName(v.type).leftJustified(7) << " page " << hex4(v.usagePage)
            << " usage " << hex4(v.usage) << "  report " << v.reportId << "  bits " << v.bitOffset << "+"
            << v.bitSize;
        if (v.count > 1)
            out << "x" << v.count;
        out << "  logical " << v.logicalMin << ".." << v.logicalMax;
        if (v.flags.array)
            out << "  array";
        out << "\n";
    }
}

void printUsage(QTextStream &out)
{
    out << "Usage: tessaro-cli devices [--all] [--virtual-arm] [--virtual-arm-log PATH]\n"
           "\n"
           "Lists the HID interfaces of the robotic arm (VID_1E6F&PID_1113) that can be opened, with\n"
           "their identifiers, product string and report variables; --all lists every HID interface.\n"
           "Interfaces that are present but cannot be opened are listed with the reason.\n"
           "--virtual-arm lists the built-in virtual arm instead of real hardware.\n"
           "Exit status: 0 listed, 5 the arm is present but none of its interfaces can be opened,\n"
           "1 HID access failed, 64 usage.\n";
}

} // namespace

int cliDevices(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    bool all = false;
    bool virtualArm = false;
    QString logPath;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--all")) {
            all = true;
        } else if (a == QLatin1String("--virtual-arm")) {
            virtualArm = true;
        } else if (a == QLatin1String("--virtual-arm-log") && i + 1 < args.size()) {
            logPath = args.at(++i);
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            printUsage(out);
            return 0;
        } else {
            printUsage(err);
            return 64;
        }
    }

    ArmTransport hid;
    QString hidError;
    if (!hid.make(virtualArm || !logPath.isEmpty(), logPath, &hidError)) {
        err << "tessaro-cli: " << hidError << "\n";
        return 1;
    }

    // The session's component, searching for the arm, or for every interface with --all.
    ArmSession session(hid.transport.get());
    HIDagentX &agent = session.agent();
    agent.SetShowOperations(false);
    agent.SetVerbose(false);
    if (!all) {
        agent.SetVID_To_Match(ArmVendorId);
        agent.SetPID_To_Match(ArmProductId);
        agent.SetSearchOnPID(true);
        agent.SetSearchOnVID(true);
    }
    bool armOpened = false;
    bool armRefused = false;
    try {
        agent.StartAgent();
        agent.OpenMatchingIntfs();
        for (int i = 0; i < agent.IntfCount(); ++i) {
            agent.SelectIntf(i);
            if (i > 0)
                out << "\n";
            printInterface(out, agent.IntfInfo());
            printVariables(out, agent.IntfLayout());
            armOpened = armOpened || isArm(agent.IntfInfo());
        }
        const QList<HIDagentX::OpenFailure> failures = agent.LastOpenFailures();
        for (const HIDagentX::OpenFailure &f : failures) {
            out << "\n";
            printInterface(out, f.info);
            out << "  cannot be opened: " << f.reason << "\n";
            armRefused = armRefused || isArm(f.info);
            if (f.kind == HidTransport::OpenFailure::PermissionDenied)
                out << "  no permission to use the device: install the udev rule 70-tessaro.rules "
                       "and plug the arm in again\n";
        }
        if (agent.IntfCount() == 0 && failures.isEmpty())
            out << (all ? "No HID interfaces found.\n" : "No robotic arm found (VID_1E6F&PID_1113).\n");
        agent.StopAgent();
    } catch (const HidError &e) {
        err << "tessaro-cli: " << e.source() << ": " << e.description() << "\n";
        return 1;
    }
    if (armRefused && !armOpened) {
        err << "tessaro-cli: the robotic arm is present but cannot be opened\n";
        return ExitArmRefused;
    }
    return 0;
}
