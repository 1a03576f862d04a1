#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "ScriptRunner.h"

// How a run ended.
enum class RunEnd { Finished, Stopped, Disconnected, CommandFailed, Stalled };

// A run of a script, and how it ended. The runner plays the source's steps on its timing thread and
// sends each code through the send function given here, so that what a failed send means is decided
// once: a command that did not reach an arm (and said why) ends the run as Stop ends it. An arm found
// gone says nothing: its removal ends the run in its own words.
//
// The session's thread, except where a member says otherwise.
class RunController : public QObject
{
    Q_OBJECT

public:
    // Sends code to the arms; false with why when it did not reach them. Any thread.
    using Send = std::function<bool(qint16 code, QString *why)>;

    explicit RunController(Send send, QObject *parent = nullptr);
    ~RunController() override;

    // Plays source from firstStep in a nested event loop and returns how the run ended.
    RunEnd play(ScriptSource &source, int firstStep = 1);
    // Stop: the run sends 0 at once and ends.
    void stop();
    // The run ends for why (the first reason given stands), told by stopping().
    void end(RunEnd why, const QString &failure = QString());
    // Esc: the run stops (unless it ends already for another reason) and its front end is told.
    void interrupt();
    // Any thread: a command of the run did not reach an arm.
    void cutAfterFailedSend(const QString &why);
    // Ends a run and waits until its timing thread sends no more; what it ends as stays for a
    // shutdown to say. Not from inside a send.
    void stopAndWait();

    bool running() const;
    // Whether the run's timing thread is playing (any thread).
    bool playing() const;
    // The row and repetition of the step whose code is going out (any thread).
    int sendingRow() const;
    int sendingRepetition() const;
    RunEnd lastEnd() const { return m_end; }
    // Why the first command of the last run that did not reach an arm failed; and every such command's.
    QString lastFailure() const { return m_failure; }
    QStringList failures() const;
    // The script of the run in progress changed: its steps not yet started take the change.
    void scriptChanged();
    // Whether the run in progress is a return to start (any thread).
    bool returning() const { return m_returning.load(); }
    void setReturning(bool returning) { m_returning = returning; }
    void setRealtimeScheduling(bool on);
    // What the runner measured of the last run's sends (recorded only when asked), and its timing
    // thread's CPU time; read once the run is over.
    void setRecordTimings(bool on);
    QList<ScriptRunner::SendTiming> sendTimings() const;
    qint64 timingCpuNs() const;

Q_SIGNALS:
    // The run was ended from here (Esc, the arm lost, a failed or stalled command).
    void stopping();

private:
    Q_INVOKABLE void takeFailure();

    std::shared_ptr<ScriptRunner> m_runner;
    bool m_active = false;
    RunEnd m_end = RunEnd::Finished;
    QString m_failure;
    std::atomic<bool> m_returning{false};
    // A failed send of the run's timing thread, on its way to this thread.
    mutable std::mutex m_failureLock;
    QString m_failureWaiting;
    QStringList m_failures;
};
