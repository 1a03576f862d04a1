#pragma once

#include "ControlOptions.h"

#include "ArmTransport.h"
#include "KitArmList.h"

#include <QString>
#include <QTextStream>

class ArmSession;
struct CliArguments;

// What the commands that reach arms share.

// The options --virtual-arm[=KIND], KIND hid (the default) or kit, and --virtual-arm-log PATH: which
// virtual arm is asked for (Virtual::None without either; a log alone asks for `byLog`) and where
// it logs. False, with error set, for any other KIND or a log option without a file name.
bool virtualArmOptions(const CliArguments &parsed, ArmTransport::Virtual byLog, ArmTransport::Virtual *which,
                       QString *logPath, QString *error);

// TESSARO.INI as the window keeps it: the calibrated travel times among the rest; lines that cannot be
// right are ignored, and said so in *warnings.
ControlOptions cliControlOptions(QStringList *warnings = nullptr);

// The motors of the interface kit that turn the other way, as TESSARO.INI (kept where the window
// keeps it) says.
KitReversed kitReversedFromOptions();

// Says on err that the guard could not be started, when it could not: the arms then keep the last
// command they were given should the program die.
void warnWithoutGuard(const ArmSession &session, QTextStream &err);
void warnWithoutGuard(const QString &guardError, QTextStream &err);

// One kit, as `devices` and the error messages show it: the node, then its identifiers.
void printKit(QTextStream &out, const KitDeviceInfo &info);

// The hint for a kit or HID arm the system will not let the program open.
inline constexpr char PermissionHint[] =
    "no permission to use the device: install the udev rule 70-tessaro.rules and plug the arm in again";
