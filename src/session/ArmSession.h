#pragma once

#include "ArmOutlet.h"
#include "ControlOptions.h"
#include "EndStopGuard.h"
#include "MotionGate.h"
#include "PanelMotion.h"
#include "PoseEstimator.h"
#include "RunController.h"
#include "RunSteps.h"
#include "RunawayLimit.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class ArmDeviceList;
class ArmLink;

class GuardLink;
class Gamepad;
class HIDagentX;
class HidArmLink;
class KitArmList;
class HidTransport;
class ScriptSource;

// Everything the program does with the arm, for whichever front end drives it: the window, with its
// buttons, keys and grid, or tessaro-cli. The session wires small parts together and keeps the
// connection itself:
//
// - Connection: the links to the arms (`ArmLink`): the HID boards' (`HidArmLink`: the HID component
//   and the device objects bound to the arm's interfaces) and the USB interface kits' when given
//   (`setKits`); and the Ready state, which follows the arms the links have open (for the HID board,
//   the open interfaces whose names carry the device identity).
// - The panel's motion (`PanelMotion`): the start, stop and switch of a motion (`click`), held keys
//   and pad controls (`jogPress`, `jogRelease`), and the steps recorded in Scripting mode (`stepBegun`,
//   `stepEnded`). How the buttons look is the front end's: it hears `lookOn`, `looksReset` and
//   `codeShown`.
// - The runaway limit (`RunawayLimit`) of the panel's motions, and the time limits of a run's
//   (`RunMotionLimits`).
// - The run (`RunController`): the script runner, which sends each step through `send`, and why a run
//   ended.
// - The pose (`EndStopGuard`): where the arm is, estimated from every code that reached it and when
//   (the arm has no sensors), the end stops that estimate holds, the start pose and the way back to it.
// - The way out (`ArmOutlet`): every code for every arm, the light included, goes through it; it puts
//   a deadline on each motion (the runaway limit's, in runs too) and confirms each stop.
//
// Locks, always taken in this order and released in the reverse:
// 1. the gate's send lock (`MotionGate`: the end-stop guard with its pose, the run's time limits, the
//    cut steps and the last code sent), held across each whole send;
// 2. the outlet's (`ArmOutlet`);
// 3. each link's own (`HidArmLink`'s, the HID component's `HIDagentX::lock()`; `KitArmList`'s);
// 4. each device writer's (`BoundedWriter`).
// The links tell of their arms coming and going with none of their locks held (`ArmLink`), so the
// session's handlers take the gate's afresh. The outlet's watch thread calls back (onDeadline) holding
// none of them. The runner's hand-over lock (`ScriptRunner`) is never held across a send, and the run's
// failure lock (`RunController`) is taken alone.
//
// Everything runs on the thread that made the session, except `send`, which a run's timing thread
// calls too.
class ArmSession : public QObject, private PanelMotion::Host
{
    Q_OBJECT

public:
    // Where a held motion comes from: a key or a pad control; each holds at most one motion.
    using Input = PanelMotion::Input;
    using RunEnd = ::RunEnd;
    using CutStep = ::CutStep;
    using OverlongStep = ::OverlongStep;

    static constexpr int RunLimitFloorMs = RunawayLimit::FloorMs;
    static constexpr int RunLimitGapMs = RunawayLimit::GapMs;
    static constexpr int EndStopOverrideMs = EndStopGuard::OverrideMs;
    static constexpr int EndStopOverrideBudgetMs = EndStopGuard::OverrideBudgetMs;
    static constexpr int PanelDeadlineGraceMs = MotionGate::PanelDeadlineGraceMs;

    // The transport is not owned and must outlive the session.
    explicit ArmSession(HidTransport *transport, QObject *parent = nullptr);
    ~ArmSession() override;

    // The HID link's component and device objects, for looking at the interfaces it holds.
    HIDagentX &agent() const;
    ArmDeviceList &devices() const;
    Gamepad &gamepad() const { return *m_gamepad; }

    // --- Connection
    // The text that names the arm in an interface's device name; empty matches every interface.
    void setDeviceIdentity(const QString &identity);
    bool deviceNameMatches(const QString &deviceName) const;
    // Starts every link, which opens its arms, and sets the Ready state from them, then starts following
    // the pad unless told not to. Each step runs even when an earlier one failed.
    void start(bool followGamepad = true);
    // Ends a run, sends 0 while Ready (unless told not to: a run that ended has sent its own), stops
    // every link, closing its arms, and stops following the pad. Nothing is sent afterwards.
    void shutDown(bool sendStop = true);
    bool armInterfaceOpen() const;
    // The arms open, one line each with its kind and its USB ids as lsusb shows them: "HID board
    // 1e6f:1113, /dev/hidraw0" for each interface of a HID arm, "USB interface kit 1267:0000 on bus 1,
    // address 4" for each kit.
    QStringList attachedArms() const;
    // Why several joints at once cannot be driven now (an arm open takes one motion at a time); empty
    // when they can.
    QString refusesSeveral() const;
    // Ready exactly while an arm interface is open; told by readyChanged at the first count and when it
    // changes, and by
    // armsChanged at every count of the arms. Losing the
    // arm during a run ends the run (RunEnd::Disconnected).
    void updateConnection();
    bool isReady() const { return m_ready; }
    // Writes the code to every arm, HID arms and kits alike, through the way out, while Ready: a
    // motion with its deadline, a stop sent again where it failed (stopFailed when it never went).
    // False when the code did not reach every arm (not Ready, refused or not written); error then
    // says why (the first failure), unless the session was simply not Ready or an arm was found gone.
    // Any thread.
    bool send(qint16 code, QString *error = nullptr);

    // --- Light
    // Switches the kits' light; their motors keep the motion in force (a stop, unless one is on).
    // False when a kit did not take it, with why.
    bool setLight(bool on, QString *error = nullptr);
    bool light() const;
    // Whether an arm with a light (a kit) is open.
    bool lightAttached() const;
    // Whether the last stop sent reached every arm open (tries again included). Any thread.
    bool lastStopConfirmed() const { return m_gate.lastStopConfirmed(); }

    // --- Guard
    // Whether start() starts tessaro-guard, which stops the open arms should the program die; with a
    // virtual arm's log, that log is its target. Set before start(). The guard is told the arms as they
    // come and go, and dismissed by a shutDown after a stop that went out.
    void setGuard(bool on, const QString &virtualArmLog = QString())
    {
        m_guardWanted = on;
        m_guardLog = virtualArmLog;
    }
    GuardLink *guard() const { return m_guard.get(); }
    // Why the guard could not be started or told the arms; empty while it serves.
    QString guardError() const { return m_guardError; }

    // --- Interface kits
    // The kits driven beside the HID arms (not owned; the list must outlive the session). Set before
    // start(): the session starts and stops the list with itself, counts its kits as arms for Ready,
    // sends them every code, and takes a kit's refusal, stall and removal as a HID arm's.
    void setKits(KitArmList *kits);

    // --- Motion
    // Whether motions are recorded (Scripting mode), asked at each motion; never, without a source.
    void setScriptingModeSource(std::function<bool()> scripting) { m_scriptingMode = std::move(scripting); }
    bool scriptingMode() const override { return m_scriptingMode && m_scriptingMode(); }
    // A click on the motion button of `code`: start, stop (the lit one again) or switch.
    void click(int code) { m_panel.click(code); }
    // The choice of Scripting: the motion state ends, the motor runs on, its button stays lit.
    void endMotionState() { m_panel.endMotionState(); }
    // Esc: during a run this is the run's Stop (told by stopRequested); otherwise it ends the motion
    // that is on as its second click would, or sends 0 and puts out a button left lit.
    void stopEverything();
    // Held keys and pad controls. While they are locked (another program drives the arm) a press
    // starts nothing; a release still ends what its press started.
    void jogPress(Input input, int code)
    {
        if (!m_jogLocked)
            m_panel.jogPress(input, code);
    }
    void jogRelease(Input input, int code) { m_panel.jogRelease(input, code); }
    void setJogLocked(bool locked) { m_jogLocked = locked; }
    // The motion of `code`, on now as a click started it, ends within `ms`: the way out stops it then,
    // after the grace a panel motion's limit gets, should this thread be held up (never later than its
    // runaway limit). For a motion timed by its caller, who ends it as a second click would. False when
    // another motion is on.
    bool boundMotion(int code, int ms);
    bool motionActive() const { return m_panel.active(); }
    // The step name of the motion switched on last; empty at start.
    QString activeTag() const { return m_panel.activeTag(); }
    int activeCode() const { return m_panel.activeCode(); }
    float stepTicks() const { return m_panel.stepTicks(); }
    QTimer *stepTimer() { return m_panel.stepTimer(); }
    // Opens a step (no motion on) or closes the one being recorded (a motion on), as recording does
    // at each click in Scripting mode.
    void recordScriptStep() { m_panel.recordScriptStep(); }

    // --- Runaway limit
    // The options file's limits, and its reversed motors for the kits given (setKits) by then.
    void setOptions(const ControlOptions &options);
    ControlOptions options() const { return m_options; }
    // How long the motion of `code` may run before it is stopped, in ms; 0 when it is not limited.
    int runLimitMs(int code) const { return m_limit.limitMs(code); }
    // Every motion gets this limit instead of its joint's; nullopt restores them.
    void setRunLimitOverride(std::optional<int> milliseconds) { m_limit.setOverride(milliseconds); }
    // The steps of source that run their motor longer than the joint's whole travel (from firstStep).
    QList<OverlongStep> overlongSteps(ScriptSource &source, int firstStep = 1) const
    {
        return findOverlongSteps(source, firstStep, [this](int code) { return m_limit.limitMs(code); });
    }
    bool runLimitArmed() const { return m_limit.armed(); }

    // --- Run
    // Plays the script of source from firstStep, in a nested event loop, and returns when it is over.
    RunEnd runScript(ScriptSource &source, int firstStep = 1);
    // Stop: the run sends 0 at once and ends.
    void stopRun() { m_run.stop(); }
    bool running() const override { return m_run.running(); }
    RunEnd lastRunEnd() const { return m_run.lastEnd(); }
    // Why a command of the last run did not reach an arm: the first, and every one.
    QString lastRunFailure() const { return m_run.lastFailure(); }
    QStringList lastRunFailures() const { return m_run.failures(); }
    // When each command of the last run was due and went out, kept while asked for; and the CPU time
    // its timing thread took. For measuring runs.
    void setRecordRunTimings(bool on) { m_run.setRecordTimings(on); }
    QList<ScriptRunner::SendTiming> lastRunTimings() const { return m_run.sendTimings(); }
    qint64 lastRunTimingCpuNs() const { return m_run.timingCpuNs(); }
    // The script of the run in progress changed: the steps it has not started yet take the change.
    void scriptChanged() { m_run.scriptChanged(); }
    // A command of the running script did not reach an arm: the run ends as Stop ends it. Any thread.
    void cutRunAfterFailedSend(const QString &why) { m_run.cutAfterFailedSend(why); }
    // The steps of the last run (or the one in progress) that the end-stop rule cut short, in order.
    QList<CutStep> lastRunCutSteps() const { return m_gate.cutSteps(); }

    // --- Pose
    // The monotonic clock the session's times are on, in ns (the runner's).
    static qint64 clockNs() { return ScriptRunner::clockNs(); }
    // The estimate now. Any thread.
    PoseEstimate poseEstimate() const { return m_gate.estimate(); }
    // A copy of the estimator as it stands, to look at what a plan would do. Any thread.
    PoseEstimator poseEstimator() const { return m_gate.estimator(); }
    // "Pose known ± 4°" or "Pose unknown"; told by poseStatusChanged when it changes.
    QString poseStatusText() const { return poseEstimate().statusText(); }
    // "This is the start pose": wherever the arm stands is the pose Return to start brings it back to.
    // Every joint is known from the start on; only a joint known at its ends keeps its end stops.
    void declareStartPose();
    // The joint of `code` stands at the end `code` drives towards (the calibration's key).
    void markAtEnd(int code);
    // Every joint unknown again (an arm moved by hand).
    void forgetPose();
    // While a calibration measures a joint's travel, no end stop and no estimate cuts the motions it
    // sends: only its own cap stops them.
    void setMeasuring(bool measuring) { m_gate.setMeasuring(measuring); }
    // Return to start: the estimate's plan, played as a run (Esc and stopRun end it as any run). While
    // the pose is unknown it is refused, and so is a plan of nothing: refusal then says why, nothing is
    // sent, and it returns RunEnd::Finished.
    RunEnd returnToStart(QString *refusal = nullptr);

Q_SIGNALS:
    void readyChanged(bool ready);
    // The arms open may have changed (attachedArms), Ready or not.
    void armsChanged();
    // The looks of the motion buttons: one lit, all idle, and the code last sent by the panel.
    void lookOn(int code);
    void looksReset();
    void codeShown(int code);
    // Recording in Scripting mode.
    void stepBegun(const QString &function);
    void stepEnded(double seconds);
    // The runaway limit stopped a motion ("Gripper stopped after 2.3 s: end of travel").
    void runLimitReached(const QString &message);
    // The end-stop rule stopped or refused a panel motion ("Elbow at its upper end (estimated)").
    void endStopReached(const QString &message);
    // The pose line changed ("Pose known ± 4°", "Pose unknown").
    void poseStatusChanged(const QString &text);
    // A code reached the arm, or the estimate was told where the arm is: whoever draws it looks again.
    void poseChanged();
    // Return to start is at step `row` (1 ..) of the plan it was worked out with, which
    // poseEstimator().returnToStart() gives just before; told on the session's thread.
    void returnStepStarting(int row);
    // A run was ended from here (Esc, the arm lost, a failed or stalled command): its front end
    // shows the run as stopping.
    void runStopping();
    // An arm stopped taking reports outside a run and has been let go.
    void armStalled();
    // A stop did not reach an arm, tries again included: a motor may still be running. Told on the
    // session's thread.
    void stopFailed(const QString &why);
    // The arm is attached but may not be opened.
    void openDenied();
    void gamepadDenied(const QString &reason);

private:
    Q_INVOKABLE void armEndStop();
    Q_INVOKABLE void tellPoseStatus();
    Q_INVOKABLE void tellStopFailed();
    void onDeadline(quint64 serial);
    void onMotionDeadline(int code);
    void onEndStop();
    // The HID link, then the kits' when given.
    QList<ArmLink *> links() const;
    void followLink(ArmLink *link);
    void onWriteStalled();
    // What the panel's motion asks of the session.
    bool refusesStart(int code) override;
    void limitFollows(int code) override;
    void pauseLimit() override { m_limit.pause(); }
    void sendCode(qint16 code) override { send(code); }
    bool closed() const override { return m_shutDown; }
    void onRunLimit();
    void endRun(RunEnd why, const QString &failure = QString()) { m_run.end(why, failure); }
    void updateGuard();

    std::unique_ptr<HidArmLink> m_hid;
    std::unique_ptr<ArmOutlet> m_outlet;
    std::unique_ptr<Gamepad> m_gamepad;
    RunController m_run;
    KitArmList *m_kits = nullptr;
    bool m_starting = false;
    std::atomic<bool> m_shutDown{false};
    // Another program drives the arm: held keys and the pad start nothing.
    bool m_jogLocked = false;
    // Read by a run's timing thread as it sends.
    std::atomic<bool> m_ready{false};
    // Whether the front end has heard the Ready state once: it hears it at the first count of the arms
    // and then only when it changes.
    bool m_readyTold = false;

    std::function<bool()> m_scriptingMode;
    PanelMotion m_panel;

    ControlOptions m_options;
    RunawayLimit m_limit;
    // Every code passes it, with the send lock; the pose and the end stops are its.
    MotionGate m_gate;
    QTimer m_endStopTimer;
    QString m_poseStatus;

    std::unique_ptr<GuardLink> m_guard;
    bool m_guardWanted = false;
    QString m_guardLog;
    QString m_guardError;
};
