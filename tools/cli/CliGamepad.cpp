#include "CliCommands.h"

#include "ArmTransport.h"
#include "ArmSession.h"
#include "Gamepad.h"
#include "StepFunctions.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

namespace {

void printUsage(QTextStream &out)
{
    out << "Usage: tessaro-cli gamepad [--for SECONDS] [--virtual-arm]\n"
           "\n"
           "Follows the attached gamepad or joystick and prints, live, the arm motion it would drive\n"
           "(largest deflection beyond a 20% dead zone wins), and when its stop button is pressed.\n"
           "Runs until Ctrl-C, or for SECONDS. Nothing is sent to the arm.\n"
           "--virtual-arm uses the virtual devices instead of real hardware.\n";
}

} // namespace

int cliGamepad(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    bool virtualArm = false;
    double seconds = -1;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        bool ok = true;
        if (a == QLatin1String("--virtual-arm")) {
            virtualArm = true;
        } else if (a == QLatin1String("--for") && i + 1 < args.size()) {
            seconds = args.at(++i).toDouble(&ok);
            ok = ok && seconds >= 0;
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            printUsage(out);
            return 0;
        } else {
            ok = false;
        }
        if (!ok) {
            printUsage(err);
            return 64;
        }
    }

    ArmTransport hid;
    QString hidError;
    if (!hid.make(virtualArm, QString(), &hidError)) {
        err << "tessaro-cli: " << hidError << "\n";
        return 1;
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

    // Ctrl-C simply ends the process: nothing was sent anywhere, so there is nothing to undo.
    if (seconds >= 0)
        QTimer::singleShot(int(seconds * 1000), QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    pad.stop();
    return 0;
}
