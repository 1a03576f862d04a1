#include "CliArms.h"
#include "CliCommands.h"
#include "CliCommon.h"

#include "ArmFaults.h"
#include "ArmSession.h"
#include "ArmSimulator.h"
#include "ServiceSocket.h"
#include "SessionService.h"
#include "StopSignals.h"
#include "VirtualArmChoice.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>

namespace {

const QString Usage = QStringLiteral(
    "Usage: tessaro-cli serve [--virtual-arm[=hid|kit]] [--virtual-arm-realistic[=SEED]] [--virtual-arm-log PATH]\n");

void printUsage(QTextStream &out)
{
    out << Usage
        << "\n"
           "Owns the arms (every arm attached, HID boards and interface kits alike, followed as they are\n"
           "plugged in and out) and serves them on a Unix socket to other programs of the same user, as\n"
           "docs/protocol.md describes, until Ctrl+C, SIGTERM or SIGHUP: then the arm is stopped and the\n"
           "program ends. It prints the socket's path first. Only one program serves at a time: while\n"
           "another does, it names that one and exits.\n"
           "Without a --virtual-arm option, TESSARO_VIRTUAL_ARM (hid, kit or realistic[:SEED]) and\n"
           "TESSARO_VIRTUAL_ARM_LOG (a path) ask for the virtual arm.\n"
           "\n"
           "Options:\n"
           "  --virtual-arm[=KIND]        serve the built-in virtual arm instead of the USB arm, posing as\n"
           "                              the HID board (KIND hid, the default) or the interface kit (kit)\n"
           "  --virtual-arm-realistic[=SEED]\n"
           "                              a virtual arm with the faults of a real one, drawn from SEED\n"
           "                              (default 1); implies --virtual-arm\n"
           "  --virtual-arm-log PATH      append one line per report the virtual arm receives; implies\n"
           "                              --virtual-arm\n"
           "  -h, --help                  show this help and exit\n"
           "\n"
           "Exit status:\n"
           "  0    served until a signal ended it\n"
           "  1    the socket cannot be served, or the log cannot be opened\n"
           "  7    the arm is already served by another program (it is named)\n"
           "  64   usage\n";
}

} // namespace

int cliServe(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CliArguments parsed(args,
                              {{"--virtual-arm", false, true},
                               {"--virtual-arm-realistic", false, true},
                               {"--virtual-arm-log", true}},
                              0);
    if (!parsed.error.isEmpty())
        return cliUsageError(parsed.error, Usage);
    if (parsed.help) {
        printUsage(out);
        return CliExit::Ok;
    }
    VirtualArmChoice choice;
    QString why;
    if (parsed.has("--virtual-arm") || parsed.has("--virtual-arm-log") || parsed.has("--virtual-arm-realistic")) {
        if (!virtualArmOptions(parsed, ArmTransport::Virtual::Hid, &choice.kind, &choice.logPath, &why))
            return cliUsageError(why, Usage);
        choice.realistic = parsed.has("--virtual-arm-realistic");
        if (choice.realistic && !parsed.value("--virtual-arm-realistic").isEmpty()) {
            bool ok = false;
            choice.seed = parsed.value("--virtual-arm-realistic").toUInt(&ok);
            if (!ok)
                return cliUsageError(
                    QStringLiteral("--virtual-arm-realistic takes a whole number from 0 to 4294967295, not '%1'")
                        .arg(parsed.value("--virtual-arm-realistic")),
                    Usage);
        }
        if (choice.kind == ArmTransport::Virtual::None)
            choice.kind = ArmTransport::Virtual::Hid;
    } else if (!VirtualArmChoice::fromEnvironment(&choice, &why)) {
        return cliUsageError(why, Usage);
    }

    const KitReversed reversed = kitReversedFromOptions();
    ArmTransport arms;
    if (!arms.make(choice.kind, choice.logPath, &why, reversed)) {
        err << "tessaro-cli: " << why << "\n";
        return CliExit::Failed;
    }
    KitArmList kits(*arms.kits);
    kits.setReversed(reversed);
    ArmSession session(arms.transport.get());
    session.setKits(&kits);
    // The guard stops the arm should this program die; a virtual arm dies with it, unless its log
    // stands for it.
    session.setGuard(!arms.arm || !choice.logPath.isEmpty(), choice.logPath);
    QStringList optionWarnings;
    session.setOptions(cliControlOptions(&optionWarnings));
    for (const QString &warning : optionWarnings)
        err << "tessaro-cli: " << warning << "\n";

    // The socket first: while another program serves, the arms are not touched.
    SessionService service(session, QStringLiteral("tessaro-cli serve"));
    SessionArm &served = service.arm();
    ServiceServer &server = service.server();
    const QString path = ServiceSocket::defaultPath();
    if (const SessionService::Listen listened = service.listen(path, &why);
        listened != SessionService::Listen::Serving) {
        err << "tessaro-cli: " << why << "\n";
        return listened == SessionService::Listen::OtherOwner ? CliExit::Served : CliExit::Failed;
    }

    session.start(false);
    warnWithoutGuard(session, err);
    ArmSimulator simulator;
    if (arms.arm) {
        if (choice.realistic)
            simulator.setFaults(ArmFaults::realistic(choice.seed), ArmSession::clockNs());
        simulator.attach(*arms.arm);
    }

    const auto tellArms = [&out](bool ready, const QStringList &list) {
        if (ready)
            out << "Arms: " << list.join(QStringLiteral("; ")) << "\n";
        else
            out << "No arm connected: waiting for one\n";
        out.flush();
    };
    out << "Serving the arm at " << path << "\n";
    tellArms(served.ready(), served.arms());
    QObject::connect(&served, &ServiceArm::connectionChanged, &served, tellArms);
    QObject::connect(&server, &ServiceServer::controllerChanged, &server, [&out](const QString &who) {
        out << "Control: " << (who.isEmpty() ? QStringLiteral("none") : who) << "\n";
        out.flush();
    });

    // Output that no one reads any more is no reason to stop serving.
    std::signal(SIGPIPE, SIG_IGN);
    StopSignals stopSignals{SIGINT, SIGTERM, SIGHUP};
    bool stopping = false;
    // The arm is stopped first; a run winds down in its own loop before the program's ends.
    const auto quitWhenIdle = [&] {
        if (stopping && !served.runBusy())
            QCoreApplication::quit();
    };
    if (stopSignals.notifier()) {
        QObject::connect(stopSignals.notifier(), &QSocketNotifier::activated, &served, [&] {
            if (stopSignals.take() == 0)
                return;
            stopping = true;
            server.revokeControl();
            served.stopEverything();
            quitWhenIdle();
        });
    }
    QObject::connect(&served, &ServiceArm::runEnded, &served, quitWhenIdle, Qt::QueuedConnection);
    QCoreApplication::exec();

    server.close();
    session.shutDown();
    // The virtual arm hears the last reports through this thread's events: its log is then whole.
    QCoreApplication::sendPostedEvents();
    out << "Stopped serving\n";
    return CliExit::Ok;
}
