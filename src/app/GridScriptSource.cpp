#include "GridScriptSource.h"

#include "GridScriptHost.h"
#include "ScriptGrid.h"
#include "ScriptModel.h"

#include <QLineEdit>

GridScriptSource::GridScriptSource(GridScriptHost &host, QObject *window, ScriptGrid &grid,
                                   QLineEdit &repetitions)
    : m_host(host), m_window(window), m_grid(grid), m_repetitions(repetitions)
{
}

GridScriptHost *GridScriptSource::liveHost() const
{
    return m_window && !m_host.Unloaded() ? &m_host : nullptr;
}

int GridScriptSource::stepCount()
{
    return liveHost() ? m_grid.Script()->nextStep() - 1 : 0;
}

QString GridScriptSource::functionText(int row)
{
    return liveHost() ? m_grid.TextMatrix(row, 1) : QString();
}

QString GridScriptSource::timeText(int row)
{
    return liveHost() ? m_grid.TextMatrix(row, 2) : QString();
}

QString GridScriptSource::repetitionsText()
{
    return liveHost() ? m_repetitions.text() : QString();
}

void GridScriptSource::stepStarting(int row)
{
    if (GridScriptHost *host = liveHost())
        host->ShowStepStarting(row);
}
