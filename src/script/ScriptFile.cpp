#include "ScriptFile.h"

#include "SafeSave.h"
#include "ScriptNumbers.h"
#include "StepFunctions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

bool isSeparator(char c)
{
    return c == ',' || c == '\r' || c == '\n';
}

// Moves past the separator at i: a comma, CR LF, a lone CR or a lone LF.
qsizetype skipSeparator(const QByteArray &b, qsizetype i)
{
    if (i < b.size() && b[i] == '\r' && i + 1 < b.size() && b[i + 1] == '\n')
        return i + 2;
    return i + 1;
}

} // namespace

QByteArray ScriptFileBytes(const QList<ScriptRow> &rows)
{
    // Written straight into one buffer of the final size: a file of the most steps holds some hundred
    // thousand fields.
    const QString countText = NumberText(double(std::max<qsizetype>(rows.size() - 1, 0)));
    qsizetype size = countText.size() + 4;
    for (const ScriptRow &row : rows)
        size += row[0].size() + row[1].size() + row[2].size() + 10;
    QByteArray out(size, Qt::Uninitialized);
    char *p = out.data();
    const auto field = [&p](const QString &text) {
        *p++ = '"';
        for (const QChar ch : text)
            *p++ = ch.unicode() < 0x100 ? char(ch.unicode()) : '?'; // as toLatin1 writes it
        *p++ = '"';
    };
    const auto lineEnd = [&p] {
        *p++ = '\r';
        *p++ = '\n';
    };
    field(countText);
    lineEnd();
    for (const ScriptRow &row : rows) {
        field(row[0]);
        *p++ = ',';
        field(row[1]);
        *p++ = ',';
        field(row[2]);
        lineEnd();
    }
    return out;
}

QString WriteScriptFile(const QString &path, const QList<ScriptRow> &rows)
{
    const SafeSaveResult saved = SafeSave(path, ScriptFileBytes(rows));
    if (saved.ok())
        return QString();
    return QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), saved.reason);
}

QList<QString> ScriptFileFields(const QByteArray &b)
{
    QList<QString> fields;
    // Three fields a line is the usual shape; reserving for it saves regrowing a long list.
    fields.reserve(b.count('\n') * 3 + 1);
    qsizetype i = 0;
    const qsizetype n = b.size();
    bool afterComma = false;
    for (;;) {
        while (i < n && (b[i] == ' ' || b[i] == '\t'))
            ++i;
        if (i >= n) {
            if (afterComma)
                fields.append(QString());
            break;
        }
        qsizetype start = i;
        qsizetype end = i;
        if (b[i] == '"') {
            const qsizetype close = b.indexOf('"', i + 1);
            if (close < 0) {
                fields.append(QString::fromLatin1(b.constData() + i + 1, n - i - 1));
                break;
            }
            start = i + 1;
            end = close;
            i = close + 1;
            while (i < n && !isSeparator(b[i]))
                ++i;
        } else {
            while (i < n && !isSeparator(b[i]))
                ++i;
            end = i;
            while (end > start && (b[end - 1] == ' ' || b[end - 1] == '\t'))
                --end;
        }
        fields.append(QString::fromLatin1(b.constData() + start, end - start));
        if (i >= n)
            break;
        afterComma = b[i] == ',';
        i = skipSeparator(b, i);
    }
    return fields;
}

ScriptLoad ParseScriptFile(const QByteArray &bytes)
{
    ScriptLoad load;
    const QByteArray bom("\xEF\xBB\xBF");
    const QList<QString> fields = ScriptFileFields(bytes.startsWith(bom) ? bytes.sliced(bom.size()) : bytes);
    if (fields.isEmpty()) {
        load.notAScript = true;
        return load;
    }

    load.countText = fields.first().trimmed();
    bool overflow = false;
    const double count = LeadingNumber(fields.first(), &overflow);
    if (!overflow && !WholeTextNumber(load.countText)) {
        load.notAScript = true;
        return load;
    }
    qint16 nextStep = 1;
    if (overflow || !RoundToInt16(count + 1.0, &nextStep)) {
        load.countTooLarge = overflow ? !load.countText.startsWith(QLatin1Char('-')) : count > 0;
        return load;
    }
    load.countValid = true;
    load.nextStep = std::max<qint16>(nextStep, 1);
    load.rowsToAppend = std::max(0, load.nextStep - 9);

    const qsizetype complete = (fields.size() - 1) / 3;
    const qsizetype records = std::min<qsizetype>(complete, load.nextStep);
    load.records.reserve(records);
    for (qsizetype r = 0; r < records; ++r) {
        const qsizetype f = 1 + r * 3;
        QString function = fields[f + 1];
        // A step name in another case is the motion, as the cell editor takes it, in its proper case.
        if (r > 0 && StepFunctions::code(function) < 0) {
            const QString proper = StepFunctions::canonical(function);
            if (!proper.isEmpty())
                function = proper;
        }
        load.records.append(ScriptRow{fields[f], function, fields[f + 2]});
    }
    return load;
}

ScriptLoad LoadScriptFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ScriptLoad failed;
        failed.error =
            QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return failed;
    }
    // The largest script the step counter allows is a few megabytes; anything far beyond that is
    // not a script, and a device file would never end.
    constexpr qint64 Limit = 64 * 1024 * 1024;
    const QByteArray bytes = file.read(Limit + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > Limit) {
        ScriptLoad failed;
        const QString reason =
            bytes.size() > Limit ? QStringLiteral("the file is too large for a script") : file.errorString();
        failed.error = QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), reason);
        return failed;
    }
    ScriptLoad load = ParseScriptFile(bytes);
    if (load.notAScript)
        load.error = NotAScriptText(path);
    return load;
}

QString NotAScriptText(const QString &path)
{
    return QStringLiteral("%1 is not a Tessaro script (its first line is not a step count)")
        .arg(QFileInfo(path).fileName());
}

QString ScriptLoadWarning(const ScriptLoad &load, const QString &path)
{
    if (!load.error.isEmpty())
        return QString();
    const QString file = QDir::toNativeSeparators(path);
    if (load.countTooLarge) {
        return QStringLiteral("%1 announces %2 steps; a script holds at most %3, so no step was read.")
            .arg(file, load.countText)
            .arg(MaxScriptSteps);
    }
    if (!load.countValid)
        return QString();
    const int announced = load.nextStep - 1;
    const int read = std::max<int>(int(load.records.size()) - 1, 0);
    if (read >= announced)
        return QString();
    return QStringLiteral("%1 announces %2 steps but holds only %3; the missing steps are left empty.")
        .arg(file)
        .arg(announced)
        .arg(read);
}
