#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// Hands each write to a thread of its own, so that a device which does not take a report (the kernel
// may wait seconds on a USB control transfer) never holds up the caller.
//
// A report handed to an idle device is waited for a short grace time, which an ordinary write takes
// well inside; the caller then knows whether it was written or failed. A report that finds a write
// still under way does not wait at all: it waits in the writer, in place of any report that was waiting
// there already, and goes out as soon as the device takes the one before it. The last report asked for
// is therefore always the last one the device receives: a stop sent behind a stuck motion code follows
// it, and nothing follows the stop.
//
// A write under way for longer than the bound has stalled: the stall handler is called once, from a
// watch thread of the writer's, so that its owner can give the device up and say so.
//
// write() may be called from any thread. The destructor does not wait for a stuck write: the thread
// finishes it, and the report waiting behind it, on its own and then releases the write function (and
// with it whatever the function holds, such as a file descriptor). No stall is told after destruction.
class BoundedWriter
{
public:
    // Returns 0 when the report was written, else an errno value.
    using WriteFunction = std::function<int(const QByteArray &report)>;

    // How long a report handed to an idle device is waited for.
    static constexpr int DefaultGraceMs = 20;

    enum class Outcome {
        Written,
        Failed,
        // Not written yet: under way beyond the grace time, or waiting behind a write under way.
        Pending,
    };
    struct Result
    {
        Outcome outcome = Outcome::Failed;
        int errorNumber = 0; // for Failed
    };

    BoundedWriter(WriteFunction write, int boundMs, int graceMs = DefaultGraceMs);
    ~BoundedWriter();
    BoundedWriter(const BoundedWriter &) = delete;
    BoundedWriter &operator=(const BoundedWriter &) = delete;

    Result write(const QByteArray &report);
    // A write as a connection tells its caller of it: true when the report went out, or waits behind a
    // write under way that has not stalled; otherwise false with *error saying why: failedText for a
    // failure (the error's own text when empty), its errno value in *failedErrno, or stalledText once the
    // device has stalled. The report is handed over either way, so that it goes out should the device
    // recover.
    bool handOver(const QByteArray &report, QString *error, const QString &stalledText,
                  const QString &failedText = QString(), int *failedErrno = nullptr);
    // Called (at most once) when a write has been under way longer than the bound. It runs on the
    // writer's watch thread and must not call back into this writer.
    void setStallHandler(std::function<void()> handler);
    // True once a write has been under way longer than the bound.
    bool stalled() const;
    // Waits until every report asked for has gone out, at most until deadline (steady clock, ns since
    // its epoch); true when they have. For an owner about to go, such as a program that is ending,
    // whose last report is a stop.
    bool drain(qint64 deadlineNs) const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    int m_graceMs;
};
