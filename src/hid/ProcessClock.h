#pragma once

#include <QtGlobal>

// The one clock behind every timestamp of the HID link: CLOCK_MONOTONIC in nanoseconds, and the
// moment the process started on that clock. The start is captured by a static initialiser of the
// library; main() may call markStart() first thing to move it earlier than any other initialiser.
namespace ProcessClock {

qint64 monotonicNs();

// Idempotent: only the first call (or the static initialiser, whichever runs first) counts.
void markStart();
qint64 startNs();

double secondsSinceStart();
// Seconds from the process start to a timestamp taken with monotonicNs().
double secondsAt(qint64 monotonicNs);

} // namespace ProcessClock
