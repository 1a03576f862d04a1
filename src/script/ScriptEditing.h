#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The rules of editing a script cell in place, apart from the widgets that show it: the window's
// GridEdit and CommitCellEdit apply what these return to its grid and cell editor.

namespace ScriptEditing {

constexpr int StepColumn = 0;
constexpr int FunctionColumn = 1;
constexpr int TimeColumn = 2;

// The longest step a Time cell takes, in seconds (about 31 years): a run waits no longer for any step.
constexpr double MaxStepSeconds = 1e9;

// The text an edit starts with: the cell's own text when the starting key is 0 to 32 (a click
// starts with 32, the blank), else the single character typed.
QString EditStartText(qint16 keyAscii, const QString &cellText);

// The seconds a typed Time text stands for: digits with at most one ".", blanks around them allowed,
// from 0 to MaxStepSeconds ("3", ".5" and "1." are 3, 0.5 and 1). Anything else ("", ".", "1.2.3",
// "-2", "1e3", "2x", "1,5") is no time at all: nullopt.
std::optional<double> StepSeconds(const QString &text);

// The outcome of committing the editor's text into the current cell (row, col) of a script whose
// NextStep is nextStep.
struct Commit
{
    // What the editor holds afterwards.
    QString editorText;
    // Whether cellText goes into the current cell.
    bool writeCell = false;
    QString cellText;
    // Whether the editor is hidden at the end.
    bool hideEditor = false;
    // Not empty when the text is refused: no cell changes, the editor stays open with its text, and
    // this sentence tells the operator what the cell takes.
    QString refusal;
};

// In order: a row after the last step (row >= nextStep) empties the editor and changes nothing else,
// the editor staying as it is. A hidden editor (an edit dropped by Escape) changes nothing. Else a
// Function text that names a step function ignoring case and surrounding blanks is stored as the
// name is written, and a Time text that StepSeconds takes as its NumberText, and the editor is hidden;
// any other text is refused.
Commit CommitCellEdit(int row, int col, qint16 nextStep, bool editorVisible, const QString &editorText);

// The repetitions a Repeat text asks for, 1 to 32767 (leading zeros allowed); nullopt for anything else,
// an empty text and 0 included.
std::optional<int> Repetitions(const QString &text);
// What the Repeat box takes, as the operator is told when it refuses something.
QString RepetitionsRule();

} // namespace ScriptEditing
