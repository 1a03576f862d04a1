#include "ScriptEditing.h"

#include "ScriptNumbers.h"
#include "StepFunctions.h"

namespace ScriptEditing {

namespace {

constexpr int MaxRepetitions = 32767;

bool plainDecimal(const QString &text)
{
    int digits = 0;
    int points = 0;
    for (const QChar ch : text) {
        if (ch >= QLatin1Char('0') && ch <= QLatin1Char('9'))
            ++digits;
        else if (ch == QLatin1Char('.') && ++points == 1)
            continue;
        else
            return false;
    }
    return digits > 0;
}

QString quoted(const QString &text)
{
    return QStringLiteral("\u201c%1\u201d").arg(text.trimmed());
}

} // namespace

QString EditStartText(qint16 keyAscii, const QString &cellText)
{
    if (keyAscii >= 0 && keyAscii <= 32)
        return cellText;
    return QString(QChar(char16_t(keyAscii)));
}

std::optional<double> StepSeconds(const QString &text)
{
    const QString trimmed = text.trimmed();
    double value = 0;
    if (!plainDecimal(trimmed) || !WholeTextNumber(trimmed, &value) || value > MaxStepSeconds)
        return std::nullopt;
    return value;
}

Commit CommitCellEdit(int row, int col, qint16 nextStep, bool editorVisible, const QString &editorText)
{
    Commit commit;
    commit.editorText = editorText;
    if (row >= nextStep) {
        commit.editorText.clear();
        return commit;
    }
    if (!editorVisible)
        return commit;

    if (col == FunctionColumn) {
        const QString name = StepFunctions::canonical(editorText);
        if (name.isEmpty()) {
            commit.refusal = QStringLiteral("%1 is not a step name. The names are %2. Escape drops the edit.")
                                 .arg(editorText.trimmed().isEmpty() ? QStringLiteral("An empty text")
                                                                     : quoted(editorText),
                                      StepFunctions::names().join(QStringLiteral(", ")));
            return commit;
        }
        commit.editorText = name;
        commit.writeCell = true;
        commit.cellText = name;
    } else if (col == TimeColumn) {
        const std::optional<double> seconds = StepSeconds(editorText);
        if (!seconds) {
            commit.refusal = QStringLiteral("%1 is not a time. Type the seconds, from 0 to %2, such as 2.5. "
                                            "Escape drops the edit.")
                                 .arg(editorText.trimmed().isEmpty() ? QStringLiteral("An empty text")
                                                                     : quoted(editorText),
                                      NumberText(MaxStepSeconds).trimmed());
            return commit;
        }
        commit.writeCell = true;
        commit.cellText = NumberText(*seconds);
    }
    commit.hideEditor = true;
    return commit;
}

std::optional<int> Repetitions(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const QChar ch : text) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (ch.unicode() - u'0');
    }
    if (value < 1 || value > MaxRepetitions)
        return std::nullopt;
    return value;
}

QString RepetitionsRule()
{
    return QStringLiteral("Repeat takes a whole number from 1 to %1.").arg(MaxRepetitions);
}

} // namespace ScriptEditing
