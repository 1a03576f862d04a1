#include "ScriptUndo.h"

#include <utility>

ScriptChange::ScriptChange(const QString &text, std::function<void()> redo, std::function<void()> undo,
                           State state)
    : QUndoCommand(text), m_redo(std::move(redo)), m_undo(std::move(undo)), m_skipRedo(state == State::Done)
{
}

void ScriptChange::redo()
{
    if (m_skipRedo) {
        m_skipRedo = false;
        return;
    }
    m_redo();
}

void ScriptChange::undo()
{
    m_undo();
}
