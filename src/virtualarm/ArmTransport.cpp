#include "ArmTransport.h"

#include "RealHidTransport.h"
#include "RealKitTransport.h"

bool ArmTransport::make(bool virtualArm, const QString &logPath, QString *error)
{
    return make(virtualArm ? Virtual::Hid : Virtual::None, logPath, error);
}

bool ArmTransport::make(Virtual which, const QString &logPath, QString *error, const KitReversed &wiring)
{
    log.reset();
    arm.reset();
    kits.reset();
    transport.reset();
    if (which == Virtual::None) {
        transport = std::make_unique<RealHidTransport>();
        kits = std::make_unique<RealKitTransport>();
        return true;
    }
    // The virtual arm is the only arm: the other kind's transport is there, with nothing in it.
    auto virtualTransport = std::make_unique<VirtualHidTransport>();
    auto virtualKits = std::make_unique<VirtualKitTransport>();
    if (which == Virtual::Kit)
        arm = std::make_unique<VirtualArm>(*virtualKits, wiring);
    else
        arm = std::make_unique<VirtualArm>(*virtualTransport);
    transport = std::move(virtualTransport);
    kits = std::move(virtualKits);
    if (!logPath.isEmpty()) {
        log = std::make_unique<VirtualArmLog>(*arm);
        if (!log->open(logPath, error))
            return false;
    }
    return true;
}

bool ArmTransport::parseKind(const QString &text, Virtual *which)
{
    if (text.compare(QLatin1String("hid"), Qt::CaseInsensitive) == 0) {
        *which = Virtual::Hid;
        return true;
    }
    if (text.compare(QLatin1String("kit"), Qt::CaseInsensitive) == 0) {
        *which = Virtual::Kit;
        return true;
    }
    return false;
}
