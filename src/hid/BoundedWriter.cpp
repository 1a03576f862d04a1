#include "BoundedWriter.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

using Clock = std::chrono::steady_clock;

struct BoundedWriter::Shared
{
    Shared(WriteFunction f, int boundMs) : write(std::move(f)), bound(std::chrono::milliseconds(boundMs)) {}

    mutable std::mutex lock;
    std::condition_variable changed;
    WriteFunction write;
    const Clock::duration bound;
    std::function<void()> stallHandler;

    // The report waiting for the device, and its number.
    std::optional<QByteArray> waiting;
    quint64 waitingNumber = 0;
    quint64 numbered = 0; // the number of the last report handed over
    quint64 done = 0;     // the number of the last report the device took (or refused)
    int lastError = 0;
    bool busy = false;
    Clock::time_point busySince;
    bool stallTold = false;
    bool quit = false;

    static void writeLoop(const std::shared_ptr<Shared> &self)
    {
        std::unique_lock<std::mutex> guard(self->lock);
        for (;;) {
            self->changed.wait(guard, [&] { return self->quit || self->waiting; });
            // A report still waiting when the writer goes is written all the same: it is the last
            // thing its owner asked the device to do.
            if (!self->waiting)
                return;
            const QByteArray report = std::move(*self->waiting);
            const quint64 number = self->waitingNumber;
            self->waiting.reset();
            self->busy = true;
            self->busySince = Clock::now();
            self->changed.notify_all();
            guard.unlock();
            const int error = self->write(report);
            guard.lock();
            self->busy = false;
            self->lastError = error;
            self->done = number;
            self->changed.notify_all();
        }
    }

    static void watchLoop(const std::shared_ptr<Shared> &self)
    {
        std::unique_lock<std::mutex> guard(self->lock);
        for (;;) {
            self->changed.wait(guard, [&] { return self->quit || (self->busy && !self->stallTold); });
            if (self->quit)
                return;
            const Clock::time_point due = self->busySince + self->bound;
            const quint64 doneBefore = self->done;
            if (self->changed.wait_until(guard, due, [&] { return self->quit || self->done != doneBefore; }))
                continue;
            self->stallTold = true;
            // Called under the lock, so that the destructor, which clears the handler under it, knows
            // that no call is under way once it has.
            if (self->stallHandler)
                self->stallHandler();
        }
    }
};

BoundedWriter::BoundedWriter(WriteFunction write, int boundMs, int graceMs)
    : m_shared(std::make_shared<Shared>(std::move(write), boundMs)), m_graceMs(graceMs)
{
    std::thread(&Shared::writeLoop, m_shared).detach();
    std::thread(&Shared::watchLoop, m_shared).detach();
}

BoundedWriter::~BoundedWriter()
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->quit = true;
    m_shared->stallHandler = nullptr;
    m_shared->changed.notify_all();
}

void BoundedWriter::setStallHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->stallHandler = std::move(handler);
}

bool BoundedWriter::stalled() const
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    return m_shared->stallTold;
}

BoundedWriter::Result BoundedWriter::write(const QByteArray &report)
{
    Shared &s = *m_shared;
    std::unique_lock<std::mutex> guard(s.lock);
    const bool behind = s.busy || s.waiting;
    s.waiting = report;
    const quint64 number = s.waitingNumber = ++s.numbered;
    s.changed.notify_all();
    if (behind)
        return {Outcome::Pending, 0};
    if (!s.changed.wait_for(guard, std::chrono::milliseconds(m_graceMs), [&] { return s.done >= number; }))
        return {Outcome::Pending, 0};
    if (s.lastError != 0)
        return {Outcome::Failed, s.lastError};
    return {Outcome::Written, 0};
}

bool BoundedWriter::drain(qint64 deadlineNs) const
{
    Shared &s = *m_shared;
    std::unique_lock<std::mutex> guard(s.lock);
    const Clock::time_point deadline{std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(deadlineNs))};
    return s.changed.wait_until(guard, deadline, [&] { return !s.busy && !s.waiting; });
}

bool BoundedWriter::handOver(const QByteArray &report, QString *error, const QString &stalledText,
                             const QString &failedText, int *failedErrno)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    // Read before the write: a write that finds the device stalled is not told it went out.
    const bool wasStalled = stalled();
    const Result r = write(report);
    switch (r.outcome) {
    case Outcome::Written:
        return true;
    case Outcome::Failed:
        if (failedErrno)
            *failedErrno = r.errorNumber;
        return fail(failedText.isEmpty() ? QString::fromLocal8Bit(std::strerror(r.errorNumber)) : failedText);
    case Outcome::Pending:
        return !wasStalled || fail(stalledText);
    }
    return false;
}
