#pragma once

#include "ControlOptions.h"

#include "ArmTransport.h"
#include "KitArmList.h"

#include <QString>
#include <QTextStream>

#include <memory>

class ArmSession;
class QObject;
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

// The arms a command reaches: the transports (ArmTransport, real or with the virtual arm asked for)
// and the interface kits' list, their motors turned as TESSARO.INI says.
struct CliArmSetup
{
    ArmTransport arms;
    std::unique_ptr<KitArmList> kits;

    // False, with the reason said on err, when the transports cannot be made (a log that cannot be
    // opened).
    bool make(ArmTransport::Virtual which, const QString &logPath, QTextStream &err);
    // With the virtual arm, makes it refuse the failWrite-th command written to it and the failCount-1
    // after it (--virtual-arm-fail-write), counted at its transport so that the refused command is the
    // one the arm would have had K-th. Nothing without a virtual arm or with failWrite 0; context ends
    // the counting when it goes.
    void failVirtualWrites(int failWrite, int failCount, QObject *context);
};

// Says on err that the guard could not be started, when it could not: the arms then keep the last
// command they were given should the program die.
void warnWithoutGuard(const ArmSession &session, QTextStream &err);
void warnWithoutGuard(const QString &guardError, QTextStream &err);

// One kit, as `devices` and the error messages show it: the node, then its identifiers.
void printKit(QTextStream &out, const KitDeviceInfo &info);

// The hint for a kit or HID arm the system will not let the program open.
inline constexpr char PermissionHint[] =
    "no permission to use the device: install the udev rule 70-tessaro.rules and plug the arm in again";
