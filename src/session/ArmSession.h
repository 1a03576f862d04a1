#pragma once

#include "ArmOutlet.h"
#include "ControlOptions.h"
#include "PoseEstimator.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
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
class ScriptRunner;
class ScriptSource;

// Everything the program does with the arm, for whichever front end drives it: the window, with its
// buttons, keys and grid, or tessaro-cli.
//
// - Connection: the links to the arms (ArmLink): the HID boards' (the HID component and the device
//   objects bound to the arm's interfaces, `devices()`) and the USB interface kits' when given
//   (`setKits`); and the Ready state, which follows the arms the links have open (for the HID board,
//   the open interfaces whose names carry the device identity).
// - Motion: the panel's start, stop and switch of a motion (`click`), held keys and pad controls
//   (`jogPress`, `jogRelease`), Esc (`stopEverything`) and the runaway limit. How the buttons look is
//   the front end's: it hears `lookOn`, `looksReset` and `codeShown`.
// - Gamepad: the pad that drives the arm as keys do.
// - Run: the script runner, and why a run ended.
// - Recording: `stepBegun` and `stepEnded`, with the step's time in seconds, for the front end to
//   write as script steps. The motion's time is counted in ticks of `stepTimer()` (250 ms), as the
//   recorded steps have always been.
// - Pose: where the arm is, estimated from every code that reached it and when (the arm has no
//   sensors), the end stops that estimate holds, the start pose and the way back to it.
// - The way out: every code for every arm, the light included, goes through one ArmOutlet, which
//   puts a deadline on each motion (the runaway limit's, in runs too) and confirms each stop.
//
// Locks, always taken in this order and released in the reverse: the session's send lock
// (`m_sendLock`: the pose, the end stop, the cut steps, the override), then the outlet's, then each
// link's own (the HID component's `agent().lock()`, the kit list's), then each device writer's. The
// links tell of their arms coming and going with none of their locks held (ArmLink), so the session's
// handlers take theirs afresh. The outlet's watch thread calls back (onDeadline) holding none of them
// and takes them in the same order.
//
// Everything runs on the thread that made the session, except `send`, which a run's timing thread
// calls too.
class ArmSession : public QObject
{
    Q_OBJECT

public:
    // Where a held motion comes from: a key or a pad control; each holds at most one motion.
    enum class Input { Key, Pad };
    // How the last run ended.
    enum class RunEnd { Finished, Stopped, Disconnected, CommandFailed, Stalled };
    // A step of a run that the end-stop rule, or its motion's time limit, cut short.
    struct CutStep
    {
        enum class Why { EndStop, TimeLimit };
        int row = 0;
        int repetition = 0;
        int code = 0;
        Why why = Why::EndStop;
        // For TimeLimit: how long the motion had run, steps of the same motion before it included.
        double seconds = 0.0;
        // "Step 12 (ElbowUp) of repetition 1 cut short: Elbow at its upper end (estimated)", or
        // "… cut short: Wrist stopped after 9.0 s: time limit"
        QString text() const;
    };
    // A step that runs its motor longer than the joint's whole travel, found before a run.
    struct OverlongStep
    {
        int row = 0;
        int code = 0;
        double seconds = 0.0;
        // "Step 4 (WristUp, 10 s) runs longer than the wrist's whole travel (6 s): it will be stopped
        // after 9 s", or "…: nothing will stop it, the runaway limit is off"
        QString text;
    };

    // A motor stopped by the limit has had at least this long, whatever its joint's travel time.
    static constexpr int RunLimitFloorMs = 2000;
    // A motion started again within this time of its stop goes on with the run time it had.
    static constexpr int RunLimitGapMs = 1000;
    // The same motion asked for again within this time of the end-stop rule's stop or refusal goes
    // past the estimated end, once.
    static constexpr int EndStopOverrideMs = 2000;
    // Overrides of one joint towards one end go past it this long in all, until the joint has been
    // driven the other way.
    static constexpr int EndStopOverrideBudgetMs = 500;
    // A panel motion's deadline at the way out comes this long after its runaway limit, which stops
    // it first as a second click would; the deadline is there for when the limit's timer cannot run.
    static constexpr int PanelDeadlineGraceMs = 200;

    // The transport is not owned and must outlive the session.
    explicit ArmSession(HidTransport *transport, QObject *parent = nullptr);
    ~ArmSession() override;

    HIDagentX &agent() const;
    ArmDeviceList &devices() const;
    Gamepad &gamepad() const { return *m_gamepad; }
    ScriptRunner &runner() const { return *m_runner; }

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
    // Ready exactly while an arm interface is open; told by readyChanged when it changes. Losing the
    // arm during a run ends the run (RunEnd::Disconnected).
    void updateConnection();
    bool isReady() const { return m_ready; }
    // Sets the Ready state itself, as the status looks of a front end do.
    void setReady(bool ready) { m_ready = ready; }
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
    bool lastStopConfirmed() const { return m_lastStopConfirmed.load(); }

    // --- Guard
    // Whether start() starts tessaro-guard, which stops the open arms should the program die; with a
    // virtual arm's log, that log is its target. Set before start(). The guard is told the arms as they
    // come and go, and dismissed by a shutDown after a stop that went out.
    void setGuard(bool on, const QString &virtualArmLog = QString());
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
    bool scriptingMode() const { return m_scriptingMode && m_scriptingMode(); }
    // A click on the motion button of `code`: start, stop (the lit one again) or switch.
    void click(int code);
    // The choice of Scripting: the motion state ends, the motor runs on, its button stays lit.
    void endMotionState();
    // Esc: during a run this is the run's Stop (told by stopRequested); otherwise it ends the motion
    // that is on as its second click would, or sends 0 and puts out a button left lit.
    void stopEverything();
    void jogPress(Input input, int code);
    void jogRelease(Input input, int code);
    bool motionActive() const { return m_motionActive; }
    // The step name of the motion switched on last; empty at start.
    QString activeTag() const { return m_activeTag; }
    int activeCode() const;
    float stepTicks() const { return m_stepTicks; }
    QTimer *stepTimer() const { return m_stepTimer; }
    // Opens a step (no motion on) or closes the one being recorded (a motion on), as recording does
    // at each click in Scripting mode.
    void recordScriptStep();

    // --- Runaway limit
    // The options file's limits, and its reversed motors for the kits given (setKits) by then.
    void setOptions(const ControlOptions &options);
    ControlOptions options() const { return m_options; }
    // How long the motion of `code` may run before it is stopped, in ms; 0 when it is not limited.
    int runLimitMs(int code) const;
    // Every motion gets this limit instead of its joint's; nullopt restores them.
    void setRunLimitOverride(std::optional<int> milliseconds) { m_runLimitOverride = milliseconds; }
    // The steps of source that run their motor longer than the joint's whole travel (from firstStep).
    QList<OverlongStep> overlongSteps(ScriptSource &source, int firstStep = 1) const;
    bool runLimitArmed() const { return m_runLimitTimer.isActive(); }

    // --- Run
    // Plays the script of source from firstStep, in a nested event loop, and returns when it is over.
    RunEnd runScript(ScriptSource &source, int firstStep = 1);
    // Stop: the run sends 0 at once and ends.
    void stopRun();
    bool running() const;
    RunEnd lastRunEnd() const { return m_runEnd; }
    // Why a command of the last run did not reach an arm.
    QString lastRunFailure() const { return m_runFailure; }
    // A command of the running script did not reach an arm: the run ends as Stop ends it. Any thread.
    void cutRunAfterFailedSend(const QString &why);
    // The steps of the last run (or the one in progress) that the end-stop rule cut short, in order.
    QList<CutStep> lastRunCutSteps() const;

    // --- Pose
    // The monotonic clock the session's times are on, in ns (the runner's).
    static qint64 clockNs();
    // The estimate now. Any thread.
    PoseEstimate poseEstimate() const;
    // A copy of the estimator as it stands, to look at what a plan would do. Any thread.
    PoseEstimator poseEstimator() const;
    // "Pose known ± 4°" or "Pose unknown"; told by poseStatusChanged when it changes.
    QString poseStatusText() const;
    // "This is the start pose": wherever the arm stands is the pose Return to start brings it back to.
    // Every joint is known from the start on; only a joint known at its ends keeps its end stops.
    void declareStartPose();
    // The joint of `code` stands at the end `code` drives towards (the calibration's key).
    void markAtEnd(int code);
    // Every joint unknown again (an arm moved by hand).
    void forgetPose();
    // While a calibration measures a joint's travel, no end stop and no estimate cuts the motions it
    // sends: only its own cap stops them.
    void setMeasuring(bool measuring);
    // Return to start: the estimate's plan, played as a run (Esc and stopRun end it as any run). While
    // the pose is unknown it is refused, and so is a plan of nothing: refusal then says why, nothing is
    // sent, and it returns RunEnd::Finished.
    RunEnd returnToStart(QString *refusal = nullptr);
    // Whether the run in progress is a return to start.
    bool returning() const { return m_returning.load(); }

Q_SIGNALS:
    void readyChanged(bool ready);
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
    Q_INVOKABLE void takeFailure();
    Q_INVOKABLE void armEndStop();
    Q_INVOKABLE void tellPoseStatus();
    Q_INVOKABLE void tellStopFailed();
    bool sendLocked(qint16 code, QString *error, bool *heard = nullptr);
    // What the session keeps of a code the arm took: the pose, the end stop, the override's use.
    void noteSent(qint16 out, qint64 nowNs);
    // Whether a stop went out, for the guard and the front end; a stop that did not is told.
    void noteDelivery(qint16 out, const ArmOutlet::Delivery &delivery);
    qint64 motionDeadlineNs(qint16 code, qint64 nowNs, bool inRun, bool overriding, double overrideSeconds);
    void onDeadline(quint64 serial);
    void onMotionDeadline(int code);
    qint64 overrideLeftNs(int code) const;
    bool endStopRefuses(int code);
    void onEndStop();
    void notePoseChange();
    // The HID link, then the kits' when given.
    QList<ArmLink *> links() const;
    void followLink(ArmLink *link);
    void onWriteStalled();
    void onGamepadMotion(int code);
    void lightAndSend(int code);
    void stopPanelMotion();
    void armRunLimit(int code);
    void pauseRunLimit();
    void onRunLimit();
    void endRun(RunEnd why, const QString &failure = QString());
    void updateGuard();

    std::unique_ptr<HidArmLink> m_hid;
    std::unique_ptr<ArmOutlet> m_outlet;
    std::unique_ptr<Gamepad> m_gamepad;
    std::shared_ptr<ScriptRunner> m_runner;
    KitArmList *m_kits = nullptr;
    bool m_starting = false;
    std::atomic<bool> m_shutDown{false};
    // Read by a run's timing thread as it sends.
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_stopping{false};

    std::function<bool()> m_scriptingMode;
    bool m_motionActive = false;
    QString m_activeTag;
    float m_stepTicks = 0;
    QTimer *m_stepTimer;
    // The code the panel sent last; -1 before any.
    int m_panelCode = -1;
    int m_keyJogCode = -1;
    int m_padJogCode = -1;
    int m_gamepadCode = -1;

    ControlOptions m_options;
    std::optional<int> m_runLimitOverride;
    QTimer m_runLimitTimer;
    QElapsedTimer m_runLimitClock;
    qint64 m_runLimitRanMs = 0;
    QElapsedTimer m_runLimitPause;
    int m_runLimitCode = -1;

    bool m_runActive = false;
    RunEnd m_runEnd = RunEnd::Finished;
    QString m_runFailure;
    // A failed send of the run's timing thread, on its way to this thread.
    std::mutex m_failureLock;
    QString m_failureWaiting;

    // Held across every send, so that what the estimate hears is exactly what went out, in order, and
    // a stop at an estimated end goes to the motion it was meant for and to no later one. Taken before
    // the outlet's and the links' locks, never after them.
    mutable std::mutex m_sendLock;
    PoseEstimator m_pose;
    // Codes that have gone out, counted; an end stop is for one of them.
    quint64 m_sendSerial = 0;
    // The end stop of the motion in force: its send, its code and when it is due (ns; 0 for none).
    quint64 m_endStopSerial = 0;
    int m_endStopCode = 0;
    qint64 m_endStopDueNs = 0;
    // The row and repetition of the run's step whose code went out last.
    int m_endStopRow = 0;
    int m_endStopRepetition = 0;
    QTimer m_endStopTimer;
    QList<CutStep> m_cutSteps;
    // The panel motion the rule stopped or refused last, and when: asked for again in time, it passes.
    int m_overrideCode = -1;
    QElapsedTimer m_overrideClock;
    // The motion that was let past its estimated end; it stops when its joint's override is used up.
    int m_overriding = -1;
    // When the override motion went out (0: none on), and what overrides of each joint's ends (towards
    // its minimum, its maximum) have used since it was last driven the other way, in ns.
    qint64 m_overrideStartNs = 0;
    std::array<std::array<qint64, 2>, ArmJointCount> m_overrideUsedNs{};
    // The run's motions and their time limits: a motion goes on through consecutive steps of its
    // code, and may run until its deadline (0: no limit). The limits are taken as the run starts.
    std::array<int, 11> m_runLimitsMs{};
    int m_runMotionCode = -1;
    qint64 m_runMotionStartNs = 0;
    qint64 m_runMotionDeadlineNs = 0;
    // The code the arms were sent last, with its step's row and repetition in a run.
    int m_lastCode = 0;
    int m_lastRow = 0;
    int m_lastRepetition = 0;
    // A stop that did not go out, on its way to this thread; whether the last stop sent reached every
    // arm (lastStopConfirmed), and whether the last code sent was such a stop (the guard may stand down).
    QString m_stopFailure;
    std::atomic<bool> m_lastStopConfirmed{true};
    std::atomic<bool> m_stopConfirmed{false};
    std::atomic<bool> m_returning{false};
    QString m_poseStatus;

    std::unique_ptr<GuardLink> m_guard;
    bool m_guardWanted = false;
    QString m_guardLog;
    QString m_guardError;
    bool m_measuring = false;
};
