#pragma once

#include <QString>

#include <sys/types.h>

class QDBusConnection;

// Real-time scheduling for a run's timing thread.
//
// A thread of a process that may take real-time scheduling itself (root, CAP_SYS_NICE, a raised
// RLIMIT_RTPRIO) takes SCHED_FIFO at the lowest real-time priority. An ordinary user's process may
// not, but on a desktop RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus, the service audio
// servers ask) hands real-time scheduling to a thread of a process whose RLIMIT_RTTIME is bounded:
// the kernel then stops the thread should it ever run that long without sleeping. Without a bus or
// without the service the answer is a plain "no", within a bounded time, and the run goes on at
// ordinary priority.
//
// What a thread got is logged under the category "tessaro.realtime" (info, shown with
// QT_LOGGING_RULES=tessaro.realtime.info=true) and kept for lastGrant().
namespace RealtimePriority {

enum class Source {
    None,        // ordinary scheduling
    Direct,      // SCHED_FIFO taken by the thread itself
    RealtimeKit, // real-time scheduling granted by RealtimeKit
};

struct Grant {
    Source source = Source::None;
    int priority = 0;
    QString reason; // for Source::None: why not

    bool granted() const { return source != Source::None; }
    // "real-time priority 1 (SCHED_FIFO)", "real-time priority 1 from RealtimeKit",
    // "no real-time priority: RealtimeKit is not running".
    QString describe() const;
};

// How long RealtimeKit is given for each answer: it replies within milliseconds when it runs.
constexpr int RealtimeKitTimeoutMs = 300;
// The CPU time a real-time thread may use without sleeping when no service says otherwise
// (RealtimeKit's own default).
constexpr qint64 DefaultRtTimeUs = 200'000;

// For the calling thread: SCHED_FIFO directly where allowed, else asked of RealtimeKit on the system
// bus. Logs the outcome and keeps it for lastGrant().
Grant takeForCurrentThread();

// The outcome of the latest takeForCurrentThread() in this process.
Grant lastGrant();

// Asks the RealtimeKit on `bus` to make the thread `tid` of this process real-time at `priority`.
// Lowers this process's RLIMIT_RTTIME (soft and hard) to the service's RTTimeUSecMax first, as the
// service requires. Each call on the bus waits at most `timeoutMs`.
Grant askRealtimeKit(const QDBusConnection &bus, pid_t tid, int priority, int timeoutMs = RealtimeKitTimeoutMs);

} // namespace RealtimePriority
