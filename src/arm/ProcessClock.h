#pragma once

#include <QtGlobal>

#include <atomic>
#include <ctime>

// The one clock of the program: CLOCK_MONOTONIC in nanoseconds, behind every timestamp of the device
// links, the script runner's schedule and the session's pose, and the moment the process started on
// that clock. The start is captured by a static initialiser of the first file that includes this
// header; main() may call markStart() first thing to move it earlier than any other initialiser.
namespace ProcessClock {

inline qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

namespace detail {
inline std::atomic<qint64> start{0};
} // namespace detail

// Idempotent: only the first call (or the static initialiser, whichever runs first) counts.
inline void markStart()
{
    qint64 expected = 0;
    detail::start.compare_exchange_strong(expected, monotonicNs());
}

inline qint64 startNs()
{
    markStart();
    return detail::start.load();
}

// Seconds from the process start to a timestamp taken with monotonicNs().
inline double secondsAt(qint64 monotonicNs)
{
    return double(monotonicNs - startNs()) / 1e9;
}

inline double secondsSinceStart()
{
    return secondsAt(monotonicNs());
}

namespace detail {
// So that a program that never calls markStart() still measures from (nearly) its own start rather
// than from the first timestamp.
[[maybe_unused]] inline const bool startedEarly = (markStart(), true);
} // namespace detail

} // namespace ProcessClock
