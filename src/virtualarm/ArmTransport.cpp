#include "ArmTransport.h"

#include "RealHidTransport.h"

bool ArmTransport::make(bool virtualArm, const QString &logPath, QString *error)
{
    log.reset();
    arm.reset();
    transport.reset();
    if (!virtualArm) {
        transport = std::make_unique<RealHidTransport>();
        return true;
    }
    auto virtualTransport = std::make_unique<VirtualHidTransport>();
    arm = std::make_unique<VirtualArm>(*virtualTransport);
    transport = std::move(virtualTransport);
    if (!logPath.isEmpty()) {
        log = std::make_unique<VirtualArmLog>(*arm);
        if (!log->open(logPath, error))
            return false;
    }
    return true;
}
