#include "CliArms.h"
#include "CliOwner.h"
#include "CliCommands.h"
#include "CliCommon.h"

#include "ArmSession.h"
#include "GuardLink.h"
#include "ProcessClock.h"

#include <QTextStream>

namespace {

// How long the kits are given to take the command before they count as stalled: their write bound.
constexpr int TakeMs = 250;

const QString Usage =
    QStringLiteral("Usage: tessaro-cli light on|off [--virtual-arm[=hid|kit]] [--virtual-arm-log PATH]\n");

void printUsage(QTextStream &out)
{
    out << Usage
        << "\n"
           "Switches the light in the gripper of every arm with the USB interface kit (1267:0000 or\n"
           "1267:0001) on or off. The kit takes the light and the motors in one command, so its motors\n"
           "are stopped with it. The HID board has no light. While another program serves the arm (the\n"
           "window, or tessaro-cli serve), the light is switched through it.\n"
           "\n"
           "Options:\n"
           "  --virtual-arm[=KIND]   use the built-in virtual arm instead of the USB devices, posing as\n"
           "                         the HID board (KIND hid, the default) or the interface kit (kit)\n"
           "  --virtual-arm-log PATH append one line per command the virtual arm receives; implies\n"
           "                         --virtual-arm=kit\n"
           "  -h, --help             show this help and exit\n"
           "\n"
           "Exit status:\n"
           "  0   the light was switched on every kit\n"
           "  1   the log could not be opened\n"
           "  3   no interface kit found, or none that can be opened\n"
           "  5   the command did not reach a kit\n"
           "  6   a kit did not take the command: switch the arm off or unplug it\n"
           "  7   the arm is served by another program, and another client of it drives the arm\n"
           "  64  usage\n";
}

} // namespace

int cliLight(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CliArguments parsed(args, {{"--virtual-arm", false, true}, {"--virtual-arm-log", true}}, 1);
    if (!parsed.error.isEmpty())
        return cliUsageError(parsed.error, Usage);
    if (parsed.help) {
        printUsage(out);
        return CliExit::Ok;
    }
    // Any case: "ON" is on.
    const QString state = parsed.operands.value(0).toLower();
    if (state != QLatin1String("on") && state != QLatin1String("off"))
        return cliUsageError(QStringLiteral("light takes on or off"), Usage);
    const bool on = state == QLatin1String("on");
    ArmTransport::Virtual virtualArm = ArmTransport::Virtual::None;
    QString logPath;
    QString why;
    if (!virtualArmOptions(parsed, ArmTransport::Virtual::Kit, &virtualArm, &logPath, &why))
        return cliUsageError(why, Usage);

    if (virtualArm == ArmTransport::Virtual::None) {
        if (const std::unique_ptr<ServiceClient> owner = cliOwner())
            return cliLightThroughOwner(*owner, on, out, err);
    }

    CliArmSetup setup;
    if (!setup.make(virtualArm, logPath, err))
        return CliExit::Failed;
    KitArmList &kits = *setup.kits;
    // Through the session, as every command to an arm: the way out sends the motors a stop with the
    // light. The kit keeps whatever it was last given: should this program die half-way, the guard
    // stops it. A virtual kit dies with the program, unless its log stands for it.
    ArmSession session(setup.arms.transport.get());
    session.setKits(&kits);
    session.setGuard(!setup.arms.arm || !logPath.isEmpty(), logPath);
    session.start(false);
    warnWithoutGuard(session, err);
    // Nothing is sent at the end: the light stays as it is set (or nothing was sent at all).
    const auto finish = [&session](bool dismissGuard) {
        if (dismissGuard && session.guard())
            session.guard()->dismiss();
        session.shutDown(false);
    };
    if (kits.armCount() == 0) {
        err << "tessaro-cli: no interface kit found (" << KitIdentity << "); the HID board has no light";
        if (virtualArm == ArmTransport::Virtual::Hid)
            err << "; --virtual-arm=kit makes the virtual arm an interface kit";
        for (const KitArmList::OpenFailure &f : kits.openFailures()) {
            err << "; " << f.info.path << " cannot be opened: " << f.reason;
            if (f.kind == DeviceOpenFailure::PermissionDenied)
                err << " (" << PermissionHint << ")";
        }
        err << "\n";
        finish(true);
        return CliExit::NoArm;
    }
    const QList<KitDeviceInfo> lit = kits.arms();
    why.clear();
    const bool sent = session.setLight(on, &why);
    const bool taken = kits.drain(ProcessClock::monotonicNs() + qint64(TakeMs) * 1'000'000);
    // The light stays as it was set: the guard has nothing to do.
    finish(sent && taken);
    if (!sent) {
        err << "tessaro-cli: " << (why.isEmpty() ? QStringLiteral("the interface kit was disconnected") : why)
            << "\n";
        return CliExit::Refused;
    }
    if (!taken) {
        err << "tessaro-cli: the interface kit did not take the command within " << TakeMs
            << " ms. Switch the arm off or unplug it.\n";
        return CliExit::ArmStalled;
    }
    for (const KitDeviceInfo &info : lit)
        out << "light " << state << ": " << info.path << " (" << info.describe() << ")\n";
    return CliExit::Ok;
}
