#include "CliCommands.h"
#include "CliCommon.h"

#include "ArmSession.h"
#include "ArmTransport.h"
#include "CliArms.h"
#include "CliOwner.h"
#include "HIDagentX.h"
#include "HidError.h"

#include <QTextStream>

#include <memory>

namespace {

QString hex4(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

void printInterface(QTextStream &out, const HidInterfaceInfo &info)
{
    out << info.path << "\n";
    out << "  "
        // As lsusb writes it, and as the interface kits' lines do.
        << QStringLiteral("USB %1:%2")
               .arg(info.vendorId, 4, 16, QLatin1Char('0'))
               .arg(info.productId, 4, 16, QLatin1Char('0'))
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

const QString Usage =
    QStringLiteral("Usage: tessaro-cli devices [--all] [--virtual-arm[=hid|kit]] [--virtual-arm-log PATH]\n");

void printUsage(QTextStream &out)
{
    out << Usage
        << "\n"
           "Lists the robotic arms attached. An arm with the HID board (USB 1e6f:1113): its HID\n"
           "interfaces that can be opened, with their identifiers, product string and report variables.\n"
           "An arm with the USB interface kit (1267:0000 or 1267:0001): its node, bus and address, and\n"
           "whether it can be opened (nothing is sent to it). Arms that are present but cannot be opened\n"
           "are listed with the reason. While another program serves the arm (the window, or\n"
           "tessaro-cli serve), it is asked which arms it has open, and nothing is opened (--all too).\n"
           "\n"
           "Options:\n"
           "  --all                  list every HID interface, not only the arm's\n"
           "  --virtual-arm[=KIND]   list the built-in virtual arm instead of the USB devices, posing as\n"
           "                         the HID board (KIND hid, the default) or the interface kit (kit)\n"
           "  --virtual-arm-log PATH append one line per report the virtual arm receives; implies\n"
           "                         --virtual-arm\n"
           "  -h, --help             show this help and exit\n"
           "\n"
           "Exit status:\n"
           "  0   an arm is there and listed (with --all: and every other interface)\n"
           "  1   HID access failed\n"
           "  3   no robotic arm found (also with --all): check its cable, its power switch and\n"
           "      the udev rule\n"
           "  5   an arm is there but none can be opened\n"
           "  64  usage\n";
}

} // namespace

int cliDevices(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CliArguments parsed(
        args, {{"--all", false}, {"--virtual-arm", false, true}, {"--virtual-arm-log", true}}, 0);
    if (!parsed.error.isEmpty())
        return cliUsageError(parsed.error, Usage);
    if (parsed.help) {
        printUsage(out);
        return CliExit::Ok;
    }
    const bool all = parsed.has("--all");
    ArmTransport::Virtual virtualArm = ArmTransport::Virtual::None;
    QString logPath;
    QString why;
    if (!virtualArmOptions(parsed, ArmTransport::Virtual::Hid, &virtualArm, &logPath, &why))
        return cliUsageError(why, Usage);

    // The arms are another program's: it says which it has open, and nothing is opened beside it.
    if (virtualArm == ArmTransport::Virtual::None) {
        if (const std::unique_ptr<ServiceClient> owner = cliOwner())
            return cliDevicesThroughOwner(*owner, out, err);
    }

    ArmTransport hid;
    QString hidError;
    if (!hid.make(virtualArm, logPath, &hidError)) {
        err << "tessaro-cli: " << hidError << "\n";
        return CliExit::Failed;
    }

    // The session's component, searching for the arm, or for every interface with --all.
    ArmSession session(hid.transport.get());
    HIDagentX &agent = session.agent();
    agent.SetShowOperations(false);
    agent.SetVerbose(false);
    if (!all) {
        agent.SetVID_To_Match(ArmUsbIds::HidVendorId);
        agent.SetPID_To_Match(ArmUsbIds::HidProductId);
        agent.SetSearchOnPID(true);
        agent.SetSearchOnVID(true);
    }
    bool armOpened = false;
    bool armRefused = false;
    bool printed = false;
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
                out << "  " << PermissionHint << "\n";
        }
        if (all && agent.IntfCount() == 0 && failures.isEmpty())
            out << "No HID interfaces found.\n";
        printed = agent.IntfCount() > 0 || !failures.isEmpty() || all;
        agent.StopAgent();
    } catch (const HidError &e) {
        err << "tessaro-cli: " << e.source() << ": " << e.description() << "\n";
        return CliExit::Failed;
    }

    // The interface kits: each opened and let go again, nothing sent.
    KitArmList kits(*hid.kits);
    kits.start();
    const auto separate = [&] {
        if (printed)
            out << "\n";
        printed = true;
    };
    for (const KitDeviceInfo &info : kits.arms()) {
        separate();
        printKit(out, info);
        out << "  can be opened\n";
        armOpened = true;
    }
    for (const KitArmList::OpenFailure &f : kits.openFailures()) {
        separate();
        printKit(out, f.info);
        out << "  cannot be opened: " << f.reason << "\n";
        if (f.kind == HidTransport::OpenFailure::PermissionDenied)
            out << "  " << PermissionHint << "\n";
        armRefused = true;
    }
    kits.stop();
    if (armRefused && !armOpened) {
        err << "tessaro-cli: the robotic arm is present but cannot be opened\n";
        return CliExit::Refused;
    }
    if (!armOpened) {
        out.flush();
        err << "tessaro-cli: " << cliNoArmAdvice();
        return CliExit::NoArm;
    }
    return CliExit::Ok;
}
