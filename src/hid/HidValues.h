#pragma once

// Raw and scaled values of report fields. `data` is always the report without its ID byte, so
// the bit offsets of HidVariable can be used as they are.

#include "HidReportDescriptor.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace HidValues {

// Reads bitSize (1..32) bits starting at bitOffset, least significant bit first. Bits beyond the
// end of data read as 0 (a device may send a short report); a bad size reads 0.
qint64 getRaw(QByteArrayView data, int bitOffset, int bitSize, bool signExtend);

// Writes the low bitSize bits of value; the other bits of data are untouched. Returns false, and
// changes nothing, when the field does not fit inside data or bitSize is not 1..32.
bool setRaw(QByteArray &data, int bitOffset, int bitSize, qint64 value);

struct Result
{
    bool ok = false;
    qint32 value = 0;
    QString error;
};

// Logical -> physical and back, linear with rounding to nearest; physical limits both 0 mean
// "same as logical". Out-of-range inputs and degenerate ranges give an error, never a number.
Result toScaled(const HidVariable &v, qint32 raw);
Result fromScaled(const HidVariable &v, qint32 scaled);

} // namespace HidValues
