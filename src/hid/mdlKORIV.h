#pragma once

#include <QString>
#include <QtGlobal>

#include <exception>
#include <utility>

// Routines shared by the HID classes: instance serials for tracing and the one way they raise errors.
namespace mdlKORIV {

// Raises the run-wide serial counter by one and returns the new value; the first call of a run gives 1.
// The counter is signed 32-bit: a call past 2147483647 throws HidError::overflow() and leaves it as is.
qint32 NextClassDebugID();

// The message text of error n. The program carries no message table, so this is always the fallback
// text; it never fails.
QString ErrorText(qint32 n);

// Throws HidError(HidError::ObjectErrorBase + n, Source, ErrorText(n)).
[[noreturn]] void RaiseError(qint32 n, const QString &Source);

// Runs body and turns any failure inside it (HidError or another std::exception) into
// RaiseError(9999, Source): the way the members of the HID classes that trap their errors report them.
template <typename Body>
auto RunTrapped(const QString &Source, Body &&body) -> decltype(body())
{
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception &) {
        RaiseError(9999, Source);
    }
}

// Lets tests start the serial counter at a chosen value (the next serial is value + 1).
void SetClassDebugCounterForTest(qint32 value);
qint32 ClassDebugCounter();

} // namespace mdlKORIV
