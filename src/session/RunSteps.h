#pragma once

#include <QList>
#include <QString>

#include <functional>

class ScriptSource;

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
