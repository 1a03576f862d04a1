#include "CliCommands.h"
#include "CliCommon.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

namespace {

// Also the manual page: help2man turns it into tessaro-cli(1), so every option of every command and
// every exit status is here.
void printUsage(QTextStream &out)
{
    out << "Usage: tessaro-cli COMMAND [OPTIONS]\n"
           "Plays arm scripts and describes HID devices without a window.\n"
           "\n"
           "Commands:\n"
           "  run FILE.SRP [--reps N] [--quiet] [--allow-unknown-steps] [--light] [--return] [--virtual-arm[=KIND]] [--virtual-arm-realistic[=SEED]] [--virtual-arm-log PATH] [--virtual-arm-fail-write K[:N]]\n"
           "                       play a script on the arm (every arm attached: HID boards and interface\n"
           "                       kits alike); prints its total time first\n"
           "  serve [--virtual-arm[=KIND]] [--virtual-arm-realistic[=SEED]] [--virtual-arm-log PATH]\n"
           "                       own the arms and serve them on a Unix socket to other programs of\n"
           "                       this user (docs/protocol.md) until Ctrl+C or SIGTERM; prints the\n"
           "                       socket's path\n"
           "  devices [--all] [--virtual-arm[=KIND]] [--virtual-arm-log PATH]\n"
           "                       list the arms: the HID board's interfaces and their report variables,\n"
           "                       the interface kits with their bus and address\n"
           "  light on|off [--virtual-arm[=KIND]] [--virtual-arm-log PATH]\n"
           "                       switch the light in the gripper of every interface kit (its motors stop)\n"
           "  describe FILE        print the layout of the HID report descriptor in FILE as JSON\n"
           "  describe [--device PATH] [--virtual-arm]\n"
           "                       the same for an attached interface: PATH, or the first arm found\n"
           "  gamepad [--for SECONDS] [--virtual-arm]\n"
           "                       print, live, the motion the attached gamepad would drive\n"
           "\n"
           "Options:\n"
           "  --reps N             run: play the script N times, N from 1 to 32767 (default 1)\n"
           "  --quiet              run: print only errors, no steps, progress or totals\n"
           "  --allow-unknown-steps\n"
           "                       run: play a script with steps that are not motions as written (such\n"
           "                       a step sends nothing: the motion before it runs on through it)\n"
           "  --light              run: keep the light of an interface kit's gripper on through the run\n"
           "  --return             run: take the pose at the start of the run as the start pose, and\n"
           "                       bring the arm back to it after the run, by the pose estimate\n"
           "  --virtual-arm[=KIND]\n"
           "                       run, serve, devices, describe, gamepad, light: use the built-in virtual arm\n"
           "                       instead of the USB devices, posing as the HID board (KIND hid, the\n"
           "                       default) or the interface kit (kit; run, serve, devices, light)\n"
           "  --virtual-arm-realistic[=SEED]\n"
           "                       run, serve: a virtual arm with the faults of a real one, drawn from SEED\n"
           "                       (default 1): speeds off the table, batteries running down, play in\n"
           "                       the gears, give at the end stops; implies --virtual-arm\n"
           "  --virtual-arm-log PATH\n"
           "                       run, serve, devices, light: append one line per report the virtual arm receives\n"
           "                       (seconds, command code, report bytes); implies --virtual-arm\n"
           "  --virtual-arm-fail-write K[:N]\n"
           "                       run: the virtual arm refuses the K-th report written to it,\n"
           "                       and the N-1 after it; implies --virtual-arm\n"
           "  --all                devices: list every HID interface, not only the arm's\n"
           "  --device PATH        describe: the interface at PATH (a /dev/hidraw node, or with\n"
           "                       --virtual-arm a virtual one such as virtual/arm0)\n"
           "  --for SECONDS        gamepad: stop after SECONDS instead of at Ctrl+C\n"
           "  -h, --help           show this help, or after a command that command's help, and exit\n"
           "  --version            show the version and exit\n"
           "\n"
           "Output of run:\n"
           "  On a terminal, run keeps one line updated in place: the repetition, the step and the\n"
           "  time left. When its output is not a terminal, it prints one line per step as the step\n"
           "  starts (\"Repetition 2 of 3  Step 1 of 4  ElbowUp  2.5 s\"), and with --return one per step of\n"
           "  the way back. Either way it ends with a summary, and with --virtual-arm the arm's final pose\n"
           "  (with --return also the pose it started in, first).\n"
           "  The arm's pose is estimated from the time each motion runs. While it is known (with\n"
           "  --return), a step towards an end the estimate says is reached is cut short there, the\n"
           "  run going on timed as written, and each step cut short is named after the run:\n"
           "  \"Step 3 (ElbowUp) of repetition 1 cut short: Elbow at its upper end (estimated)\".\n"
           "\n"
           "Exit status:\n"
           "  0    success\n"
           "  1    HID access failed; describe: the file or device cannot be read, or the JSON not written\n"
           "  2    describe: the report descriptor is malformed (the byte offset and the fault are named)\n"
           "  3    run, devices, describe without FILE: no robotic arm found (run: or none that can be\n"
           "       opened); the message says what to check: the cable, the power switch, the udev rule;\n"
           "       light: no interface kit found, or none that can be opened\n"
           "  4    run: the arm was disconnected during the run\n"
           "  5    run, light: a command did not reach the arm; devices, describe: the arm is there but\n"
           "       cannot be opened (permission: install the udev rule 70-tessaro.rules)\n"
           "  6    run, light: the arm stopped taking commands; a motor may still run: switch the arm off\n"
           "  7    serve: the arm is already served by another program (it is named)\n"
           "  64   usage: unknown command or option, missing or bad value\n"
           "  65   run: the file is not a script, or the script is empty or holds more steps than a\n"
           "       script can\n"
           "  66   run: the script file cannot be read\n"
           "  67   run: a step is not a motion, and --allow-unknown-steps was not given\n"
           "  128+N  run: stopped by signal N (130 for Ctrl+C, 143 for SIGTERM); the arm is stopped\n"
           "\n"
           "Environment:\n"
           "  TESSARO_VIRTUAL_ARM=hid|kit|realistic[:SEED], TESSARO_VIRTUAL_ARM_LOG=PATH\n"
           "                       serve: the virtual arm, and its log, when no --virtual-arm option is given\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaro-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));

    QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);
    QTextStream err(stderr);

    // An error is the first thing said, with a short usage line under it, not buried in the help.
    const auto usageError = [&err](const QString &error) {
        err << "tessaro-cli: " << error << "\n"
            << "Usage: tessaro-cli run|serve|devices|light|describe|gamepad [OPTIONS]; tessaro-cli --help for more\n";
        return CliExit::Usage;
    };
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("-h") || command == QLatin1String("--help") || command == QLatin1String("help")) {
        printUsage(out);
        return CliExit::Ok;
    }
    if (command == QLatin1String("--version")) {
        out << "tessaro-cli " << TESSARO_VERSION << "\n";
        return CliExit::Ok;
    }
    if (command == QLatin1String("describe"))
        return cliDescribe(args);
    if (command == QLatin1String("devices"))
        return cliDevices(args);
    if (command == QLatin1String("gamepad"))
        return cliGamepad(args);
    if (command == QLatin1String("light"))
        return cliLight(args);
    if (command == QLatin1String("run"))
        return cliRun(args);
    if (command == QLatin1String("serve"))
        return cliServe(args);

    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}
