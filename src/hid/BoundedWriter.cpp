#include "BoundedWriter.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct BoundedWriter::Shared
{
    explicit Shared(WriteFunction f) : write(std::move(f)) {}

    std::mutex lock;
    std::condition_variable changed;
    WriteFunction write;
    QByteArray report;
    quint64 queued = 0;   // number of the last write handed over
    quint64 finished = 0; // number of the last write the thread completed
    int lastError = 0;
    bool busy = false;
    bool quit = false;

    static void run(const std::shared_ptr<Shared> &self)
    {
        std::unique_lock<std::mutex> guard(self->lock);
        for (;;) {
            self->changed.wait(guard, [&] { return self->quit || self->queued != self->finished; });
            if (self->queued == self->finished)
                return; // quit with nothing left to write
            const quint64 number = self->queued;
            const QByteArray report = self->report;
            self->busy = true;
            guard.unlock();
            const int error = self->write(report);
            guard.lock();
            self->busy = false;
            self->lastError = error;
            self->finished = number;
            self->changed.notify_all();
            if (self->quit)
                return;
        }
    }
};

BoundedWriter::BoundedWriter(WriteFunction write, int boundMs)
    : m_shared(std::make_shared<Shared>(std::move(write))), m_boundMs(boundMs)
{
    std::thread(&Shared::run, m_shared).detach();
}

BoundedWriter::~BoundedWriter()
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->quit = true;
    m_shared->changed.notify_all();
}

BoundedWriter::Result BoundedWriter::write(const QByteArray &report)
{
    Shared &s = *m_shared;
    std::unique_lock<std::mutex> guard(s.lock);
    if (s.busy || s.queued != s.finished)
        return {Outcome::StillBusy, 0};
    s.report = report;
    const quint64 number = ++s.queued;
    s.changed.notify_all();
    if (!s.changed.wait_for(guard, std::chrono::milliseconds(m_boundMs),
                            [&] { return s.finished == number; }))
        return {Outcome::TimedOut, 0};
    if (s.lastError != 0)
        return {Outcome::Failed, s.lastError};
    return {Outcome::Written, 0};
}
