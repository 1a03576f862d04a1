#include "mdlKORIV.h"

#include "HidError.h"

#include <limits>

namespace {
qint32 g_classDebugCounter = 0;
}

namespace mdlKORIV {

qint32 NextClassDebugID()
{
    if (g_classDebugCounter == std::numeric_limits<qint32>::max())
        throw HidError::overflow();
    return ++g_classDebugCounter;
}

QString ErrorText(qint32 n)
{
    Q_UNUSED(n);
    return QStringLiteral("An unknown error has occurred!");
}

void RaiseError(qint32 n, const QString &Source)
{
    // A code far below zero would leave the 32-bit range of error numbers.
    const qint64 number = qint64(HidError::ObjectErrorBase) + n;
    if (number < std::numeric_limits<qint32>::min())
        throw HidError::overflow(Source);
    throw HidError(qint32(number), Source, ErrorText(n));
}

void SetClassDebugCounterForTest(qint32 value)
{
    g_classDebugCounter = value;
}

qint32 ClassDebugCounter()
{
    return g_classDebugCounter;
}

} // namespace mdlKORIV
