#pragma once

#include "PoseEstimator.h"
#include "ScriptRunner.h"

#include <QList>
#include <QString>

#include <functional>
#include <utility>

// A step of a run that the end-stop rule, or its motion's time limit, cut short.
struct CutStep
{
    enum class Why { EndStop, TimeLimit };
    int row = 0;
    int repetition = 0;
    int code = 0;
    Why why = Why::EndStop;
    // For TimeLimit: how long the motion had run, steps of the same motion before it included.
    double seconds = 0.0;
    // "Step 12 (ElbowUp) of repetition 1 cut short: Elbow at its upper end (estimated)", or
    // "… cut short: Wrist stopped after 9.0 s: time limit"
    QString text() const;
};

// A step that runs its motor longer than the joint's whole travel, found before a run.
struct OverlongStep
{
    int row = 0;
    int code = 0;
    double seconds = 0.0;
    // "Step 4 (WristUp, 10 s) runs longer than the wrist's whole travel (6 s): it will be stopped
    // after 9 s", or "…: nothing will stop it, the runaway limit is off"
    QString text;
};

// The steps of source from firstStep that run their motor longer than the joint's whole travel;
// limitMs(code) is the time limit of the motion of code (0: none).
QList<OverlongStep> findOverlongSteps(ScriptSource &source, int firstStep, const std::function<int(int)> &limitMs);

// "Elbow" for the joint that code turns ("Motor" for a code that turns none).
QString jointTitle(int code);

// What Return to start plays: the estimate's plan, as the steps of a script played once; told of each
// step as it starts.
class PlanScript : public ScriptSource
{
public:
    PlanScript(QList<PlanStep> plan, std::function<void(int row)> stepStarting)
        : m_plan(std::move(plan)), m_stepStarting(std::move(stepStarting))
    {
    }

    int stepCount() override { return int(m_plan.size()); }
    QString functionText(int row) override;
    // To the millisecond, as the runner keeps time.
    QString timeText(int row) override { return QString::number(m_plan.value(row - 1).seconds, 'f', 3); }
    QString repetitionsText() override { return QStringLiteral("1"); }
    void stepStarting(int row) override { m_stepStarting(row); }

private:
    const QList<PlanStep> m_plan;
    std::function<void(int row)> m_stepStarting;
};
