#pragma once

#include "ScriptRunner.h"

#include <QPointer>

class GridScriptHost;
class QLineEdit;
class ScriptGrid;

// What a run of the main window plays: the steps in the grid up to NextStep, the count in the
// repetitions box, read on the window's thread whenever the runner asks (the window tells the
// runner of every change), so that edits, Clear and loading made during the run take effect.
// The session sends the steps' commands.
//
// Once the window has closed (its closing already stopped the arm) or is gone, the source reads as
// an empty script.
class GridScriptSource : public ScriptSource
{
public:
    // `window` is the host as an object: the source falls silent once it is destroyed. The grid and
    // the repetitions box are the window's.
    GridScriptSource(GridScriptHost &host, QObject *window, ScriptGrid &grid, QLineEdit &repetitions);

    int stepCount() override;
    QString functionText(int row) override;
    QString timeText(int row) override;
    QString repetitionsText() override;
    // Any thread: reads only what the host lets any thread read.
    // Marks the step's row in the grid, as the host shows it.
    void stepStarting(int row) override;

private:
    GridScriptHost *liveHost() const;

    GridScriptHost &m_host;
    QPointer<QObject> m_window;
    ScriptGrid &m_grid;
    QLineEdit &m_repetitions;
};
