#include "RunSteps.h"

#include "ArmMotion.h"
#include "NumberReading.h"
#include "PoseEstimator.h"
#include "ScriptRunner.h"
#include "StepFunctions.h"

#include <algorithm>

QString jointTitle(int code)
{
    const auto motion = armCodeMotion(code);
    QString joint = QString::fromLatin1(motion ? motion->motion().name : "motor");
    joint[0] = joint[0].toUpper();
    return joint;
}

QString CutStep::text() const
{
    const QString reason =
        why == Why::TimeLimit
            ? QStringLiteral("%1 stopped after %2 s: time limit").arg(jointTitle(code), QString::number(seconds, 'f', 1))
            : PoseEstimator::endReachedText(code);
    return QStringLiteral("Step %1 (%2) of repetition %3 cut short: %4")
        .arg(row)
        .arg(StepFunctions::name(code))
        .arg(repetition)
        .arg(reason);
}

QList<OverlongStep> findOverlongSteps(ScriptSource &source, int firstStep, const std::function<int(int)> &limitMs)
{
    QList<OverlongStep> steps;
    const int count = source.stepCount();
    for (int row = std::max(1, firstStep); row <= count; ++row) {
        const int code = StepFunctions::code(source.functionText(row));
        const auto motion = armCodeMotion(code);
        const double seconds = LeadingNumber(source.timeText(row));
        if (!motion || !(seconds > motion->motion().fullTravelSeconds))
            continue;
        const QString joint = QString::fromLatin1(motion->motion().name);
        const int limit = limitMs(code);
        const QString fate = limit > 0
                                 ? QStringLiteral("it will be stopped after %1 s").arg(QString::number(limit / 1000.0, 'f', 1))
                                 : QStringLiteral("nothing will stop it, the runaway limit is off");
        steps.append(OverlongStep{row, code, seconds,
                                  QStringLiteral("Step %1 (%2, %3 s) runs longer than the %4's whole travel (%5 s): %6")
                                      .arg(row)
                                      .arg(StepFunctions::name(code), source.timeText(row).trimmed(), joint,
                                           QString::number(motion->motion().fullTravelSeconds), fate)});
    }
    return steps;
}

QString PlanScript::functionText(int row)
{
    return StepFunctions::name(m_plan.value(row - 1).code);
}
