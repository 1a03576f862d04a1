#pragma once

#include "ProcessClock.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QEventLoop;

// Where a run gets its script: the steps only. Their commands go out through the runner's sender.
//
// The script is read on the thread that called RunScript: once when the run starts and again after
// each ScriptRunner::scriptChanged(), so that edits, Clear or a load made during the run take effect
// for the steps that have not started yet (the step count and rows, and the repetitions text, which
// is looked at before each repetition).
class ScriptSource
{
public:
    virtual ~ScriptSource() = default;
    // NextStep - 1: the script holds rows 1 .. stepCount().
    virtual int stepCount() = 0;
    virtual QString functionText(int row) = 0;
    virtual QString timeText(int row) = 0;
    // The text of the repetitions box.
    virtual QString repetitionsText() = 0;
    // Called on RunScript's thread as step `row` starts: the place to highlight or print it. The
    // timing thread posts it just before the step's command goes out, so events the send causes on
    // that thread come after it. Not called once a stop has been asked for.
    virtual void stepStarting(int row) { Q_UNUSED(row); }
};

// Plays a script: for each repetition, each step's command is sent and stays in effect for the
// step's time, then the next step's command replaces it; code 0 goes out when all repetitions are
// done or when a stop is acted on. No stop is sent between steps or repetitions.
//
// The schedule runs on a thread of its own, which sleeps until each step's moment and sends the
// step's command itself, so what the caller's thread is doing (painting a window, say) does not delay
// a send. RunScript meanwhile blocks in a nested event loop, so the caller's window keeps working and
// a Stop click runs inside it.
//
// Step times: a step lasts LeadingNumber(time text) seconds; zero, negative or no number means no
// wait. A step's time runs from the scheduled end of the previous step, so a late wake-up is made up
// by the steps after it and delays do not add up over a long script. Only a send that was itself held
// up (its write waited more than HeldUpBoundNs for the arm's lock or the device) restarts the schedule
// from the moment the command went out, so that its step is not cut short.
class ScriptRunner : public QObject
{
    Q_OBJECT
public:
    // Where a step's command goes (0 stops every motor): called from the run's timing thread, and for
    // the code 0 of a stop from the thread that asked for the stop; never two calls at once, but it
    // must not touch anything that only one thread may use.
    using Sender = std::function<void(qint16 code)>;
    // How long a send may take before its step's time counts from when it went out.
    static constexpr qint64 HeldUpBoundNs = 5'000'000;
    // How far ahead of a step's moment the timing thread wakes: time to take the script's latest
    // content and tell the caller's thread which step starts, before one short sleep to the moment
    // itself (a sleep, not a spin: no CPU is burnt).
    static constexpr qint64 WakeLeadNs = 300'000;
    // The pause after each step that takes no time, so that a long run of such steps does not keep a
    // core from every other thread.
    static constexpr qint64 ZeroStepBreatherNs = 50'000;
    // The repetition counter is 16 bits wide.
    static constexpr int MaxRepetitions = 32767;

    explicit ScriptRunner(QObject *parent = nullptr);
    // Set while no run is in progress. Without one, commands go nowhere.
    void setSender(Sender sender) { m_sender = std::move(sender); }
    // Must not be destroyed while RunScript is in progress: stop the run and let it return first.
    ~ScriptRunner() override;

    // Plays the script of source until all repetitions are done or a stop is acted on, then sends
    // code 0 and returns. Does nothing when a run is already in progress (from any thread). The
    // source must outlive the call. If the application quits while a run is in progress, the run ends
    // as on a stop. The first repetition starts at step firstStep; the others, as always, at step 1.
    void RunScript(ScriptSource &source, int firstStep = 1);

    // Asks the run in progress to stop, from any thread: no step command goes out after it, code 0
    // is sent at once (from the calling thread, or right after a send that is under way) and RunScript
    // returns when its thread next handles events. The remaining steps and repetitions are dropped.
    // Ignored when not running.
    void requestStop();
    // requestStop, then waits until the timing thread will call the source no more. For a caller
    // about to take away what the source sends through; not to be called from inside a send.
    void stopAndWait();

    // The source's script changed (RunScript's thread only). The run takes the new content for the
    // steps it has not started yet; many changes in one go are read once, when the thread next
    // handles events. Ignored when not running.
    void scriptChanged();

    bool isRunning() const { return m_running.load(); }
    // The row and the repetition (from 1) of the step whose command went out last, or is going out:
    // for the sender, which is told only the code. 0 before the run's first step.
    int sendingRow() const { return m_sendingRow.load(); }
    int sendingRepetition() const { return m_sendingRepetition.load(); }

    // Real-time scheduling for the timing thread (SCHED_FIFO at the lowest priority), for where other
    // processes keep every core busy and a woken thread can wait a whole scheduler tick for its turn.
    // Off by default. Taken only where the process is allowed to (privileges or an RLIMIT_RTPRIO above
    // 0); otherwise the run goes on with ordinary scheduling.
    void setRealtimeScheduling(bool on) { m_realtime = on; }
    // Whether the last run (or the one in progress) got real-time scheduling.
    bool realtimeGranted() const { return m_realtimeGranted.load(); }

    // Number of repetitions a repetitions value asks for, capped at what the counter can count.
    static double RepetitionCount(double value);

    // Per-send timing of the last run, kept only when enabled (off by default, as a long run would
    // collect a lot): when the command was due and when it went out, on the monotonic clock in ns.
    // The final code 0 is included; the code 0 of a stop is not, as nothing scheduled it. Read it
    // once RunScript has returned.
    struct SendTiming
    {
        qint16 code;
        qint64 scheduledNs;
        qint64 sentNs;
    };
    void setRecordTimings(bool on) { m_recordTimings = on; }
    const QList<SendTiming> &sendTimings() const { return m_timings; }
    // CPU time the timing thread of the last run took, in ns.
    qint64 lastRunTimingCpuNs() const { return m_timingCpuNs; }

    // The monotonic clock the runner schedules on, in ns: the program's one clock.
    static qint64 clockNs() { return ProcessClock::monotonicNs(); }

private:
    struct Step
    {
        int code;          // -1: the function names no motion, nothing is sent
        qint64 durationNs; // 0: no wait
    };
    struct Script
    {
        QList<Step> steps;
        double repetitions = 0;
    };

    std::shared_ptr<const Script> readScript() const;
    void refreshScript();
    void timingThread(quint64 run, int firstStep);
    // sentNs: when the send returned, the code gone out.
    bool sendStep(qint16 code, qint64 scheduledNs, quint64 stepNumber, qint64 *sentNs);
    void sendFinal(qint64 scheduledNs);
    void sendStopNow();
    // Until the deadline or a stop; false on a stop.
    bool sleepUntil(qint64 deadlineNs);
    void sleepExactlyUntil(qint64 deadlineNs);
    bool waitForEventPass(quint64 run);

    // What the timing thread, or a stop asked for on another thread, hands to the runner's thread.
    struct Notice
    {
        enum Kind { StepStarting, EventPass, Quit } kind;
        quint64 run;
        quint64 value; // the row, or the number of the event pass
        quint64 step = 0; // for StepStarting: the how-manieth step of the run it is
    };
    void post(const Notice &notice);
    Q_INVOKABLE void takeNotice();
    void joinTimingThread();

    ScriptSource *m_source = nullptr;
    Sender m_sender;
    QEventLoop *m_loop = nullptr;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_sendingRow{0};
    std::atomic<int> m_sendingRepetition{0};
    bool m_recordTimings = false;
    bool m_realtime = false;
    std::atomic<bool> m_realtimeGranted{false};
    bool m_refreshPending = false;
    std::thread m_thread;

    // Hand-over between RunScript's thread and the timing thread; never held across a send.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<const Script> m_script;
    bool m_stopRequested = false;
    bool m_sending = false;     // the timing thread is inside the sender
    bool m_zeroClaimed = false; // the run's one code 0 (final or stop) has been or is being sent
    bool m_stopSending = false; // a stop's code 0 is going out from the thread that asked
    bool m_threadDone = false;
    quint64 m_stepsSent = 0;    // steps whose code has gone to the source, counted as in Notice::step
    quint64 m_passesAsked = 0;
    quint64 m_passesDone = 0;
    // Numbers the runs, so that a notice of a run that has ended does not act on the next.
    quint64 m_run = 0;
    QList<Notice> m_notices;

    QList<SendTiming> m_timings;
    qint64 m_timingCpuNs = 0;
};
