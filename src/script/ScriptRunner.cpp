#include "ScriptRunner.h"

#include "ScriptNumbers.h"
#include "StepFunctions.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <pthread.h>
#include <cerrno>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>

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

// The default 50 us timer slack of a thread would be most of our lateness budget; a run asks for the
// least the kernel gives and puts the old value back when it ends.
class TimerSlackScope
{
public:
    TimerSlackScope() : m_old(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0))
    {
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    }
    ~TimerSlackScope()
    {
        if (m_old > 0)
            ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(m_old), 0, 0, 0);
    }
    TimerSlackScope(const TimerSlackScope &) = delete;
    TimerSlackScope &operator=(const TimerSlackScope &) = delete;

private:
    int m_old;
};

// Lowest real-time priority for the thread while in scope, when asked for and allowed.
class RealtimeScope
{
public:
    explicit RealtimeScope(bool wanted)
    {
        if (!wanted)
            return;
        if (::pthread_getschedparam(::pthread_self(), &m_oldPolicy, &m_oldParam) != 0)
            return;
        sched_param param{};
        param.sched_priority = ::sched_get_priority_min(SCHED_FIFO);
        m_granted = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0;
    }
    ~RealtimeScope()
    {
        if (m_granted)
            ::pthread_setschedparam(::pthread_self(), m_oldPolicy, &m_oldParam);
    }
    RealtimeScope(const RealtimeScope &) = delete;
    RealtimeScope &operator=(const RealtimeScope &) = delete;

    bool granted() const { return m_granted; }

private:
    bool m_granted = false;
    int m_oldPolicy = SCHED_OTHER;
    sched_param m_oldParam{};
};

} // namespace

ScriptRunner::ScriptRunner(QObject *parent) : QObject(parent)
{
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd >= 0) {
        m_notifier = new QSocketNotifier(m_timerFd, QSocketNotifier::Read, this);
        m_notifier->setEnabled(false);
        connect(m_notifier, &QSocketNotifier::activated, this, &ScriptRunner::onTimerFired);
    } else {
        // Out of descriptors: Qt's precise timer still keeps steps to about a millisecond.
        m_fallbackTimer = new QTimer(this);
        m_fallbackTimer->setSingleShot(true);
        m_fallbackTimer->setTimerType(Qt::PreciseTimer);
        connect(m_fallbackTimer, &QTimer::timeout, this, &ScriptRunner::onTimerFired);
    }
}

ScriptRunner::~ScriptRunner()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_timerFd >= 0)
        ::close(m_timerFd);
}

qint64 ScriptRunner::clockNs()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double ScriptRunner::RepetitionCount(double value)
{
    return value > MaxRepetitions ? double(MaxRepetitions) : value;
}

void ScriptRunner::RunScript(ScriptSource &source, int firstStep)
{
    if (m_running)
        return;
    m_running = true;
    m_source = &source;
    m_stopRequested = false;
    m_finished = false;
    m_counter = 0;
    m_row = 0;
    m_firstStep = qMax(firstStep, 1);
    m_repetitionWaited = false;
    m_repetitionStepped = false;
    m_hasPreviousEnd = false;
    m_timings.clear();

    TimerSlackScope slack;
    RealtimeScope realtime(m_realtime);
    m_realtimeGranted = realtime.granted();
    QEventLoop loop;
    m_loop = &loop;
    if (m_notifier)
        m_notifier->setEnabled(true);

    advance();
    if (!m_finished && !m_stopRequested)
        loop.exec();

    m_loop = nullptr;
    disarm();
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (!m_finished) {
        // A stop, or the application quitting under the run: the arm must not keep moving.
        try {
            m_source->sendArmCommand(0);
        } catch (...) {
        }
    }
    m_stopRequested = false;
    m_source = nullptr;
    m_running = false;
}

void ScriptRunner::requestStop()
{
    if (!m_running)
        return;
    m_stopRequested = true;
    if (m_loop)
        m_loop->quit();
}

void ScriptRunner::advance()
{
    for (;;) {
        if (m_stopRequested) {
            if (m_loop)
                m_loop->quit();
            return;
        }
        if (m_row == 0) {
            const double repetitions = RepetitionCount(LeadingNumber(m_source->repetitionsText()));
            if (!(repetitions > m_counter)) {
                finish();
                return;
            }
            if (m_counter == 0) {
                m_row = m_firstStep - 1;
                m_firstStep = 1;
            }
        }

        const int row = m_row + 1;
        if (row > m_source->stepCount()) {
            ++m_counter;
            m_row = 0;
            const bool needsPass = m_repetitionStepped && !m_repetitionWaited;
            m_repetitionWaited = false;
            m_repetitionStepped = false;
            if (needsPass) {
                // Steps that never wait would otherwise shut the window out for as long as the
                // repetitions last; give it one pass of events before the next.
                armAt(clockNs());
                return;
            }
            continue;
        }

        m_row = row;
        m_repetitionStepped = true;
        const QString function = m_source->functionText(row);
        const qint64 duration = stepDurationNs(LeadingNumber(m_source->timeText(row)));
        const qint64 now = clockNs();
        const qint64 scheduled = m_hasPreviousEnd ? m_previousEndNs : now;
        const bool onTime = m_hasPreviousEnd && now - m_previousEndNs <= OnTimeToleranceNs;
        const qint64 end = (onTime ? m_previousEndNs : now) + duration;

        try {
            m_source->stepStarting(row);
        } catch (...) {
        }
        const int code = StepFunctions::code(function);
        if (code >= 0)
            send(qint16(code), scheduled);
        m_hasPreviousEnd = true;
        m_previousEndNs = end;

        if (duration > 0 && !m_stopRequested && end > clockNs()) {
            m_repetitionWaited = true;
            armAt(end);
            return;
        }
    }
}

void ScriptRunner::finish()
{
    send(0, m_hasPreviousEnd ? m_previousEndNs : clockNs());
    m_finished = true;
    if (m_loop)
        m_loop->quit();
}

void ScriptRunner::send(qint16 code, qint64 scheduledNs)
{
    const qint64 sent = clockNs();
    try {
        m_source->sendArmCommand(code);
    } catch (...) {
        // A failed send is skipped like any failed statement of a run; the run goes on.
    }
    if (m_recordTimings)
        m_timings.append({code, scheduledNs, sent});
}

void ScriptRunner::onTimerFired()
{
    if (m_timerFd >= 0) {
        quint64 expirations = 0;
        if (::read(m_timerFd, &expirations, sizeof expirations) != sizeof expirations)
            return; // woken for nothing; the timer is still armed
    }
    if (!m_running || m_finished)
        return;
    if (m_deadlineNs > clockNs()) {
        timespec due;
        due.tv_sec = time_t(m_deadlineNs / 1'000'000'000);
        due.tv_nsec = long(m_deadlineNs % 1'000'000'000);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
    }
    advance();
}

void ScriptRunner::armAt(qint64 deadlineNs)
{
    m_deadlineNs = deadlineNs;
    const qint64 wakeNs = deadlineNs - WakeLeadNs;
    if (m_timerFd >= 0) {
        itimerspec when{};
        // An all-zero it_value would disarm the timer instead of firing at once.
        const qint64 at = wakeNs > 0 ? wakeNs : 1;
        when.it_value.tv_sec = time_t(at / 1'000'000'000);
        when.it_value.tv_nsec = long(at % 1'000'000'000);
        ::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &when, nullptr);
        return;
    }
    const qint64 remaining = wakeNs - clockNs();
    const qint64 ms = remaining > 0 ? (remaining + 999'999) / 1'000'000 : 0;
    m_fallbackTimer->start(int(std::min<qint64>(ms, std::numeric_limits<int>::max())));
}

void ScriptRunner::disarm()
{
    m_deadlineNs = 0;
    if (m_timerFd >= 0) {
        const itimerspec off{};
        ::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &off, nullptr);
        quint64 expirations = 0;
        while (::read(m_timerFd, &expirations, sizeof expirations) == sizeof expirations) {
        }
    } else {
        m_fallbackTimer->stop();
    }
}
