#pragma once

#include "ControlOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class ArmDeviceList;
class Gamepad;
class HIDagentX;
class KitArmList;
class HidTransport;
class ScriptRunner;
class ScriptSource;

// Everything the program does with the arm, for whichever front end drives it: the window, with its
// buttons, keys and grid, or tessaro-cli.
//
// - Connection: the HID component, the device objects bound to the arm's interfaces (`devices()`),
//   the USB interface kits when given (`setKits`), and the Ready state, which follows the open
//   interfaces whose names carry the device identity, and the open kits.
// - Motion: the panel's start, stop and switch of a motion (`click`), held keys and pad controls
//   (`jogPress`, `jogRelease`), Esc (`stopEverything`) and the runaway limit. How the buttons look is
//   the front end's: it hears `lookOn`, `looksReset` and `codeShown`.
// - Gamepad: the pad that drives the arm as keys do.
// - Run: the script runner, and why a run ended.
// - Recording: `stepBegun` and `stepEnded`, with the step's time in seconds, for the front end to
//   write as script steps. The motion's time is counted in ticks of `stepTimer()` (250 ms), as the
//   recorded steps have always been.
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

    static constexpr int ArmVendorId = 7791;
    static constexpr int ArmProductId = 4371;
    // A motor stopped by the limit has had at least this long, whatever its joint's travel time.
    static constexpr int RunLimitFloorMs = 2000;
    // A motion started again within this time of its stop goes on with the run time it had.
    static constexpr int RunLimitGapMs = 1000;

    // The transport is not owned and must outlive the session.
    explicit ArmSession(HidTransport *transport, QObject *parent = nullptr);
    ~ArmSession() override;

    HIDagentX &agent() const { return *m_agent; }
    ArmDeviceList &devices() const { return *m_devices; }
    Gamepad &gamepad() const { return *m_gamepad; }
    ScriptRunner &runner() const { return *m_runner; }

    // --- Connection
    // The text that names the arm in an interface's device name; empty matches every interface.
    void setDeviceIdentity(const QString &identity) { m_identity = identity; }
    QString deviceIdentity() const { return m_identity; }
    bool deviceNameMatches(const QString &deviceName) const;
    // Starts the component, opens the arm's interfaces and sets the Ready state from them, then
    // starts following the pad unless told not to. Each step runs even when an earlier one failed.
    void start(bool followGamepad = true);
    // Ends a run, sends 0 while Ready (unless told not to: a run that ended has sent its own), closes
    // the interfaces and stops following the pad. Nothing is sent afterwards.
    void shutDown(bool sendStop = true);
    bool isShutDown() const { return m_shutDown; }
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
    // Writes the code to every arm, HID arms and kits alike. False when it did not reach every arm
    // (not Ready, refused or not written); error then says why (the first failure), unless the
    // session was simply not Ready or an arm was found gone. Any thread.
    bool send(qint16 code, QString *error = nullptr);

    // --- Interface kits
    // The kits driven beside the HID arms (not owned; the list must outlive the session). Set before
    // start(): the session starts and stops the list with itself, counts its kits as arms for Ready,
    // sends them every code, and takes a kit's refusal, stall and removal as a HID arm's.
    void setKits(KitArmList *kits);
    KitArmList *kits() const { return m_kits; }

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
    // A run was ended from here (Esc, the arm lost, a failed or stalled command): its front end
    // shows the run as stopping.
    void runStopping();
    // An arm stopped taking reports outside a run and has been let go.
    void armStalled();
    // The arm is attached but may not be opened.
    void openDenied();
    void gamepadDenied(const QString &reason);

private:
    Q_INVOKABLE void takeFailure();
    void onArrival();
    void onIntfClosed(int numStillOpen, const QString &name, int handle);
    void onWriteStalled();
    void onGamepadMotion(int code);
    void lightAndSend(int code);
    void stopPanelMotion();
    void armRunLimit(int code);
    void pauseRunLimit();
    void onRunLimit();
    void endRun(RunEnd why, const QString &failure = QString());

    HidTransport *m_transport;
    std::unique_ptr<HIDagentX> m_agent;
    std::unique_ptr<ArmDeviceList> m_devices;
    std::unique_ptr<Gamepad> m_gamepad;
    std::shared_ptr<ScriptRunner> m_runner;
    KitArmList *m_kits = nullptr;
    QString m_identity;
    bool m_starting = false;
    bool m_shutDown = false;
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
};
