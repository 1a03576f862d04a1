#include "ScriptCheck.h"

#include "RunProgress.h"
#include "ScriptEditing.h"
#include "StepFunctions.h"

bool IsUnknownStep(const QString &function, const QString &time)
{
    if (function.isEmpty() && time.trimmed().isEmpty())
        return false;
    return StepFunctions::code(function) < 0;
}

bool IsBadStepTime(const QString &function, const QString &time)
{
    if (function.isEmpty() && time.trimmed().isEmpty())
        return false;
    return !ScriptEditing::StepSeconds(time).has_value();
}

QList<UnknownStep> UnknownSteps(const QList<ScriptRow> &steps)
{
    QList<UnknownStep> unknown;
    int inEffect = 0;
    for (int i = 0; i < steps.size(); ++i) {
        const ScriptRow &row = steps[i];
        const int code = StepFunctions::code(row[1]);
        if (code >= 0)
            inEffect = code;
        else if (IsUnknownStep(row[1], row[2]))
            unknown.append(UnknownStep{i + 1, row[1], inEffect, false, row[2]});
        if (code >= 0 && IsBadStepTime(row[1], row[2]))
            unknown.append(UnknownStep{i + 1, row[1], inEffect, true, row[2]});
    }
    return unknown;
}

QString UnknownStepText(const UnknownStep &step)
{
    if (step.badTime)
        return QStringLiteral("Step %1 time \"%2\" is not a time: the step lasts %3")
            .arg(step.step)
            .arg(step.time.trimmed(), RunProgress::durationText(RunProgress::stepSeconds(step.time)));
    const QString effect = step.codeInEffect > 0
                               ? QStringLiteral("%1 keeps running through it").arg(StepFunctions::name(step.codeInEffect))
                               : QStringLiteral("the arm stands still through it");
    return QStringLiteral("Step %1 \"%2\" is not a motion: %3").arg(step.step).arg(step.function, effect);
}
