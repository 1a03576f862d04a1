#pragma once

#include "ScriptFile.h"

#include <QList>
#include <QString>

// Steps that a run plays differently from how they read, the steps the cell editor would refuse. A
// step whose Function text names no step function sends nothing, so whatever motion was in effect
// before it goes on for its time; a step whose Time text is no time ("-2", "1e3", empty) lasts what
// the runner makes of it (no time at all for "-2"). A file can hold such steps; loading keeps them as
// they are, the grid marks them, and the window and tessaro-cli say so before they play them.

struct UnknownStep
{
    int step = 0;          // the step's number, counted from 1
    QString function;      // the Function text as it stands
    int codeInEffect = 0;  // the command the step leaves running: 0 when the arm stands still
    // Set when the function is a motion and it is the Time text that the editor would refuse.
    bool badTime = false;
    QString time;          // the Time text as it stands
};

// Whether a step with these texts is one: its Function names no step function, compared exactly as
// a run compares it. A row with neither function nor time (what a file that ends early leaves) is
// not: it lasts no time and changes nothing.
bool IsUnknownStep(const QString &function, const QString &time);
// Whether a step's Time text is one the cell editor would refuse; the same empty row is not.
bool IsBadStepTime(const QString &function, const QString &time);

// The unknown steps of steps 1 .. steps.size(), each row's Step, Function and Time texts.
QList<UnknownStep> UnknownSteps(const QList<ScriptRow> &steps);

// 'Step 5 "Grab" is not a motion: ElbowUp keeps running through it'; with no motion in effect
// '... the arm stands still through it'; 'Step 3 time "-2" is not a time: the step lasts 0 s'.
QString UnknownStepText(const UnknownStep &step);
