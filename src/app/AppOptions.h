#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The program's command line:
//   tessaro [--virtual-arm[=hid|kit]] [--virtual-arm-realistic[=SEED]] [--virtual-arm-log PATH] [--help]
//           [--version] [FILE.SRP]
// Two more options are for tooling and not listed in the help: --startup-probe prints the start-up time
// and memory and quits; --screenshot PATH saves a picture of the main window and quits.
struct AppOptions
{
    bool virtualArm = false;
    // A virtual arm with the faults of a real one, drawn from this seed (implies virtualArm).
    std::optional<quint32> virtualArmFaultSeed;
    // The virtual arm poses as the USB interface kit rather than the HID board (--virtual-arm=kit).
    bool virtualKit = false;
    QString virtualArmLog;
    bool help = false;
    bool version = false;
    bool startupProbe = false;
    QString screenshotPath;
    // A script to open at start, as a file manager passes it; empty for none.
    QString scriptFile;
    // Set when the command line cannot be used; says why.
    QString error;

    static constexpr quint32 DefaultFaultSeed = 1;

    // arguments[0] is the program name, as QCoreApplication::arguments() gives it.
    static AppOptions parse(const QStringList &arguments);
    static QString usage();
};
