#pragma once

#include <QString>
#include <QtGlobal>

// What a run of the script in the grid needs from the main window: whether it is still there, and
// where the step that starts is shown. The session sends the steps' commands.
class GridScriptHost
{
public:
    virtual ~GridScriptHost() = default;

    // True once the window has closed (the arm is stopped then). Any thread.
    virtual bool Unloaded() const = 0;
    // Shows step `row` as the one playing, on the window's thread.
    virtual void ShowStepStarting(int row) = 0;
};
