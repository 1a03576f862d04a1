// Feeds arbitrary bytes to the report-descriptor parser, then reads and writes every variable of
// every report it accepts, in a zeroed buffer of the report's size.

#include "HidReportDescriptor.h"
#include "HidValues.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const HidParseResult result =
        parseReportDescriptor(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!result.ok()) {
        if (result.error.offset < 0 || result.error.offset >= qsizetype(size) || result.error.message.isEmpty())
            abort();
        return 0;
    }
    const HidReportLayout &layout = *result.layout;
    QList<QByteArray> buffers;
    for (const HidReport &report : layout.reports) {
        if (report.sizeBits < 0 || report.sizeBytes * 8 < report.sizeBits)
            abort();
        buffers.append(QByteArray((report.sizeBits + 7) / 8, '\0'));
    }
    for (const HidVariable &v : layout.variables) {
        if (v.reportIndex < 0 || v.reportIndex >= layout.reports.size())
            abort();
        QByteArray &buffer = buffers[v.reportIndex];
        // Every field of a variable (an array has count of them) lies inside its report.
        for (int k = 0; k < v.count; ++k) {
            const int offset = v.bitOffset + k * v.bitSize;
            const qint64 top = (qint64(1) << v.bitSize) - 1;
            if (!HidValues::setRaw(buffer, offset, v.bitSize, top))
                abort();
            if (HidValues::getRaw(buffer, offset, v.bitSize, false) != top)
                abort();
            if (!HidValues::setRaw(buffer, offset, v.bitSize, 0))
                abort();
        }
        const qint64 raw = HidValues::getRaw(buffer, v.bitOffset, v.bitSize, v.isSigned());
        if (raw != 0)
            abort();
        const HidValues::Result scaled = HidValues::toScaled(v, v.logicalMin);
        if (scaled.ok)
            (void)HidValues::fromScaled(v, scaled.value);
        (void)HidValues::toScaled(v, v.logicalMax);
        (void)HidValues::fromScaled(v, v.physicalMax);
    }
    return 0;
}
