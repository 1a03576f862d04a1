#include "CliCommands.h"
#include "CliCommon.h"
#include "CliScript.h"

#include "ArmDeviceList.h"
#include "ArmFaults.h"
#include "ArmOutlet.h"
#include "ArmSession.h"
#include "ArmSimulator.h"
#include "ArmTransport.h"
#include "CliArms.h"
#include "CliOwner.h"
#include "HIDagentX.h"
#include "HidError.h"
#include "RunProgress.h"
#include "ScriptCheck.h"
#include "ScriptFile.h"
#include "ScriptNumbers.h"
#include "ScriptRunner.h"
#include "StepFunctions.h"
#include "StopSignals.h"

#include <QCoreApplication>
#include <QObject>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

#include <exception>
#include <memory>
#include <mutex>

namespace {

// Unknown steps named before the rest are only counted.
constexpr int UnknownStepsNamed = 10;

const QString Usage = QStringLiteral(
    "Usage: tessaro-cli run FILE.SRP [--reps N] [--quiet] [--allow-unknown-steps] [--light] [--return]\n"
    "                        [--virtual-arm[=hid|kit]] [--virtual-arm-realistic[=SEED]]\n"
    "                        [--virtual-arm-log PATH] [--virtual-arm-fail-write K[:N]]\n");

void printUsage(QTextStream &out)
{
    out << Usage
        << "\n"
           "Plays a script file on the arm, N times: on every arm attached, those with the HID board\n"
           "and those with the USB interface kit alike. While another program serves the arm (the\n"
           "window, or tessaro-cli serve), the script is played through it, without a --virtual-arm option. It prints the script's total time first; then, on a\n"
           "terminal, one line kept up to date with the repetition, the step and the time left, or,\n"
           "when the output is not a terminal, one line per step as it starts; and a summary at the end.\n"
           "The arm is stopped (code 0) at the end and on Ctrl+C, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE;\n"
           "should the program die otherwise, tessaro-guard stops it.\n"
           "A step whose function is not a motion sends nothing, so the motion before it keeps running\n"
           "through it: such a script is refused, naming the steps, unless --allow-unknown-steps plays\n"
           "it as written.\n"
           "The pose of the arm is estimated from the time each motion runs. With --return, the pose\n"
           "at the start of the run is taken as the start pose, and after the run the arm is brought\n"
           "back to it, one joint at a time. While the estimate knows where the arm is, a step towards\n"
           "an end the estimate says is reached is cut short there (the run goes on timed as written),\n"
           "and each step cut short is named when the run ends.\n"
           "If the arm is disconnected during the run, the run ends at once, names the step that was\n"
           "cut short and does not go on when the arm comes back. A command that does not reach the\n"
           "arm ends the run the same way. An arm that stops taking commands is let go, and you are\n"
           "told to switch it off or unplug it.\n"
           "\n"
           "Options:\n"
           "  --reps N                    play the script N times, N from 1 to 32767 (default 1)\n"
           "  --quiet                     print only errors\n"
           "  --allow-unknown-steps       play a script with steps that are not motions as written\n"
           "  --light                     keep the light in an interface kit's gripper on through the run\n"
           "                              (and after it); without it the light is off while the script "
           "plays\n"
           "  --return                    take the pose at the start as the start pose, and return to\n"
           "                              it after the run\n"
           "  --virtual-arm[=KIND]        play on the built-in virtual arm instead of the USB arm, and\n"
           "                              print the pose it ends in (with --return, and the pose it\n"
           "                              started in); it poses as the HID board (KIND hid, the default)\n"
           "                              or the interface kit (kit)\n"
           "  --virtual-arm-realistic[=SEED]\n"
           "                              a virtual arm with the faults of a real one, drawn from SEED\n"
           "                              (0 to 4294967295, default 1): speeds off the table, batteries\n"
           "                              running down, play in the gears, give at the end stops;\n"
           "                              implies --virtual-arm\n"
           "  --virtual-arm-log PATH      append one line per report the virtual arm receives;\n"
           "                              implies --virtual-arm\n"
           "  --virtual-arm-fail-write K[:N]  the virtual arm refuses the K-th report written to\n"
           "                              it (and the N-1 after it); implies --virtual-arm\n"
           "  -h, --help                  show this help and exit\n"
           "\n"
           "Exit status:\n"
           "  0    played\n"
           "  1    HID access failed, or the log cannot be opened\n"
           "  3    no robotic arm found, or none that can be opened\n"
           "  4    the arm was disconnected during the run\n"
           "  5    a command did not reach the arm\n"
           "  6    the arm stopped taking commands\n"
           "  7    the arm is served by another program, and another client of it drives the arm\n"
           "  64   usage\n"
           "  65   not a script, an empty script, or more steps than a script can hold\n"
           "  66   the script file cannot be read\n"
           "  67   a step is not a motion (and --allow-unknown-steps was not given)\n"
           "  128+N  stopped by signal N (130 for Ctrl+C, 143 for SIGTERM)\n";
}

} // namespace

int cliRun(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CliArguments parsed(args,
                              {{"--reps", true},
                               {"--quiet", false},
                               {"--allow-unknown-steps", false},
                               {"--light", false},
                               {"--return", false},
                               {"--virtual-arm", false, true},
                               {"--virtual-arm-realistic", false, true},
                               {"--virtual-arm-log", true},
                               {"--virtual-arm-fail-write", true}},
                              1);
    if (!parsed.error.isEmpty())
        return cliUsageError(parsed.error, Usage);
    if (parsed.help) {
        printUsage(out);
        return CliExit::Ok;
    }
    if (parsed.operands.isEmpty())
        return cliUsageError(QStringLiteral("no script file named"), Usage);
    const QString file = parsed.operands.first();
    int reps = 1;
    if (parsed.has("--reps")) {
        bool ok = false;
        reps = parsed.value("--reps").toInt(&ok);
        if (!ok || reps < 1 || reps > ScriptRunner::MaxRepetitions)
            return cliUsageError(QStringLiteral("--reps takes a whole number from 1 to %1, not '%2'")
                                     .arg(ScriptRunner::MaxRepetitions)
                                     .arg(parsed.value("--reps")),
                                 Usage);
    }
    const bool allowUnknown = parsed.has("--allow-unknown-steps");
    int failWrite = 0;
    int failCount = 1;
    if (parsed.has("--virtual-arm-fail-write")) {
        const QStringList parts = parsed.value("--virtual-arm-fail-write").split(u':');
        bool ok = parts.size() <= 2;
        failWrite = parts.value(0).toInt(&ok);
        bool countOk = true;
        if (parts.size() == 2)
            failCount = parts[1].toInt(&countOk);
        if (!ok || !countOk || parts.size() > 2 || failWrite < 1 || failCount < 1)
            return cliUsageError(
                QStringLiteral("--virtual-arm-fail-write takes a whole number from 1, or K:N, not '%1'")
                    .arg(parsed.value("--virtual-arm-fail-write")),
                Usage);
    }
    ArmTransport::Virtual virtualArm = ArmTransport::Virtual::None;
    QString logPath;
    QString kindError;
    if (!virtualArmOptions(parsed, ArmTransport::Virtual::Hid, &virtualArm, &logPath, &kindError))
        return cliUsageError(kindError, Usage);
    const bool realistic = parsed.has("--virtual-arm-realistic");
    quint32 seed = 1;
    if (realistic && !parsed.value("--virtual-arm-realistic").isEmpty()) {
        bool ok = false;
        seed = parsed.value("--virtual-arm-realistic").toUInt(&ok);
        if (!ok)
            return cliUsageError(
                QStringLiteral("--virtual-arm-realistic takes a whole number from 0 to 4294967295, not '%1'")
                    .arg(parsed.value("--virtual-arm-realistic")),
                Usage);
    }
    const bool returnAfter = parsed.has("--return");
    // The virtual arm is asked for by any of its options.
    if (virtualArm == ArmTransport::Virtual::None && (realistic || failWrite > 0))
        virtualArm = ArmTransport::Virtual::Hid;
    const bool light = parsed.has("--light");
    const Output output = parsed.has("--quiet")          ? Output::Quiet
                          : ::isatty(STDOUT_FILENO) == 1 ? Output::Terminal
                                                         : Output::Lines;

    const ScriptLoad load = LoadScriptFile(file);
    if (!load.error.isEmpty()) {
        // The window's sentence ("Cannot read ..."), in the lower case of every message here.
        QString error = load.error;
        if (error.startsWith(QLatin1String("Cannot ")))
            error[0] = QLatin1Char('c');
        err << "tessaro-cli: " << error << "\n";
        return load.notAScript ? CliExit::EmptyScript : CliExit::NoInput;
    }
    if (load.countTooLarge) {
        err << "tessaro-cli: " << file << ": the step count " << load.countText
            << " does not fit: a script holds at most " << MaxScriptSteps << " steps\n";
        return CliExit::EmptyScript;
    }
    if (!load.countValid || load.nextStep <= 1) {
        err << "tessaro-cli: the script is empty\n";
        return CliExit::EmptyScript;
    }
    // A file cut short still runs the steps it holds, as the window would, but not unannounced.
    const QString shortfall = ScriptLoadWarning(load, file);
    if (!shortfall.isEmpty())
        err << "tessaro-cli: warning: " << shortfall << "\n";
    const QList<UnknownStep> unknown = UnknownSteps(load.records.mid(1, load.nextStep - 1));
    if (!unknown.isEmpty() && !allowUnknown) {
        for (int i = 0; i < unknown.size() && i < UnknownStepsNamed; ++i)
            err << "tessaro-cli: " << file << ": " << UnknownStepText(unknown[i]) << "\n";
        if (unknown.size() > UnknownStepsNamed)
            err << "tessaro-cli: " << file << ": and " << unknown.size() - UnknownStepsNamed
                << " more steps that are not motions\n";
        err << "tessaro-cli: not played; --allow-unknown-steps plays the script as written\n";
        return CliExit::UnknownSteps;
    }

    // The arms are someone else's already: played through their owner.
    if (virtualArm == ArmTransport::Virtual::None) {
        if (const std::unique_ptr<ServiceClient> owner = cliOwner()) {
            CliScript script(load, reps, output, out);
            return cliRunThroughOwner(*owner, {file, reps, light, returnAfter, output == Output::Quiet}, script, out,
                                      err);
        }
    }

    CliArmSetup setup;
    if (!setup.make(virtualArm, logPath, err))
        return CliExit::Failed;
    ArmTransport &hid = setup.arms;
    KitArmList &kits = *setup.kits;

    // The same session as the window's, without a pad: the command line runs a script, nothing else.
    // The interface kits are driven beside the HID arms.
    ArmSession session(hid.transport.get());
    session.setKits(&kits);
    // The guard stops the arm should this program die; a virtual arm dies with it, unless its log stands
    // for it.
    session.setGuard(!hid.arm || !logPath.isEmpty(), logPath);
    // The travel times calibrated in the window, for the estimate's end stops and the way back.
    QStringList optionWarnings;
    session.setOptions(cliControlOptions(&optionWarnings));
    for (const QString &warning : optionWarnings)
        err << "tessaro-cli: " << warning << "\n";
    session.start(false);
    warnWithoutGuard(session, err);
    HIDagentX &agent = session.agent();
    ArmDeviceList &devices = session.devices();
    if (devices.Count() == 0 && kits.armCount() == 0) {
        const QList<HIDagentX::OpenFailure> refused = agent.LastOpenFailures();
        const QList<KitArmList::OpenFailure> refusedKits = kits.openFailures();
        if (refused.isEmpty() && refusedKits.isEmpty()) {
            err << "tessaro-cli: " << cliNoArmAdvice();
        } else {
            err << "tessaro-cli: no robotic arm that can be opened";
            for (const HIDagentX::OpenFailure &f : refused)
                err << "; " << f.info.path << " cannot be opened: " << f.reason;
            for (const KitArmList::OpenFailure &f : refusedKits)
                err << "; " << f.info.path << " cannot be opened: " << f.reason;
            err << "\n";
        }
        agent.StopAgent();
        return CliExit::NoArm;
    }

    // The virtual arm's pose follows the codes it receives, so the run can end by telling where the arm
    // stands.
    ArmSimulator simulator;
    if (hid.arm) {
        if (realistic)
            simulator.setFaults(ArmFaults::realistic(seed), ArmSession::clockNs());
        simulator.attach(*hid.arm);
    }
    if (returnAfter) {
        session.declareStartPose();
        if (hid.arm && output != Output::Quiet)
            out << "Start pose: " << simulator.poseAt(ArmSession::clockNs()).toText() << "\n";
    }

    CliScript script(load, reps, output, out);
    setup.failVirtualWrites(failWrite, failCount, &session);
    // A closed terminal, a quit key and a reader of the output that went away end the run as Ctrl-C does.
    StopSignals stopSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
    if (stopSignals.notifier()) {
        QObject::connect(stopSignals.notifier(), &QSocketNotifier::activated, &session, [&] {
            if (stopSignals.take() != 0)
                session.stopRun();
        });
    }

    if (light && kits.armCount() > 0) {
        QString why;
        if (!session.setLight(true, &why) && !why.isEmpty())
            err << "tessaro-cli: " << why << "\n";
    }
    // Played as written, but not unannounced: such a step grinds at the end until its limit.
    if (output != Output::Quiet) {
        for (const ArmSession::OverlongStep &step : session.overlongSteps(script))
            err << "tessaro-cli: warning: " << file << ": " << step.text << "\n";
    }

    // The run ends with the arm's last interface (a replugged arm is a new start, not the rest of a
    // script it missed the beginning of), with a command that does not reach it, or with an arm that
    // stops taking commands.
    const qint64 startNs = ScriptRunner::clockNs();
    script.begin();
    const ArmSession::RunEnd scriptEnd = session.runScript(script);
    const double seconds = double(ScriptRunner::clockNs() - startNs) / 1e9;
    script.end();
    const QList<ArmSession::CutStep> cut = session.lastRunCutSteps();

    // The way back, played as a run of its own: Ctrl+C stops it as it stops the script.
    int signal = stopSignals.take();
    ArmSession::RunEnd end = scriptEnd;
    bool returned = false;
    if (returnAfter && end == ArmSession::RunEnd::Finished && signal == 0) {
        QString refusal;
        // Each step of the way back is told as the script's are: the plan the session is about to play.
        const qint64 now = ArmSession::clockNs();
        const PoseEstimator estimator = session.poseEstimator();
        const QList<PlanStep> plan = estimator.known(now) ? estimator.returnToStart(now) : QList<PlanStep>();
        QMetaObject::Connection telling;
        if (output != Output::Quiet && !plan.isEmpty()) {
            out << "Returning to start\n";
            out.flush();
            telling = QObject::connect(&session, &ArmSession::returnStepStarting, &session, [&](int row) {
                const PlanStep step = plan.value(row - 1);
                out << "Return  Step " << row << " of " << plan.size() << "  " << StepFunctions::name(step.code)
                    << "  " << RunProgress::durationText(step.seconds) << "\n";
                out.flush();
            });
        }
        end = session.returnToStart(&refusal);
        QObject::disconnect(telling);
        signal = stopSignals.take();
        returned = refusal.isEmpty();
        if (!returned && output != Output::Quiet)
            out << refusal << "\n";
    }
    // What the estimate can vouch for, before the arm is let go (which forgets it).
    const PoseEstimate estimate = session.poseEstimate();
    session.shutDown(false);
    // A virtual arm hears a report written on the run's thread through this thread's events: let it
    // hear the last ones (the stop, as a rule) before the program ends, so that its log is whole.
    QCoreApplication::sendPostedEvents();
    for (const QString &why : session.lastRunFailures())
        err << "tessaro-cli: " << why << "\n";
    const RunProgress &progress = script.progress();
    const QString where = returned ? QStringLiteral("the return to the start pose")
                                   : QStringLiteral("step %1 (%2) of repetition %3")
                                         .arg(progress.step())
                                         .arg(script.functionText(progress.step()))
                                         .arg(progress.repetition());
    int status = CliExit::Ok;
    if (!session.lastStopConfirmed()) {
        err << "tessaro-cli: the arm did not take the stop command, sent again for "
            << ArmOutlet::StopRetryDelaysMs[std::size(ArmOutlet::StopRetryDelaysMs) - 1]
            << " ms: a motor may still be running. Switch the arm off or unplug it.\n";
        status = CliExit::ArmStalled;
    } else if (end == ArmSession::RunEnd::Stalled) {
        err << "tessaro-cli: the arm stopped taking commands during " << where
            << " and did not take the stop command: a motor may still be running. Switch the arm off or "
               "unplug it.\n";
        status = CliExit::ArmStalled;
    } else if (signal != 0) {
        err << "tessaro-cli: "
            << (returned ? QStringLiteral("Stopped during the return to the start pose")
                         : progress.stoppedText())
            << "\n";
        status = CliExit::SignalBase + signal;
    } else if (end == ArmSession::RunEnd::Disconnected) {
        err << "tessaro-cli: the arm was disconnected during " << where << "; the run was stopped\n";
        status = CliExit::ArmGone;
    } else if (end == ArmSession::RunEnd::CommandFailed) {
        err << "tessaro-cli: a command did not reach the arm during " << where << "; the run was stopped\n";
        status = CliExit::Refused;
    }
    if (output != Output::Quiet) {
        for (const ArmSession::CutStep &step : cut)
            out << step.text() << "\n";
        if (scriptEnd == ArmSession::RunEnd::Finished && (status == CliExit::Ok || returned))
            out << progress.finishedText(seconds) << "\n";
        if (returned && status == CliExit::Ok)
            out << "Returned to the start pose (estimated)\n";
        // The way back's error, or where the arm ended up.
        if (returned)
            out << "Return error (estimated): " << estimate.offsetBandText() << "\n";
        else if (!returnAfter)
            out << "Estimated pose: " << estimate.poseText() << "\n";
        if (hid.arm)
            out << "Final pose: " << simulator.poseAt(ScriptRunner::clockNs()).toText() << "\n";
    }
    return status;
}
