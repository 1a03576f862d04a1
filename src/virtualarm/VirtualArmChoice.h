#pragma once

#include "ArmTransport.h"

#include <QString>

// Which virtual arm a front end was asked for when it was given no option for one: the environment's
// TESSARO_VIRTUAL_ARM (hid, kit, or realistic[:SEED], the HID board with a real arm's faults drawn
// from SEED) and TESSARO_VIRTUAL_ARM_LOG (the log's path; alone, it asks for the HID board).
struct VirtualArmChoice
{
    ArmTransport::Virtual kind = ArmTransport::Virtual::None;
    bool realistic = false;
    quint32 seed = 1;
    QString logPath;

    // False, with error naming the variable and its value, for a value it does not take.
    static bool fromEnvironment(VirtualArmChoice *choice, QString *error);
    static bool parse(const QString &arm, const QString &log, VirtualArmChoice *choice, QString *error);
};
