#include "ProcessClock.h"

#include <atomic>
#include <ctime>

namespace {

qint64 readMonotonic()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::atomic<qint64> g_start{0};

// Taken during static initialisation, so that a program that never calls markStart() still measures
// from (nearly) its own start rather than from the first timestamp.
[[maybe_unused]] const bool g_startedEarly = [] {
    ProcessClock::markStart();
    return true;
}();

} // namespace

namespace ProcessClock {

qint64 monotonicNs()
{
    return readMonotonic();
}

void markStart()
{
    qint64 expected = 0;
    g_start.compare_exchange_strong(expected, readMonotonic());
}

qint64 startNs()
{
    markStart();
    return g_start.load();
}

double secondsAt(qint64 ns)
{
    return double(ns - startNs()) / 1e9;
}

double secondsSinceStart()
{
    return secondsAt(readMonotonic());
}

} // namespace ProcessClock
