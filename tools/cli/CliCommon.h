#pragma once

#include "ArmUsbIds.h"
#include "HidTransport.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <initializer_list>

// The exit statuses of tessaro-cli, one meaning each across the commands.
namespace CliExit {
constexpr int Ok = 0;
constexpr int Failed = 1;         // HID access failed, a file could not be read, the output not written
constexpr int Malformed = 2;      // describe: the descriptor is malformed
constexpr int NoArm = 3;          // no robotic arm found
constexpr int ArmGone = 4;        // run: the arm was disconnected during the run
constexpr int Refused = 5;        // the arm is present but cannot be opened; run: a command did not reach it
constexpr int ArmStalled = 6;     // run: the arm stopped taking commands
constexpr int Served = 7;         // serve: another program serves the arm already
constexpr int Usage = 64;         // unknown command or option, missing or bad value
constexpr int EmptyScript = 65;   // run: not a script, no steps, or more than a script holds
constexpr int NoInput = 66;       // run: the script file cannot be read
constexpr int UnknownSteps = 67;  // run: a step is not a motion
constexpr int SignalBase = 128;   // run: stopped by a signal, 128 + its number
} // namespace CliExit

// A command's arguments: its options (each a flag or one taking a value, given as "--name VALUE" or
// "--name=VALUE"; a flag may take a value of its own as "--name=VALUE" only) and up to a number of
// operands. "-h" and "--help" are taken by every command.
struct CliArguments
{
    struct Option
    {
        const char *name;
        bool takesValue;
        bool flagValue = false; // a flag that may be given as "--name=VALUE" too
    };

    // Parses; on a fault error names what was wrong ("unknown option '--foo'").
    CliArguments(const QStringList &args, std::initializer_list<Option> options, int maxOperands);

    bool has(const char *name) const { return m_values.contains(QLatin1String(name)); }
    QString value(const char *name) const { return m_values.value(QLatin1String(name)); }

    QStringList operands;
    bool help = false;
    QString error;

private:
    QHash<QString, QString> m_values;
};

// Prints "tessaro-cli: MESSAGE" and the command's usage line to standard error; returns CliExit::Usage.
int cliUsageError(const QString &message, const QString &usage);

// Why no arm was found and what to check, for the commands that look for one.
QString cliNoArmAdvice();

// The interface kit's USB identity, as the messages name it.
inline constexpr char KitIdentity[] = "1267:0000 or 1267:0001";

// Whether the interface is the HID board's.
inline bool isArm(const HidInterfaceInfo &info)
{
    return ArmUsbIds::isHidBoard(info.vendorId, info.productId);
}
