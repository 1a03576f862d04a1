#include "DescriptorFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>

#include <algorithm>

namespace {

constexpr qint64 MaxFileBytes = 1024 * 1024;

DescriptorFile::Result failure(QString message)
{
    return DescriptorFile::Result{std::nullopt, std::move(message)};
}

bool isTextByte(char c)
{
    const auto u = quint8(c);
    return (u >= 0x20 && u < 0x7F) || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
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
    return DescriptorFile::Result{bytes, QString()};
}

// Hex bytes separated by blanks or commas; "#" lines and "//" tails are comments.
std::optional<QByteArray> decodeHexText(const QList<QByteArray> &text)
{
    QByteArray bytes;
    for (QByteArray line : text) {
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
            if (!b)
                return std::nullopt;
            bytes.append(char(*b));
        }
    }
    return bytes;
}

// A Maximum next to a non-negative Minimum is unsigned; print it as the descriptor meant it.
qint64 maximumValue(qint32 min, qint32 max)
{
    return min < 0 ? qint64(max) : qint64(quint32(max));
}

QJsonObject flagsJson(const HidMainItemFlags &f)
{
    return QJsonObject{
        {QStringLiteral("constant"), f.constant},       {QStringLiteral("array"), f.array},
        {QStringLiteral("relative"), f.relative},       {QStringLiteral("wrap"), f.wrap},
        {QStringLiteral("nonlinear"), f.nonlinear},     {QStringLiteral("no_preferred"), f.noPreferred},
        {QStringLiteral("null_state"), f.nullState},    {QStringLiteral("volatile"), f.isVolatile},
        {QStringLiteral("buffered_bytes"), f.bufferedBytes},
    };
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
    if (!std::all_of(contents.begin(), contents.end(), isTextByte))
        return Result{contents, QString()};

    const QList<QByteArray> text = lines(contents);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].startsWith("R:"))
            return decodeRecorder(text, i);
    }
    std::optional<QByteArray> bytes = decodeHexText(text);
    if (!bytes)
        return Result{contents, QString()}; // printable, but not hex: take it as it is
    if (bytes->isEmpty())
        return failure(QStringLiteral("the file holds no descriptor bytes"));
    return Result{*bytes, QString()};
}

QJsonObject DescriptorFile::toJson(const HidReportLayout &layout)
{
    QJsonArray reports;
    for (const HidReport &r : layout.reports) {
        reports.append(QJsonObject{
            {QStringLiteral("type"), hidReportTypeName(r.type)},
            {QStringLiteral("id"), r.id},
            {QStringLiteral("size_bits"), r.sizeBits},
            {QStringLiteral("size_bytes"), r.sizeBytes},
        });
    }
    QJsonArray variables;
    for (const HidVariable &v : layout.variables) {
        variables.append(QJsonObject{
            {QStringLiteral("index"), v.index},
            {QStringLiteral("type"), hidReportTypeName(v.type)},
            {QStringLiteral("report_id"), v.reportId},
            {QStringLiteral("usage_page"), qint64(v.usagePage)},
            {QStringLiteral("usage"), qint64(v.usage)},
            {QStringLiteral("bit_offset"), v.bitOffset},
            {QStringLiteral("bit_size"), v.bitSize},
            {QStringLiteral("count"), v.count},
            {QStringLiteral("logical_min"), v.logicalMin},
            {QStringLiteral("logical_max"), maximumValue(v.logicalMin, v.logicalMax)},
            {QStringLiteral("physical_min"), v.physicalMin},
            {QStringLiteral("physical_max"), maximumValue(v.physicalMin, v.physicalMax)},
            {QStringLiteral("unit"), qint64(v.unit)},
            {QStringLiteral("unit_exponent"), v.unitExponent},
            {QStringLiteral("is_button"), v.isButton},
            {QStringLiteral("flags"), flagsJson(v.flags)},
        });
    }
    return QJsonObject{{QStringLiteral("reports"), reports}, {QStringLiteral("variables"), variables}};
}

DescriptorFile::Description DescriptorFile::describe(const QString &path)
{
    const Result file = load(path);
    if (!file.ok())
        return Description{1, QByteArray(), file.error};
    const HidParseResult parsed = parseReportDescriptor(*file.bytes);
    if (!parsed.ok())
        return Description{2, QByteArray(),
                           QStringLiteral("%1: malformed report descriptor at %2").arg(path, parsed.error.toString())};
    return Description{0, QJsonDocument(toJson(*parsed.layout)).toJson(QJsonDocument::Indented), QString()};
}
