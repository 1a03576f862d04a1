#pragma once

#include <QUndoCommand>

#include <functional>

// One change of the script on the window's undo stack, told as the two actions that make and take
// it back. A change the window has already made (a recorded step, a cell edit) is pushed as done:
// the stack's first redo then leaves it alone.
class ScriptChange : public QUndoCommand
{
public:
    enum class State { ToDo, Done };

    ScriptChange(const QString &text, std::function<void()> redo, std::function<void()> undo,
                 State state = State::ToDo);

    void redo() override;
    void undo() override;

private:
    std::function<void()> m_redo;
    std::function<void()> m_undo;
    bool m_skipRedo;
};
