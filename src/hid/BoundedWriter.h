#pragma once

#include <QByteArray>

#include <functional>
#include <memory>

// Hands each write to a thread of its own and waits for it a bounded time, so that a device which does
// not take a report (the kernel may wait seconds on a USB control transfer) costs the caller that
// bound and no more. A write that is still stuck when the bound runs out is a failure; until it
// returns, further writes fail at once rather than queue up behind it.
//
// write() may be called from any thread, one caller at a time. The destructor does not wait for a
// stuck write: the thread finishes it on its own and then releases the write function (and with it
// whatever the function holds, such as a file descriptor).
class BoundedWriter
{
public:
    // Returns 0 when the report was written, else an errno value.
    using WriteFunction = std::function<int(const QByteArray &report)>;

    enum class Outcome { Written, Failed, TimedOut, StillBusy };
    struct Result
    {
        Outcome outcome = Outcome::Failed;
        int errorNumber = 0; // for Failed
    };

    BoundedWriter(WriteFunction write, int boundMs);
    ~BoundedWriter();
    BoundedWriter(const BoundedWriter &) = delete;
    BoundedWriter &operator=(const BoundedWriter &) = delete;

    Result write(const QByteArray &report);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    int m_boundMs;
};
