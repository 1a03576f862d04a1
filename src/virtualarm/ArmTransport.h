#pragma once

#include "HidTransport.h"
#include "KitCommand.h"
#include "KitTransport.h"
#include "VirtualArm.h"
#include "VirtualArmLog.h"
#include "VirtualHidTransport.h"
#include "VirtualKitTransport.h"

#include <QString>

#include <memory>

// Where the programs get their arms from: the USB devices (HID arms and interface kits), or the
// built-in virtual arm posing as either kind (with an optional log of every command it receives).
// The members are declared so that the log and the arm go before the transports they hang on.
struct ArmTransport
{
    enum class Virtual { None, Hid, Kit };

    std::unique_ptr<HidTransport> transport;
    std::unique_ptr<KitTransport> kits;
    std::unique_ptr<VirtualArm> arm;
    std::unique_ptr<VirtualArmLog> log;

    // The real transports, or with virtualArm the virtual ones with the arm plugged in as the HID
    // board. A log path asks for the log; it fails (false, error set) when the file cannot be opened.
    bool make(bool virtualArm, const QString &logPath, QString *error);
    // The same, with the virtual arm of the kind asked for; a virtual kit's motors are wired as
    // `wiring` says (see VirtualArm).
    bool make(Virtual which, const QString &logPath, QString *error, const KitReversed &wiring = {});

    // The value of --virtual-arm=KIND: "hid" or "kit" (any case); false for anything else.
    static bool parseKind(const QString &text, Virtual *which);
};
