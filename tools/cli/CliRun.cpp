#include "CliCommands.h"

#include "ArmDeviceList.h"
#include "ArmSession.h"
#include "ArmSimulator.h"
#include "ArmTransport.h"
#include "HIDagentX.h"
#include "HidError.h"
#include "ScriptCheck.h"
#include "ScriptFile.h"
#include "ScriptNumbers.h"
#include "ScriptRunner.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <exception>
#include <memory>

namespace {

constexpr int ArmVendorId = 0x1E6F;
constexpr int ArmProductId = 0x1113;

constexpr int ExitUsage = 64;
constexpr int ExitEmptyScript = 65;
constexpr int ExitNoInput = 66;
constexpr int ExitUnknownSteps = 67;
// Unknown steps named before the rest are only counted.
constexpr int UnknownStepsNamed = 10;
constexpr int ExitNoArm = 3;
constexpr int ExitArmGone = 4;
constexpr int ExitSendFailed = 5;
constexpr int ExitArmStalled = 6;

void printUsage(QTextStream &out)
{
    out << "Usage: tessaro-cli run FILE.SRP [--reps N] [--allow-unknown-steps] [--virtual-arm]\n"
           "                        [--virtual-arm-log PATH] [--virtual-arm-fail-write K]\n"
           "\n"
           "Plays a script file on the arm, N times (default 1), printing each step as it starts.\n"
           "The arm is stopped (code 0) at the end and on Ctrl+C or SIGTERM.\n"
           "A step whose function is not a motion sends nothing, so the motion before it keeps running\n"
           "through it: such a script is refused, naming the steps, unless --allow-unknown-steps plays\n"
           "it as written.\n"
           "--virtual-arm plays it on the built-in virtual arm instead of real hardware;\n"
           "--virtual-arm-log PATH appends one line per command the virtual arm receives;\n"
           "--virtual-arm-fail-write K makes the virtual arm refuse the K-th report written to it.\n"
           "If the arm is disconnected during the run, the run ends at once, names the step that was\n"
           "cut short and does not go on when the arm comes back. A command that does not reach the\n"
           "arm ends the run the same way. An arm that stops taking commands is let go, and you are\n"
           "told to switch it off or unplug it.\n"
           "Exit status: 0 played, 3 no arm found, 4 the arm was disconnected during the run,\n"
           "5 a command did not reach the arm, 6 the arm stopped taking commands, 64 usage, 65 not a\n"
           "script, empty script or too many steps, 66 file not read, 67 a step is not a motion,\n"
           "128 + signal number when stopped by a signal.\n";
}

// Signal handlers may only write to a pipe; the event loop reads the other end.
int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal)
{
    const unsigned char byte = static_cast<unsigned char>(signal);
    const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

class StopSignals
{
public:
    StopSignals()
    {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    }
    ~StopSignals()
    {
        if (!m_notifier)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        m_notifier.reset();
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    QSocketNotifier *notifier() const { return m_notifier.get(); }

    // The signal that arrived, 0 for none; drains the pipe.
    int take()
    {
        unsigned char byte = 0;
        while (::read(g_signalPipe[0], &byte, 1) == 1)
            m_signal = byte;
        return m_signal;
    }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    int m_signal = 0;
};

class CliScript : public ScriptSource
{
public:
    CliScript(const ScriptLoad &load, QString reps, ArmSession &session, QTextStream &out, QTextStream &err)
        : m_rows(load.records), m_steps(load.nextStep - 1), m_reps(std::move(reps)), m_session(session),
          m_out(out), m_err(err)
    {
    }

    int stepCount() override { return m_steps; }
    QString functionText(int row) override { return row < m_rows.size() ? m_rows[row][1] : QString(); }
    QString timeText(int row) override { return row < m_rows.size() ? m_rows[row][2] : QString(); }
    QString repetitionsText() override { return m_reps; }
    void sendArmCommand(qint16 code) override
    {
        QString why;
        // An arm found gone is no failure of the command: its removal ends the run and says so.
        if (m_session.send(code, &why) || why.isEmpty())
            return;
        m_err << "tessaro-cli: " << why << "\n";
        m_err.flush();
        // The arm no longer follows the script: the run ends here, its stop code still tried.
        m_session.cutRunAfterFailedSend(why);
    }
    void stepStarting(int row) override
    {
        m_currentRow = row;
        m_out << QString::number(row).rightJustified(5) << "  " << functionText(row).leftJustified(13) << " "
              << NumberText(LeadingNumber(timeText(row))).trimmed() << " s\n";
        m_out.flush();
    }

    // The step under way, 0 before the first.
    int currentRow() const { return m_currentRow; }

private:
    QList<ScriptRow> m_rows;
    int m_steps;
    QString m_reps;
    ArmSession &m_session;
    QTextStream &m_out;
    QTextStream &m_err;
    int m_currentRow = 0;
};

} // namespace

int cliRun(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString file;
    QString reps = QStringLiteral("1");
    bool virtualArm = false;
    bool allowUnknown = false;
    QString logPath;
    int failWrite = 0;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--reps") && i + 1 < args.size()) {
            reps = args.at(++i);
        } else if (a == QLatin1String("--virtual-arm")) {
            virtualArm = true;
        } else if (a == QLatin1String("--allow-unknown-steps")) {
            allowUnknown = true;
        } else if (a == QLatin1String("--virtual-arm-log") && i + 1 < args.size()) {
            logPath = args.at(++i);
        } else if (a == QLatin1String("--virtual-arm-fail-write") && i + 1 < args.size()) {
            bool ok = false;
            failWrite = args.at(++i).toInt(&ok);
            if (!ok || failWrite < 1) {
                printUsage(err);
                return ExitUsage;
            }
            virtualArm = true;
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            printUsage(out);
            return 0;
        } else if (file.isEmpty() && !a.startsWith(QLatin1Char('-'))) {
            file = a;
        } else {
            printUsage(err);
            return ExitUsage;
        }
    }
    if (file.isEmpty()) {
        printUsage(err);
        return ExitUsage;
    }

    const ScriptLoad load = LoadScriptFile(file);
    if (!load.error.isEmpty()) {
        err << "tessaro-cli: " << load.error << "\n";
        return load.notAScript ? ExitEmptyScript : ExitNoInput;
    }
    if (load.countTooLarge) {
        err << "tessaro-cli: " << file << ": the step count " << load.countText
            << " does not fit: a script holds at most " << MaxScriptSteps << " steps\n";
        return ExitEmptyScript;
    }
    if (!load.countValid || load.nextStep <= 1) {
        err << "tessaro-cli: Empty script!\n";
        return ExitEmptyScript;
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
        return ExitUnknownSteps;
    }

    ArmTransport hid;
    QString hidError;
    if (!hid.make(virtualArm || !logPath.isEmpty(), logPath, &hidError)) {
        err << "tessaro-cli: " << hidError << "\n";
        return 1;
    }

    // The same session as the window's, without a pad: the command line runs a script, nothing else.
    ArmSession session(hid.transport.get());
    session.start(false);
    HIDagentX &agent = session.agent();
    ArmDeviceList &devices = session.devices();
    if (devices.Count() == 0) {
        err << "tessaro-cli: no robotic arm found (VID_1E6F&PID_1113)";
        for (const HIDagentX::OpenFailure &f : agent.LastOpenFailures())
            err << "; " << f.info.path << " cannot be opened: " << f.reason;
        err << "\n";
        agent.StopAgent();
        return ExitNoArm;
    }

    // The virtual arm's pose follows the codes it receives, so the run can end by telling where the arm
    // stands.
    ArmSimulator simulator;
    if (hid.arm)
        simulator.attach(*hid.arm);

    ScriptRunner &runner = session.runner();
    CliScript script(load, reps, session, out, err);
    if (hid.arm && failWrite > 0) {
        // Counted at the transport, so that the refused report is the K-th the arm would have had.
        VirtualHidInterface *target = hid.arm->armInterface();
        auto *virtualTransport = static_cast<VirtualHidTransport *>(hid.transport.get());
        if (failWrite == 1)
            target->failNextWrite();
        QObject::connect(
            virtualTransport, &VirtualHidTransport::reportWritten, &runner,
            [target, failWrite, written = 0](const QString &path, const QByteArray &, qint64) mutable {
                if (path == target->info.path && ++written == failWrite - 1)
                    target->failNextWrite();
            },
            // On the writing thread, at once: writes are made one at a time under the HID lock, and
            // the refusal must be in place before the next one.
            Qt::DirectConnection);
    }
    StopSignals stopSignals;
    if (stopSignals.notifier()) {
        QObject::connect(stopSignals.notifier(), &QSocketNotifier::activated, &runner, [&] {
            if (stopSignals.take() != 0)
                session.stopRun();
        });
    }

    // The run ends with the arm's last interface (a replugged arm is a new start, not the rest of a
    // script it missed the beginning of), with a command that does not reach it, or with an arm that
    // stops taking commands.
    const ArmSession::RunEnd end = session.runScript(script);

    const int signal = stopSignals.take();
    session.shutDown(false);
    if (hid.arm)
        out << "Final pose: " << simulator.poseAt(ScriptRunner::clockNs()).toText() << "\n";
    if (end == ArmSession::RunEnd::Stalled) {
        const int row = script.currentRow();
        err << "tessaro-cli: the arm stopped taking commands during step " << row << " ("
            << script.functionText(row) << ") and did not take the stop command: a motor may still be "
            << "running. Switch the arm off or unplug it.\n";
        return ExitArmStalled;
    }
    if (signal != 0) {
        err << "tessaro-cli: stopped\n";
        return 128 + signal;
    }
    if (end == ArmSession::RunEnd::Disconnected) {
        const int row = script.currentRow();
        err << "tessaro-cli: the arm was disconnected during step " << row << " ("
            << script.functionText(row) << "); the run was stopped\n";
        return ExitArmGone;
    }
    if (end == ArmSession::RunEnd::CommandFailed) {
        const int row = script.currentRow();
        err << "tessaro-cli: a command did not reach the arm during step " << row << " ("
            << script.functionText(row) << "); the run was stopped\n";
        return ExitSendFailed;
    }
    return 0;
}
