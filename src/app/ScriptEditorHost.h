#pragma once

#include <QString>

// What the script editor needs from the main window: whether the script may be edited now (a run,
// another program driving the arm, a step being recorded), the command mode, Run from here, the status
// line and the folder the file dialogs open in. The editor reaches the window only through this and the
// controls it is given.
class ScriptEditorHost
{
public:
    virtual ~ScriptEditorHost() = default;

    // Why the steps may not be edited now ("Steps cannot be edited while the script runs."); empty when
    // they may, a step being recorded aside.
    virtual QString EditLockText() const = 0;
    // A motion is on; in Scripting mode it is being recorded as a step.
    virtual bool MotionActive() const = 0;
    virtual bool ScriptingMode() const = 0;
    // Selects Interactive mode, as Clear and Load do.
    virtual void LeaveScriptingMode() = 0;
    // A run from step `row` to the end, then the remaining repetitions from step 1.
    virtual void RunFrom(int row) = 0;
    // A message in place of the connection state for a while.
    virtual void showStatusMessage(const QString &text) = 0;
    // The folder of the script loaded or saved last, kept from one run of the program to the next;
    // empty before any.
    virtual QString ScriptFolder() const = 0;
    virtual void SetScriptFolder(const QString &folder) = 0;
};
