#include "RunController.h"

#include "ScriptRunner.h"

#include <QPointer>

#include <utility>

RunController::RunController(Send send, QObject *parent)
    : QObject(parent), m_runner(std::make_shared<ScriptRunner>())
{
    m_runner->setSender([this, send = std::move(send)](qint16 code) {
        QString why;
        if (!send(code, &why) && !why.isEmpty())
            cutAfterFailedSend(why);
    });
}

RunController::~RunController() = default;

RunEnd RunController::play(ScriptSource &source, int firstStep)
{
    m_active = true;
    m_end = RunEnd::Finished;
    m_failure.clear();
    {
        const std::lock_guard<std::mutex> guard(m_failureLock);
        m_failures.clear();
    }
    // Should this go while the run services its events, the runner stays until the run is over.
    const std::shared_ptr<ScriptRunner> runner = m_runner;
    QPointer<RunController> alive(this);
    runner->RunScript(source, firstStep);
    if (!alive)
        return RunEnd::Stopped;
    m_active = false;
    return m_end;
}

void RunController::stop()
{
    if (running() && m_end == RunEnd::Finished)
        m_end = RunEnd::Stopped;
    // The runner acts on it as soon as the caller's event has been handled.
    m_runner->requestStop();
}

void RunController::end(RunEnd why, const QString &failure)
{
    if (!running() || m_end != RunEnd::Finished)
        return;
    m_end = why;
    m_failure = failure;
    Q_EMIT stopping();
    m_runner->requestStop();
}

void RunController::interrupt()
{
    if (m_end == RunEnd::Finished)
        m_end = RunEnd::Stopped;
    Q_EMIT stopping();
    m_runner->requestStop();
}

void RunController::stopAndWait()
{
    // The run's loop ends as soon as the caller's event is handled.
    if (m_active && m_end == RunEnd::Finished)
        m_end = RunEnd::Stopped;
    m_runner->stopAndWait();
}

void RunController::cutAfterFailedSend(const QString &why)
{
    // From the event loop: a write that failed because the arm has gone has already queued that
    // arm's removal, which ends the run itself and says so in its own words. The reason goes through
    // the mutex and the queued call is made by name, carrying no data of its own.
    {
        const std::lock_guard<std::mutex> guard(m_failureLock);
        m_failures << why;
        if (m_failureWaiting.isEmpty())
            m_failureWaiting = why;
    }
    QMetaObject::invokeMethod(this, "takeFailure", Qt::QueuedConnection);
}

void RunController::takeFailure()
{
    QString why;
    {
        const std::lock_guard<std::mutex> guard(m_failureLock);
        why = std::exchange(m_failureWaiting, QString());
    }
    if (!why.isEmpty())
        end(RunEnd::CommandFailed, why);
}

bool RunController::running() const
{
    return m_active || m_runner->isRunning();
}

bool RunController::playing() const
{
    return m_runner->isRunning();
}

int RunController::sendingRow() const
{
    return m_runner->sendingRow();
}

int RunController::sendingRepetition() const
{
    return m_runner->sendingRepetition();
}

void RunController::setRealtimeScheduling(bool on)
{
    m_runner->setRealtimeScheduling(on);
}

QStringList RunController::failures() const
{
    const std::lock_guard<std::mutex> guard(m_failureLock);
    return m_failures;
}

void RunController::scriptChanged()
{
    m_runner->scriptChanged();
}

void RunController::setRecordTimings(bool on)
{
    m_runner->setRecordTimings(on);
}

QList<ScriptRunner::SendTiming> RunController::sendTimings() const
{
    return m_runner->sendTimings();
}

qint64 RunController::timingCpuNs() const
{
    return m_runner->lastRunTimingCpuNs();
}
