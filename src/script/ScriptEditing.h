#pragma once

#include <QString>
#include <QtGlobal>

// The rules of editing a script cell in place, apart from the widgets that show it: the window's
// GridEdit and CommitCellEdit apply what these return to its grid and cell editor.

namespace ScriptEditing {

constexpr int StepColumn = 0;
constexpr int FunctionColumn = 1;
constexpr int TimeColumn = 2;

// The text an edit starts with: the cell's own text when the starting key is 0 to 32 (a click
// starts with 32, the blank), else the single character typed.
QString EditStartText(qint16 keyAscii, const QString &cellText);

// The outcome of committing the editor's text into the current cell (row, col) of a script whose
// NextStep is nextStep.
struct Commit
{
    // What the editor holds afterwards (the rules rewrite it before anything else happens).
    QString editorText;
    // Whether cellText goes into the current cell.
    bool writeCell = false;
    QString cellText;
    // Whether the editor is hidden at the end.
    bool hideEditor = false;
};

// In order: a Function text becomes the step function name it names ignoring case and surrounding
// blanks, or "BaseCCW" when it names none; a Time text whose LeadingNumber is negative becomes "0".
// A row after the last step (row >= nextStep) empties the editor and changes nothing else, the
// editor staying as it is. A hidden editor (an edit already ended by Escape) changes no cell. Else
// a Function text is stored as it now stands, a Time text only when the whole text is a number (then
// as its NumberText), and the editor is hidden.
Commit CommitCellEdit(int row, int col, qint16 nextStep, bool editorVisible, const QString &editorText);

} // namespace ScriptEditing
