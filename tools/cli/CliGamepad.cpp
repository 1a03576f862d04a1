#include "CliCommands.h"
#include "CliCommon.h"

#include "ArmTransport.h"
#include "ArmSession.h"
#include "Gamepad.h"
#include "StepFunctions.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

namespace {

const QString Usage = QStringLiteral("Usage: tessaro-cli gamepad [--for SECONDS] [--virtual-arm]\n");

void printUsage(QTextStream &out)
{
    out << Usage
        << "\n"
           "Follows the attached gamepad or joystick and prints, live, the arm motion it would drive\n"
           "(largest deflection beyond a 20% dead zone wins), and when its stop button is pressed.\n"
           "Runs until Ctrl+C, or for SECONDS. Nothing is sent to the arm.\n"
           "\n"
           "Options:\n"
           "  --for SECONDS   stop after SECONDS (0 or more)\n"
           "  --virtual-arm   use the virtual devices instead of the USB devices\n"
           "  -h, --help      show this help and exit\n"
           "\n"
           "Exit status:\n"
           "  0   ended at Ctrl+C or after SECONDS\n"
           "  1   HID access failed\n"
           "  64  usage\n";
}

} // namespace

int cliGamepad(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CliArguments parsed(args, {{"--for", true}, {"--virtual-arm", false}}, 0);
    if (!parsed.error.isEmpty())
        return cliUsageError(parsed.error, Usage);
    if (parsed.help) {
        printUsage(out);
        return CliExit::Ok;
    }
    const bool virtualArm = parsed.has("--virtual-arm");
    double seconds = -1;
    if (parsed.has("--for")) {
        bool ok = false;
        seconds = parsed.value("--for").toDouble(&ok);
        if (!ok || !(seconds >= 0) || seconds > 2e6)
            return cliUsageError(
                QStringLiteral("--for takes a number of seconds from 0 to 2000000, not '%1'").arg(parsed.value("--for")),
                Usage);
    }

    ArmTransport hid;
    QString hidError;
    if (!hid.make(virtualArm, QString(), &hidError)) {
        err << "tessaro-cli: " << hidError << "\n";
        return CliExit::Failed;
    }
    hid.transport->startMonitoring();

    // The session's pad, followed on its own: nothing is sent to an arm.
    ArmSession session(hid.transport.get());
    Gamepad &pad = session.gamepad();
    QObject::connect(&pad, &Gamepad::attachedChanged, &pad, [&out, &pad](bool attached) {
        if (attached)
            out << "gamepad: " << pad.name() << "\n";
        else
            out << "gamepad removed\n";
        out.flush();
    });
    QObject::connect(&pad, &Gamepad::motionChanged, &pad, [&out](int code) {
        out << "motion: " << (code < 0 ? QStringLiteral("none") : StepFunctions::name(code)) << "\n";
        out.flush();
    });
    QObject::connect(&pad, &Gamepad::openDenied, &pad, [&out](const QString &, const QString &reason) {
        out << "gamepad cannot be opened: " << reason << "\n";
        out.flush();
    });
    QObject::connect(&pad, &Gamepad::stopPressed, &pad, [&out] {
        out << "stop\n";
        out.flush();
    });
    pad.start();
    if (!pad.isAttached()) {
        out << "No gamepad attached; waiting for one.\n";
        out.flush();
    }

    // Ctrl+C simply ends the process: nothing was sent anywhere, so there is nothing to undo.
    if (seconds >= 0)
        QTimer::singleShot(int(seconds * 1000), QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    pad.stop();
    return CliExit::Ok;
}
