#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QtGlobal>

class QEventLoop;
class QSocketNotifier;
class QTimer;

// Where a run gets its script and where its commands go. The runner asks for everything anew at the
// moment it needs it, so that edits, Clear or a load made while the run services events take effect:
// the step count before each step, a row's texts when that step starts, the repetitions text before
// each repetition.
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
    // Sends a command code to the arm (0 stops every motor).
    virtual void sendArmCommand(qint16 code) = 0;
    // Called as step `row` starts, before its command goes out: the place to highlight or print it.
    virtual void stepStarting(int row) { Q_UNUSED(row); }
};

// Plays a script: for each repetition, each step's command is sent and stays in effect for the
// step's time, then the next step's command replaces it; code 0 goes out when all repetitions are
// done or when a stop is acted on. No stop is sent between steps or repetitions.
//
// RunScript blocks in a nested event loop, so the caller's window keeps working and a Stop click
// runs inside it. Nothing polls: each step's end is a timer on the monotonic clock, precise to a few
// microseconds, and the next step's command is sent straight from the handler of that timer.
//
// Step times: a step lasts LeadingNumber(time text) seconds; zero, negative or no number means no
// wait. A step's time normally runs from the scheduled end of the previous step, so small wake-up
// delays do not add up over a long script. When a step's command goes out more than 1 ms after that
// moment (the window was busy), its time runs from the moment the command went out instead, so no
// step is cut short by an earlier delay.
class ScriptRunner : public QObject
{
    Q_OBJECT
public:
    // How far a send may trail the scheduled moment and still count as on time.
    static constexpr qint64 OnTimeToleranceNs = 1'000'000;
    // How far ahead of a step's end the timer wakes the event loop. Handing a wake-up through the loop
    // takes some tens of microseconds; the rest of the lead is slept off in one short sleep, which
    // lands closer to the moment than the loop would (a sleep, not a spin: no CPU is burnt).
    static constexpr qint64 WakeLeadNs = 300'000;
    // The repetition counter is 16 bits wide.
    static constexpr int MaxRepetitions = 32767;

    explicit ScriptRunner(QObject *parent = nullptr);
    // Must not be destroyed while RunScript is in progress: stop the run and let it return first.
    ~ScriptRunner() override;

    // Plays the script of source until all repetitions are done or a stop is acted on, then sends
    // code 0 and returns. Does nothing when a run is already in progress. The source must outlive
    // the call. If the application quits while a run is in progress, the run ends as on a stop.
    // The first repetition starts at step firstStep; the others, as always, at step 1.
    void RunScript(ScriptSource &source, int firstStep = 1);

    // Asks the run in progress to stop: the event pass that is under way finishes, code 0 is sent and
    // RunScript returns. The remaining steps and repetitions are dropped. Ignored when not running.
    void requestStop();

    bool isRunning() const { return m_running; }

    // Real-time scheduling for the calling thread while a run is in progress (SCHED_FIFO at the lowest
    // priority), for where other processes keep every core busy and a woken thread can wait a whole
    // scheduler tick for its turn. Off by default. Taken only where the process is allowed to
    // (privileges or an RLIMIT_RTPRIO above 0); otherwise the run goes on with ordinary scheduling.
    // The thread's previous policy is restored when the run ends.
    void setRealtimeScheduling(bool on) { m_realtime = on; }
    // Whether the last run (or the one in progress) got real-time scheduling.
    bool realtimeGranted() const { return m_realtimeGranted; }

    // Number of repetitions a repetitions value asks for, capped at what the counter can count.
    static double RepetitionCount(double value);

    // Per-send timing of the last run, kept only when enabled (off by default, as a long run would
    // collect a lot): when the command was due and when it went out, on the monotonic clock in ns.
    // The final code 0 is included; the code 0 of a stop is not, as nothing scheduled it.
    struct SendTiming
    {
        qint16 code;
        qint64 scheduledNs;
        qint64 sentNs;
    };
    void setRecordTimings(bool on) { m_recordTimings = on; }
    const QList<SendTiming> &sendTimings() const { return m_timings; }

    // The monotonic clock the runner schedules on, in ns.
    static qint64 clockNs();

private:
    void advance();
    void onTimerFired();
    void armAt(qint64 deadlineNs);
    void disarm();
    void send(qint16 code, qint64 scheduledNs);
    void finish();

    ScriptSource *m_source = nullptr;
    QEventLoop *m_loop = nullptr;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_finished = false;
    bool m_recordTimings = false;
    bool m_realtime = false;
    bool m_realtimeGranted = false;

    qint16 m_counter = 0;
    int m_row = 0;
    int m_firstStep = 1;
    bool m_repetitionWaited = false;
    bool m_repetitionStepped = false;
    bool m_hasPreviousEnd = false;
    qint64 m_previousEndNs = 0;

    // When the armed wake-up is really due; the timer itself goes off a little earlier.
    qint64 m_deadlineNs = 0;
    int m_timerFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_fallbackTimer = nullptr;

    QList<SendTiming> m_timings;
};
