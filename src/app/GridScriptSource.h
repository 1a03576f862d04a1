#pragma once

#include "ScriptRunner.h"

#include <QPointer>

class frmMain;

// What a run of the main window plays: the steps in the window's grid up to NextStep, the count in
// its repetitions box, read on the window's thread whenever the runner asks (the window tells the
// runner of every change), so that edits, Clear and loading made during the run take effect.
// The session sends the steps' commands.
//
// Once the window has closed (its closing already stopped the arm) or is gone, the source reads as
// an empty script.
class GridScriptSource : public ScriptSource
{
public:
    explicit GridScriptSource(frmMain &window);

    int stepCount() override;
    QString functionText(int row) override;
    QString timeText(int row) override;
    QString repetitionsText() override;
    // Any thread: reads only what the window lets any thread read.
    // Marks the step's row in the grid: the whole row selected and highlighted while the window's
    // Hilight is on, else just the current cell moved to the row.
    void stepStarting(int row) override;

private:
    frmMain *liveWindow() const;

    QPointer<frmMain> m_window;
};
