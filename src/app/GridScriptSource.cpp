#include "GridScriptSource.h"

#include "RunDisplay.h"
#include "ScriptGrid.h"
#include "frmMain.h"

GridScriptSource::GridScriptSource(frmMain &window) : m_window(&window) {}

frmMain *GridScriptSource::liveWindow() const
{
    frmMain *window = m_window.data();
    return window && !window->Unloaded() ? window : nullptr;
}

int GridScriptSource::stepCount()
{
    const frmMain *window = liveWindow();
    return window ? window->NextStep - 1 : 0;
}

QString GridScriptSource::functionText(int row)
{
    const frmMain *window = liveWindow();
    return window ? window->Grid->TextMatrix(row, 1) : QString();
}

QString GridScriptSource::timeText(int row)
{
    const frmMain *window = liveWindow();
    return window ? window->Grid->TextMatrix(row, 2) : QString();
}

QString GridScriptSource::repetitionsText()
{
    const frmMain *window = liveWindow();
    return window ? window->txtReps->text() : QString();
}

void GridScriptSource::stepStarting(int row)
{
    frmMain *window = liveWindow();
    if (!window)
        return;
    // The runner moves the current cell like any other program change: an edit still open goes
    // into the cell it was made for first.
    window->Editor().CommitOpenEdit();
    window->runDisplay().stepStarted(row);
    if (window->Hilight()) {
        window->Grid->SetHighLight(true);
        window->Grid->SelectWholeRow(row);
    } else {
        window->Grid->SetRow(row);
    }
}
