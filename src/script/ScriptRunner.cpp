#include "ScriptRunner.h"

#include "RealtimePriority.h"
#include "ScriptNumbers.h"
#include "StepFunctions.h"

#include <QEventLoop>
#include <QThread>

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <chrono>
#include <cmath>

namespace {

// A step longer than this (about 31 years) is as good as endless; capping keeps the arithmetic safe.
constexpr double MaxStepSeconds = 1e9;

qint64 stepDurationNs(double seconds)
{
    if (!(seconds > 0.0))
        return 0;
    if (seconds > MaxStepSeconds)
        seconds = MaxStepSeconds;
    return qint64(std::llround(seconds * 1e9));
}

// The default 50 us timer slack of a thread would be most of our lateness budget; the timing thread
// asks for the least the kernel gives. It is the thread's own setting and goes with the thread.
void takeLeastTimerSlack()
{
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
}

qint64 threadCpuNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Set on a run's timing thread for its whole life.
thread_local bool onTimingThread = false;

} // namespace

ScriptRunner::ScriptRunner(QObject *parent) : QObject(parent) {}

ScriptRunner::~ScriptRunner()
{
    // A runner destroyed under a run (against the rule above) must at least not leave a thread behind.
    stopAndWait();
}

double ScriptRunner::RepetitionCount(double value)
{
    return value > MaxRepetitions ? double(MaxRepetitions) : value;
}

std::shared_ptr<const ScriptRunner::Script> ScriptRunner::readScript() const
{
    auto script = std::make_shared<Script>();
    script->repetitions = RepetitionCount(LeadingNumber(m_source->repetitionsText()));
    const int count = m_source->stepCount();
    script->steps.reserve(qMax(count, 0));
    for (int row = 1; row <= count; ++row) {
        script->steps.append(Step{StepFunctions::code(m_source->functionText(row)),
                                  stepDurationNs(LeadingNumber(m_source->timeText(row)))});
    }
    return script;
}

void ScriptRunner::RunScript(ScriptSource &source, int firstStep)
{
    if (m_running.exchange(true))
        return;
    m_source = &source;
    m_timings.clear();
    m_timingCpuNs = 0;
    m_realtimeGranted = false;
    m_refreshPending = false;
    m_sendingRow = 0;
    m_sendingRepetition = 0;
    std::shared_ptr<const Script> script;
    try {
        script = readScript();
    } catch (...) {
        // A source that cannot be read plays as an empty script.
        script = std::make_shared<Script>();
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_script = std::move(script);
        m_stopRequested = false;
        m_sending = false;
        m_zeroClaimed = false;
        m_stopSending = false;
        m_threadDone = false;
        m_passesAsked = m_passesDone = 0;
        m_stepsSent = 0;
    }

    QEventLoop loop;
    m_loop = &loop;
    quint64 run = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        run = ++m_run;
    }
    m_thread = std::thread([this, run, firstStep] { timingThread(run, qMax(firstStep, 1)); });
    // Ends with the thread's last notice, after the steps it reported; or on a stop.
    loop.exec();
    m_loop = nullptr;

    bool done = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        done = m_threadDone;
    }
    // The application quitting under the run: the arm must not keep moving.
    if (!done)
        requestStop();
    joinTimingThread();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_script.reset();
    }
    m_source = nullptr;
    m_running = false;
}

void ScriptRunner::requestStop()
{
    if (!m_running)
        return;
    bool sendNow = false;
    quint64 run = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        // The run this stop is for, taken with the flag: should that run end and another begin before
        // the quit below is posted, the quit is left for the ended run and the new one plays on.
        run = m_run;
        if (!m_stopRequested) {
            m_stopRequested = true;
            // While the timing thread is inside a send, the code 0 follows that send, from that thread.
            if (!m_sending && !m_zeroClaimed) {
                m_zeroClaimed = true;
                m_stopSending = true;
                sendNow = true;
            }
        }
    }
    m_wake.notify_all();
    if (sendNow) {
        sendStopNow();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopSending = false;
        }
        m_wake.notify_all();
    }
    // Asked on the timing thread itself (a send that stopped the run), the thread's own last notice ends
    // the run, after the stop code it is about to send; one posted now would end it before that code.
    if (QThread::currentThread() == thread()) {
        if (m_loop)
            m_loop->quit();
    } else if (!onTimingThread) {
        post(Notice{Notice::Quit, run, 0});
    }
}

void ScriptRunner::stopAndWait()
{
    requestStop();
    joinTimingThread();
}

void ScriptRunner::joinTimingThread()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
    // A stop asked for on a third thread may still be sending its code 0 through the source.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this] { return !m_stopSending; });
}

void ScriptRunner::sendStopNow()
{
    try {
        if (m_sender)
            m_sender(0);
    } catch (...) {
    }
}

void ScriptRunner::scriptChanged()
{
    if (!m_running || m_refreshPending)
        return;
    m_refreshPending = true;
    QMetaObject::invokeMethod(this, &ScriptRunner::refreshScript, Qt::QueuedConnection);
}

void ScriptRunner::refreshScript()
{
    m_refreshPending = false;
    if (!m_running || !m_source)
        return;
    std::shared_ptr<const Script> script;
    try {
        script = readScript();
    } catch (...) {
        return; // the run goes on with what it had
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_script = std::move(script);
}

void ScriptRunner::timingThread(quint64 run, int firstStep)
{
    onTimingThread = true;
    takeLeastTimerSlack();
    if (m_realtime)
        m_realtimeGranted = RealtimePriority::takeForCurrentThread().granted();
    const qint64 cpuStart = threadCpuNs();

    qint16 counter = 0;
    int row = 0;
    bool repetitionWaited = false;
    bool repetitionStepped = false;
    bool hasPreviousEnd = false;
    qint64 previousEndNs = 0;
    quint64 stepsPosted = 0;
    for (;;) {
        std::shared_ptr<const Script> script;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopRequested)
                break;
            script = m_script;
        }
        if (row == 0 && !(script->repetitions > counter)) {
            if (hasPreviousEnd)
                sleepExactlyUntil(previousEndNs);
            sendFinal(hasPreviousEnd ? previousEndNs : clockNs());
            break;
        }
        if (row == 0 && counter == 0) {
            row = firstStep - 1;
            firstStep = 1;
        }
        const int next = row + 1;
        if (next > script->steps.size()) {
            ++counter;
            row = 0;
            const bool needsPass = repetitionStepped && !repetitionWaited;
            repetitionWaited = false;
            repetitionStepped = false;
            // Steps that never wait would otherwise send as fast as the arm takes them for as long as
            // the repetitions last; one pass of the caller's events between such repetitions also lets
            // the script's changes in.
            if (needsPass && !waitForEventPass(run))
                break;
            continue;
        }

        row = next;
        repetitionStepped = true;
        const Step step = script->steps[row - 1];
        script.reset();
        // Told ahead of the send, while there is time: the highlight comes before the send's own
        // events, and the posting costs the send nothing.
        ++stepsPosted;
        post(Notice{Notice::StepStarting, run, quint64(row), stepsPosted});
        if (hasPreviousEnd)
            sleepExactlyUntil(previousEndNs);
        const qint64 scheduled = hasPreviousEnd ? previousEndNs : clockNs();
        // A late wake-up is made up by the absolute schedule; a send held up on its way (waiting for
        // the arm's lock or for the device) must not shorten its step, so the step's time then runs
        // from the moment its code went out.
        const qint64 sendStart = clockNs();
        qint64 sent = sendStart;
        m_sendingRow = row;
        m_sendingRepetition = int(counter) + 1;
        if (step.code >= 0 && !sendStep(qint16(step.code), scheduled, stepsPosted, &sent))
            break;
        const bool heldUp = sent - sendStart > HeldUpBoundNs;
        const qint64 end = (heldUp ? sent : scheduled) + step.durationNs;
        hasPreviousEnd = true;
        previousEndNs = end;

        if (step.durationNs > 0 && end > clockNs()) {
            repetitionWaited = true;
            if (!sleepUntil(end - WakeLeadNs))
                break;
        } else if (step.code >= 0) {
            // Steps that take no time go out back to back; at real-time priority nothing else of
            // ordinary priority would run on this core until the repetition ends. A short sleep after
            // each lets them in.
            sleepExactlyUntil(clockNs() + ZeroStepBreatherNs);
        }
    }

    m_timingCpuNs = threadCpuNs() - cpuStart;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_threadDone = true;
    }
    post(Notice{Notice::Quit, run, 0});
}

bool ScriptRunner::sendStep(qint16 code, qint64 scheduledNs, quint64 stepNumber, qint64 *sentNs)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopRequested)
            return false;
        m_sending = true;
        m_stepsSent = stepNumber;
    }
    try {
        if (m_sender)
            m_sender(code);
    } catch (...) {
        // A failed send is skipped like any failed statement of a run; the run goes on.
    }
    // Taken once the send has returned: the code has gone out to the arm (or has been given up).
    const qint64 sent = clockNs();
    *sentNs = sent;
    if (m_recordTimings)
        m_timings.append({code, scheduledNs, sent});
    bool stopNow = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_sending = false;
        if (m_stopRequested && !m_zeroClaimed) {
            m_zeroClaimed = true;
            stopNow = true;
        }
    }
    if (stopNow) {
        sendStopNow();
        return false;
    }
    return true;
}

void ScriptRunner::sendFinal(qint64 scheduledNs)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_zeroClaimed)
            return;
        m_zeroClaimed = true;
    }
    sendStopNow();
    const qint64 sent = clockNs();
    if (m_recordTimings)
        m_timings.append({0, scheduledNs, sent});
}

void ScriptRunner::sleepExactlyUntil(qint64 deadlineNs)
{
    if (deadlineNs <= clockNs())
        return;
    timespec due;
    due.tv_sec = time_t(deadlineNs / 1'000'000'000);
    due.tv_nsec = long(deadlineNs % 1'000'000'000);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
}

bool ScriptRunner::sleepUntil(qint64 deadlineNs)
{
    using namespace std::chrono;
    const steady_clock::time_point due{duration_cast<steady_clock::duration>(nanoseconds(deadlineNs))};
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_until(lock, due, [this] { return m_stopRequested; });
    return !m_stopRequested;
}

bool ScriptRunner::waitForEventPass(quint64 run)
{
    quint64 asked = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        asked = ++m_passesAsked;
    }
    post(Notice{Notice::EventPass, run, asked});
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this, asked] { return m_stopRequested || m_passesDone >= asked; });
    return !m_stopRequested;
}

void ScriptRunner::post(const Notice &notice)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_notices.append(notice);
    }
    // One queued call per notice, so that the notices interleave in order with what else the posting
    // thread sends this thread's way (the arm's events of the sends before and after a step). Called by
    // name: the call carries no data of its own, the notice goes through the mutex.
    QMetaObject::invokeMethod(this, "takeNotice", Qt::QueuedConnection);
}

void ScriptRunner::takeNotice()
{
    Notice notice{};
    bool stopped = false;
    quint64 sentSteps = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_notices.isEmpty())
            return;
        notice = m_notices.takeFirst();
        stopped = m_stopRequested;
        sentSteps = m_stepsSent;
        if (notice.kind == Notice::EventPass)
            m_passesDone = qMax(m_passesDone, notice.value);
    }
    // Left over from a run that has ended: not for this one.
    if (notice.run != m_run || !m_running)
        return;
    switch (notice.kind) {
    case Notice::StepStarting:
        // A stop that came between the notice and its step's send kept the step from starting; a step
        // whose code went out is told even when the stop came from that send, such as a failed one.
        if (!m_source || (stopped && notice.step > sentSteps))
            return;
        try {
            m_source->stepStarting(int(notice.value));
        } catch (...) {
        }
        return;
    case Notice::EventPass:
        m_wake.notify_all();
        return;
    case Notice::Quit:
        if (m_loop)
            m_loop->quit();
        return;
    }
}
