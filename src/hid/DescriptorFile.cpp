#include "DescriptorFile.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QList>

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>

namespace {

constexpr qint64 MaxFileBytes = 1024 * 1024;

DescriptorFile::Result failure(QString message)
{
    return DescriptorFile::Result{std::nullopt, std::move(message)};
}

// Control bytes other than white space never appear in text; bytes above 0x7F may, as UTF-8.
bool isTextByte(char c)
{
    const auto u = quint8(c);
    return (u >= 0x20 && u != 0x7F) || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isText(QByteArrayView contents)
{
    return std::all_of(contents.begin(), contents.end(), isTextByte) && contents.isValidUtf8();
}

// One byte written as 1 or 2 hex digits, optionally after "0x".
std::optional<quint8> hexByte(QByteArrayView token)
{
    if (token.startsWith("0x") || token.startsWith("0X"))
        token = token.sliced(2);
    if (token.isEmpty() || token.size() > 2)
        return std::nullopt;
    bool ok = false;
    const uint value = token.toByteArray().toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    return quint8(value);
}

QList<QByteArray> lines(const QByteArray &contents)
{
    QList<QByteArray> result = contents.split('\n');
    for (QByteArray &line : result)
        line = line.trimmed();
    return result;
}

// "R: <length> <hex bytes>" as hid-recorder writes it; the first R: line is the descriptor.
DescriptorFile::Result decodeRecorder(const QList<QByteArray> &text, qsizetype lineIndex)
{
    const QByteArray &line = text[lineIndex];
    const QString where = QStringLiteral("line %1").arg(lineIndex + 1);
    const QList<QByteArray> tokens = line.mid(2).simplified().split(' ');
    bool ok = false;
    const qsizetype length = tokens.isEmpty() ? 0 : tokens.first().toLongLong(&ok, 10);
    if (!ok || length < 0)
        return failure(QStringLiteral("%1: the R: line does not start with the descriptor length").arg(where));
    QByteArray bytes;
    for (qsizetype i = 1; i < tokens.size(); ++i) {
        const std::optional<quint8> b = hexByte(tokens[i]);
        if (!b)
            return failure(QStringLiteral("%1: '%2' is not a hex byte").arg(where, QString::fromLatin1(tokens[i])));
        bytes.append(char(*b));
    }
    if (bytes.size() != length)
        return failure(QStringLiteral("%1: the R: line announces %2 bytes but holds %3")
                           .arg(where)
                           .arg(length)
                           .arg(bytes.size()));
    // A descriptor of no bytes describes nothing; the other forms refuse it too.
    if (bytes.isEmpty())
        return failure(QStringLiteral("%1: the R: line holds no descriptor bytes").arg(where));
    return DescriptorFile::Result{bytes, QString()};
}

// Hex bytes separated by blanks or commas; "#" lines and "//" tails are comments.
struct HexText
{
    QByteArray bytes;
    qsizetype badLine = -1; // 0-based line of the first token that is not a hex byte
    QByteArray badToken;
};

HexText decodeHexText(const QList<QByteArray> &text)
{
    HexText result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QByteArray line = text[i];
        if (line.startsWith('#'))
            continue;
        const qsizetype comment = line.indexOf("//");
        if (comment >= 0)
            line.truncate(comment);
        line.replace(',', ' ');
        for (const QByteArray &token : line.simplified().split(' ')) {
            if (token.isEmpty())
                continue;
            const std::optional<quint8> b = hexByte(token);
            if (!b) {
                result.badLine = i;
                result.badToken = token;
                return result;
            }
            result.bytes.append(char(*b));
        }
    }
    return result;
}

} // namespace

DescriptorFile::Result DescriptorFile::load(const QString &path)
{
    if (QFileInfo(path).isDir())
        return failure(QStringLiteral("%1 is a directory").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
    // Read one byte past the limit rather than trusting size(): pipes and proc files report 0.
    const QByteArray contents = file.read(MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failure(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    if (contents.size() > MaxFileBytes)
        return failure(QStringLiteral("%1 is larger than %2 bytes; not a report descriptor").arg(path).arg(MaxFileBytes));
    Result result = decode(contents);
    if (!result.ok())
        result.error = QStringLiteral("%1: %2").arg(path, result.error);
    return result;
}

DescriptorFile::Result DescriptorFile::decode(const QByteArray &contents)
{
    if (contents.isEmpty())
        return failure(QStringLiteral("the file is empty"));
    if (!isText(contents))
        return Result{contents, QString()};

    QByteArrayView body = contents;
    if (body.startsWith("\xEF\xBB\xBF"))
        body = body.sliced(3);
    const QList<QByteArray> text = lines(body.toByteArray());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].startsWith("R:"))
            return decodeRecorder(text, i);
    }
    const HexText hex = decodeHexText(text);
    if (hex.badLine >= 0) {
        // Printable bytes that do not even start as hex are taken as they are.
        if (hex.bytes.isEmpty())
            return Result{contents, QString()};
        constexpr qsizetype Shown = 24;
        QString token = QString::fromUtf8(hex.badToken);
        if (token.size() > Shown)
            token = token.left(Shown) + QStringLiteral("...");
        return failure(QStringLiteral("line %1: '%2' is not a hex byte").arg(hex.badLine + 1).arg(token));
    }
    if (hex.bytes.isEmpty())
        return failure(QStringLiteral("the file holds no descriptor bytes"));
    return Result{hex.bytes, QString()};
}

namespace {

// Writes the JSON text in the layout QJsonDocument::Indented gives (keys sorted, four spaces per
// level) through one reused buffer, with no allocation per value.
class JsonWriter
{
public:
    explicit JsonWriter(QIODevice &out) : m_out(out) { m_buffer.reserve(FlushAt + 4096); }

    void raw(QByteArrayView text) { m_buffer.append(text); }
    void indent(int level) { m_buffer.append(qsizetype(level) * 4, ' '); }
    void key(int level, const char *name)
    {
        indent(level);
        m_buffer.append('"').append(name).append("\": ");
    }
    // The last member of an object omits the comma.
    void member(int level, const char *name, qint64 value, bool last = false)
    {
        key(level, name);
        char digits[24];
        const std::to_chars_result end = std::to_chars(std::begin(digits), std::end(digits), value);
        m_buffer.append(digits, end.ptr - digits).append(last ? "\n" : ",\n");
    }
    void member(int level, const char *name, bool value, bool last = false)
    {
        key(level, name);
        m_buffer.append(value ? "true" : "false").append(last ? "\n" : ",\n");
    }
    void member(int level, const char *name, QByteArrayView value, bool last = false)
    {
        key(level, name); // the values are fixed ASCII names: nothing to escape
        m_buffer.append('"').append(value).append(last ? "\"\n" : "\",\n");
    }
    bool flushIfFull() { return m_buffer.size() < FlushAt || flush(); }
    bool flush()
    {
        const bool ok = m_out.write(m_buffer) == m_buffer.size();
        m_buffer.resize(0); // keeps the capacity
        return ok;
    }

private:
    static constexpr qsizetype FlushAt = 64 * 1024;
    QIODevice &m_out;
    QByteArray m_buffer;
};

// A Maximum next to a non-negative Minimum is unsigned; print it as the descriptor meant it.
qint64 maximumValue(qint32 min, qint32 max)
{
    return min < 0 ? qint64(max) : qint64(quint32(max));
}

// "Input", "Output" and "Feature", converted once.
struct TypeNames
{
    std::array<QByteArray, 3> names{hidReportTypeName(HidReportType::Input).toLatin1(),
                                    hidReportTypeName(HidReportType::Output).toLatin1(),
                                    hidReportTypeName(HidReportType::Feature).toLatin1()};
    QByteArrayView operator()(HidReportType type) const { return names[size_t(type)]; }
};

void writeVariable(JsonWriter &w, const HidVariable &v, const TypeNames &typeName)
{
    const HidMainItemFlags &f = v.flags;
    w.raw("        {\n");
    w.member(3, "bit_offset", qint64(v.bitOffset));
    w.member(3, "bit_size", qint64(v.bitSize));
    w.member(3, "count", qint64(v.count));
    w.key(3, "flags");
    w.raw("{\n");
    w.member(4, "array", f.array);
    w.member(4, "buffered_bytes", f.bufferedBytes);
    w.member(4, "constant", f.constant);
    w.member(4, "no_preferred", f.noPreferred);
    w.member(4, "nonlinear", f.nonlinear);
    w.member(4, "null_state", f.nullState);
    w.member(4, "relative", f.relative);
    w.member(4, "volatile", f.isVolatile);
    w.member(4, "wrap", f.wrap, true);
    w.raw("            },\n");
    w.member(3, "index", qint64(v.index));
    w.member(3, "is_button", v.isButton);
    w.member(3, "logical_max", maximumValue(v.logicalMin, v.logicalMax));
    w.member(3, "logical_min", qint64(v.logicalMin));
    w.member(3, "physical_max", maximumValue(v.physicalMin, v.physicalMax));
    w.member(3, "physical_min", qint64(v.physicalMin));
    w.member(3, "report_id", qint64(v.reportId));
    w.member(3, "type", typeName(v.type));
    w.member(3, "unit", qint64(v.unit));
    w.member(3, "unit_exponent", qint64(v.unitExponent));
    w.member(3, "usage", qint64(v.usage));
    w.member(3, "usage_page", qint64(v.usagePage), true);
}

} // namespace

bool DescriptorFile::writeJson(const HidReportLayout &layout, QIODevice &out)
{
    const TypeNames typeName;
    JsonWriter w(out);
    w.raw("{\n    \"reports\": [\n");
    for (qsizetype i = 0; i < layout.reports.size(); ++i) {
        const HidReport &r = layout.reports[i];
        w.raw("        {\n");
        w.member(3, "id", qint64(r.id));
        w.member(3, "size_bits", qint64(r.sizeBits));
        w.member(3, "size_bytes", qint64(r.sizeBytes));
        w.member(3, "type", typeName(r.type), true);
        w.raw(i + 1 < layout.reports.size() ? "        },\n" : "        }\n");
    }
    w.raw("    ],\n    \"variables\": [\n");
    for (qsizetype i = 0; i < layout.variables.size(); ++i) {
        writeVariable(w, layout.variables[i], typeName);
        w.raw(i + 1 < layout.variables.size() ? "        },\n" : "        }\n");
        if (!w.flushIfFull())
            return false;
    }
    w.raw("    ]\n}\n");
    return w.flush();
}

DescriptorFile::Description DescriptorFile::describe(const QString &path, QIODevice &out)
{
    const Result file = load(path);
    if (!file.ok())
        return Description{1, file.error};
    return describeBytes(*file.bytes, path, out);
}

DescriptorFile::Description DescriptorFile::describeBytes(const QByteArray &bytes, const QString &name,
                                                          QIODevice &out)
{
    const HidParseResult parsed = parseReportDescriptor(bytes);
    if (!parsed.ok())
        return Description{2, QStringLiteral("%1: malformed report descriptor at %2").arg(name, parsed.error.toString())};
    if (!writeJson(*parsed.layout, out))
        return Description{1, QStringLiteral("cannot write the description: %1").arg(out.errorString())};
    return Description{0, QString()};
}
