#pragma once

#include "ScriptGrid.h"
#include "ScriptModel.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class CommonDialog;
class GridText;
class QLabel;
class QLineEdit;
class QMenu;
class QUndoStack;
class QWidget;
class ScriptEditorHost;
struct ScriptLoad;

// Everything the window does with the script short of running it: the cell editor, the steps a
// recording writes, whole-step edits, undo, the totals line, and Clear, Load and Save. It works on
// the controls it is given (the grid, its editor, the repetitions box) and tells the operator
// through the dialogs it is given and the host's status line.
class ScriptEditor : public QObject
{
    Q_OBJECT

public:
    // The window's controls the editor works on.
    struct Controls
    {
        // The editor's parent and the dialogs'; its title names the script's file and marks unsaved
        // changes, and it holds the editor's shortcuts.
        QWidget *window = nullptr;
        // The grid, a view of the script.
        ScriptGrid *grid = nullptr;
        // The cell editor, a child of `window`.
        ::GridText *cellEditor = nullptr;
        QLineEdit *repetitions = nullptr;
        QLabel *totals = nullptr;
        // Save and Load: Ctrl+S and Ctrl+O act only while they are enabled.
        QWidget *save = nullptr;
        QWidget *load = nullptr;
    };

    // `dialog` asks for file names and carries every message; it must outlive the editor.
    ScriptEditor(ScriptEditorHost &host, const Controls &controls, CommonDialog &dialog);

    // The filter of both file dialogs.
    static inline const QString ScriptFileFilter =
        QStringLiteral("Script Files (*.SRP)|*.SRP|All Files (*.*)|*.*");

    // A step begun in Scripting mode and not ended yet: no step edit, cell edit or undo meanwhile.
    bool RecordingStep() const;
    // Recording: the grid's side of a step begun and ended.
    void StepBegun(const QString &function);
    void StepEnded(double seconds);

    // Opens the cell editor on the current cell, started from the key that opened it.
    void GridEdit(qint16 KeyAscii);
    // The operator's commit (Enter, or moving to another cell): false when the text is refused, the
    // editor staying open with a hint of what the cell takes.
    bool CommitCellEdit();
    // Commits the cell edit that is open, if any, as the grid does when the operator moves to
    // another cell. Everything that moves the current cell from the program (recording, a run,
    // Clear, loading) calls it first, so an edit always lands in the cell it was made for; a text
    // the cell does not take is dropped then, as Escape drops it.
    void CommitOpenEdit();

    void Clear();
    void Load();
    // What Load does once a file is chosen; also a file named on the command line. False when the
    // file cannot be read (the operator has been told why and the grid is as it was).
    bool LoadScript(const QString &path);
    // True once the script is in a file; false when cancelled, refused or not written.
    bool Save();
    bool SaveAs();
    // Before unsaved changes would be lost (closing, Load): asks Save, Discard or Cancel. False to
    // stop there (Cancel, or a save that did not happen); true at once when nothing is unsaved.
    bool SettleUnsavedChanges();

    // Whole-step edits of the script on row `row`, each one undo step. They act only on steps (an
    // insert also on the row after the last step, where it appends) and not while a run is in
    // progress or a step is being recorded.
    void InsertStep(int row);
    void DeleteStep(int row);
    void DuplicateStep(int row);
    // delta -1 moves the step up, +1 down.
    void MoveStep(int row, int delta);
    void AppendReturnPath();
    // Undo and redo of every change of the script (cell edits, recorded steps, Clear, Load and the
    // step edits above); refused while a run is in progress or a step is being recorded.
    void Undo();
    void Redo();
    QUndoStack *UndoStack() const { return m_undoStack; }
    // The file the script was loaded from or saved in last; empty before any. Setting it names the
    // file Save writes, and nothing else.
    QString FileName() const { return m_fileName; }
    void SetFileName(const QString &path) { m_fileName = path; }
    // The file dialogs and messages the editor goes through.
    CommonDialog &FileDialog() const { return m_dialog; }
    // The context menu of step row `row`, as a right click on it shows it; owned by the caller.
    QMenu *StepMenu(int row);
    // The script's total time and each motor's running time, one line under the grid; in full in
    // the tooltip of the line and of the grid's header.
    QString TotalsLine() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool commitCellEdit(bool byOperator);
    void hideCellEditor();
    void editorEscaped();
    void currentCellChanged();
    void repetitionsFocus(bool gotFocus);
    void stepKey(ScriptGrid::StepKey key);
    void showStepMenu(int row, const QPoint &globalPos);
    bool stepsEditable() const;
    // Whether a step edit or undo may go ahead now; says why not on the status line.
    bool beginStepEdit();
    // Puts a step edit already made on the undo stack.
    void pushStepEdit(const QString &text, std::function<void()> redo, std::function<void()> undo);
    void scheduleTotals();
    void updateTotals();
    bool saveTo(const QString &path);
    // Where the file dialogs open: the folder of the last script, else the documents folder or home.
    QString dialogFolder() const;
    void rememberScriptFolder(const QString &path);
    void warnOfShortLoad(const ScriptLoad &load, const QString &path);

    // Clear and Load change the file name and title with the script: they are undone together.
    struct ScriptState
    {
        ScriptModel::Snapshot script;
        QString fileName;
        QString title;
    };
    ScriptState scriptState() const;
    void pushScriptState(const QString &text, const ScriptState &before);
    void clearScript();

    ScriptEditorHost &m_host;
    const Controls m_ui;
    ScriptModel *const m_script;
    CommonDialog &m_dialog;
    QString m_fileName;
    QUndoStack *m_undoStack = nullptr;
    // A step begun by recording and not ended yet: its row as it was before, for the undo of the
    // whole recorded step.
    struct RecordStart
    {
        int row = 0;
        int rows = 0;
        std::array<QString, 3> texts;
    };
    std::optional<RecordStart> m_recordStart;
    bool m_totalsPending = false;
    // A note under the cell editor says why its text was refused.
    bool m_noteShown = false;
};
