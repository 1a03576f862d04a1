#pragma once

#include <QString>
#include <QtGlobal>

// What a run of the script in the grid needs from the main window: the way its commands go out, and
// where the step that starts is shown.
class GridScriptHost
{
public:
    virtual ~GridScriptHost() = default;

    // True once the window has closed (the arm is stopped then). Any thread.
    virtual bool Unloaded() const = 0;
    // False when the code did not reach every arm; error then says why, unless the window was simply
    // not Ready. Any thread.
    virtual bool SendArmCommand(qint16 code, QString *error) = 0;
    // A command of the running script did not reach an arm: the run ends as Stop ends it. Any thread.
    virtual void CutRunAfterFailedSend(const QString &why) = 0;
    // Shows step `row` as the one playing, on the window's thread.
    virtual void ShowStepStarting(int row) = 0;
};
