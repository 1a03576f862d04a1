#pragma once

#include "HidTransport.h"
#include "VirtualArm.h"
#include "VirtualArmLog.h"
#include "VirtualHidTransport.h"

#include <QString>

#include <memory>

// Where the programs get their interfaces from: the USB devices, or the built-in virtual arm (with an
// optional log of every report it receives). The members are declared so that the log and the arm go
// before the transport they hang on.
struct ArmTransport
{
    std::unique_ptr<HidTransport> transport;
    std::unique_ptr<VirtualArm> arm;
    std::unique_ptr<VirtualArmLog> log;

    // The real transport, or with virtualArm the virtual one with the arm plugged in. A log path asks
    // for the log; it fails (false, error set) when the file cannot be opened.
    bool make(bool virtualArm, const QString &logPath, QString *error);
};
