// Feeds arbitrary file contents to the descriptor-file decoder (raw bytes, hex text, recorder dumps),
// checks that the bytes it decodes come back unchanged when written as hex text and as a recorder
// line, and parses and describes whatever it decoded.

#include "DescriptorFile.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray hexText(const QByteArray &bytes)
{
    return bytes.toHex(' ');
}

QByteArray recorderDump(const QByteArray &bytes)
{
    return "# written back\nN: fuzz\nR: " + QByteArray::number(bytes.size()) + ' ' + bytes.toHex(' ') + '\n';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    const DescriptorFile::Result decoded = DescriptorFile::decode(contents);
    if (!decoded.ok()) {
        if (decoded.error.isEmpty())
            abort();
        return 0;
    }
    const QByteArray &bytes = *decoded.bytes;
    if (bytes.isEmpty() || !decoded.error.isEmpty())
        abort();
    for (const QByteArray &written : {hexText(bytes), recorderDump(bytes)}) {
        const DescriptorFile::Result again = DescriptorFile::decode(written);
        if (!again.ok() || *again.bytes != bytes)
            abort();
    }

    const HidParseResult parsed = parseReportDescriptor(bytes);
    if (!parsed.ok())
        return 0;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    if (!DescriptorFile::writeJson(*parsed.layout, out))
        abort();
    // Reading the JSON back costs more than everything else together once a layout has thousands of
    // variables, and a large layout takes no path through the writer that a small one does not.
    if (parsed.layout->variables.size() > 64)
        return 0;
    const QJsonObject json = QJsonDocument::fromJson(out.data()).object();
    if (json.value(QStringLiteral("reports")).toArray().size() != parsed.layout->reports.size() ||
        json.value(QStringLiteral("variables")).toArray().size() != parsed.layout->variables.size())
        abort();
    return 0;
}
