#include "ScriptEditor.h"

#include "GridText.h"
#include "RunProgress.h"
#include "ScriptDialogs.h"
#include "ScriptEditing.h"
#include "ScriptEditorHost.h"
#include "ScriptFile.h"
#include "ScriptNumbers.h"
#include "ScriptUndo.h"
#include "StepFunctions.h"
#include "WindowLook.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QUndoStack>
#include <QValidator>

#include <limits>
#include <utility>

namespace {

const QString ErrorTitle = QStringLiteral("Error");
// "[*]" shows where the window system puts the mark of unsaved changes.
const QString WindowTitle = QStringLiteral("Tessaro[*]");

constexpr int StartRows = ScriptModel::StartRows;
// From this step on a begun step is scrolled to the top of the view.
constexpr int ScrollFromStep = 13;

QString titleWithFile(const QString &path)
{
    return QStringLiteral("Tessaro (%1)[*]").arg(path);
}

// Digits only, 1 to 32767 or nothing yet: a keystroke or a paste that would make anything else is
// refused (and QLineEdit::inputRejected tells of it).
class RepetitionsValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        if (input.isEmpty())
            return Intermediate;
        return ScriptEditing::Repetitions(input) ? Acceptable : Invalid;
    }
};

// A name typed without an extension is given the script one, as the file dialog's filter shows only
// those.
QString withScriptExtension(const QString &path)
{
    const QFileInfo file(path);
    if (file.fileName().contains(QLatin1Char('.')) || file.isDir())
        return path;
    return path + QStringLiteral(".SRP");
}

// The script as Clear leaves it: the header kept, every other cell empty, at most StartRows rows.
ScriptModel::Snapshot clearedScript(const ScriptModel &script)
{
    ScriptModel::Snapshot cleared;
    cleared.header = script.rowTexts(0);
    cleared.rows.resize(qMin(script.rows(), StartRows) - 1);
    cleared.nextStep = 1;
    return cleared;
}

struct Motor
{
    const char *name;
    int firstCode; // codes firstCode and firstCode + 5
    const char *first;
    const char *second;
};

constexpr Motor Motors[] = {
    {"Shoulder", 1, "Up", "Down"}, {"Base", 2, "CCW", "CW"},        {"Elbow", 3, "Up", "Down"},
    {"Wrist", 4, "Up", "Down"},    {"Gripper", 5, "Close", "Open"},
};

} // namespace

ScriptEditor::ScriptEditor(ScriptEditorHost &host, const Controls &controls, CommonDialog &dialog)
    : QObject(controls.window), m_host(host), m_ui(controls), m_script(controls.grid->Script()),
      m_dialog(dialog)
{
    ScriptGrid *grid = m_ui.grid;
    ::GridText *editor = m_ui.cellEditor;
    connect(editor, &GridText::EnterPressed, this, &ScriptEditor::CommitCellEdit);
    // The operator moving to another cell commits the edit; a refused one keeps the cell current.
    connect(grid, &ScriptGrid::LeaveCell, this, [this, grid] {
        if (!CommitCellEdit())
            grid->RefuseLeave();
    });
    connect(editor, &GridText::EscapePressed, this, &ScriptEditor::editorEscaped);
    // The note under a refused cell speaks of the text it refused: as the operator types, it speaks of
    // the new text, and goes once the text would be taken.
    connect(editor, &QLineEdit::textEdited, this, [this] {
        if (!m_noteShown)
            return;
        const ScriptEditing::Commit commit =
            ScriptEditing::CommitCellEdit(m_ui.grid->Row(), m_ui.grid->Col(), m_script->nextStep(),
                                          m_ui.cellEditor->isVisible(), m_ui.cellEditor->text());
        m_noteShown = !commit.refusal.isEmpty();
        if (ScriptDialogs *dialogs = m_dialog.Dialogs())
            dialogs->hint(m_ui.cellEditor, commit.refusal);
    });
    connect(grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ScriptEditor::currentCellChanged);
    connect(grid, &ScriptGrid::StepKeyPressed, this, &ScriptEditor::stepKey);
    connect(grid, &ScriptGrid::StepMenu, this, &ScriptEditor::showStepMenu);

    QLineEdit *reps = m_ui.repetitions;
    reps->setValidator(new RepetitionsValidator(reps));
    connect(reps, &QLineEdit::inputRejected, this, [this, reps] {
        if (ScriptDialogs *dialogs = m_dialog.Dialogs())
            dialogs->hint(reps, ScriptEditing::RepetitionsRule());
    });
    reps->installEventFilter(this);

    m_undoStack = new QUndoStack(this);
    // The title's mark of unsaved changes: set by any change, gone once the script is saved or
    // loaded, or undone back to that.
    connect(m_undoStack, &QUndoStack::cleanChanged, this,
            [this](bool clean) { m_ui.window->setWindowModified(!clean); });
    auto *undo = new QAction(tr("Undo"), m_ui.window);
    undo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Z)});
    connect(undo, &QAction::triggered, this, &ScriptEditor::Undo);
    auto *redo = new QAction(tr("Redo"), m_ui.window);
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(redo, &QAction::triggered, this, &ScriptEditor::Redo);
    // As in every editor; each does what its button does.
    auto *save = new QAction(tr("Save"), m_ui.window);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(save, &QAction::triggered, this, [this] {
        if (m_ui.save->isEnabled())
            Save();
    });
    auto *open = new QAction(tr("Load"), m_ui.window);
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(open, &QAction::triggered, this, [this] {
        if (m_ui.load->isEnabled())
            Load();
    });
    for (QAction *action : {undo, redo, save, open}) {
        action->setShortcutContext(Qt::WindowShortcut);
        m_ui.window->addAction(action);
    }

    ScriptModel *script = m_script;
    connect(script, &QAbstractItemModel::modelReset, this, &ScriptEditor::scheduleTotals);
    connect(script, &QAbstractItemModel::dataChanged, this, &ScriptEditor::scheduleTotals);
    connect(script, &QAbstractItemModel::rowsInserted, this, &ScriptEditor::scheduleTotals);
    connect(script, &QAbstractItemModel::rowsRemoved, this, &ScriptEditor::scheduleTotals);
    connect(script, &ScriptModel::nextStepChanged, this, &ScriptEditor::scheduleTotals);
    connect(reps, &QLineEdit::textChanged, this, &ScriptEditor::scheduleTotals);
    updateTotals();
}

bool ScriptEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui.repetitions &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        repetitionsFocus(event->type() == QEvent::FocusIn);
    return QObject::eventFilter(watched, event);
}

void ScriptEditor::StepBegun(const QString &function)
{
    CommitOpenEdit();
    const ScriptRow before = m_script->rowTexts(m_script->nextStep());
    m_recordStart = RecordStart{m_script->nextStep(), m_ui.grid->Rows(), before};
    if (m_script->nextStep() > m_ui.grid->Rows() - 1)
        m_ui.grid->AddItem();
    m_ui.grid->SetRow(m_script->nextStep());
    m_ui.grid->SetTextMatrix(m_script->nextStep(), 0, NumberText(m_script->nextStep()));
    m_ui.grid->SetTextMatrix(m_script->nextStep(), 1, function);
    if (m_script->nextStep() >= ScrollFromStep)
        m_ui.grid->SetTopRow(m_script->nextStep());
}

void ScriptEditor::StepEnded(double seconds)
{
    // A step left behind (the mode changed under it, then Clear, a load or a step edit came) is never
    // ended: its row may hold something else by now.
    if (!m_recordStart || m_recordStart->row != m_script->nextStep()) {
        m_recordStart.reset();
        return;
    }
    m_ui.grid->SetTextMatrix(m_script->nextStep(), 2, NumberText(seconds));
    // The counter is 16 bits wide; the last row it can name stays the last step.
    const qint16 row = m_script->nextStep();
    if (m_script->nextStep() < std::numeric_limits<qint16>::max())
        m_script->setNextStep(qint16(m_script->nextStep() + 1));

    // The whole step is one change: its row as it was before it began, and as it is now.
    const RecordStart start = *m_recordStart;
    m_recordStart.reset();
    const ScriptRow after = m_script->rowTexts(row);
    const int rowsAfter = m_ui.grid->Rows();
    const qint16 nextAfter = m_script->nextStep();
    ScriptModel *script = m_script;
    m_undoStack->push(new ScriptChange(
        tr("Record step"),
        [script, row, after, rowsAfter, nextAfter] {
            script->setRows(rowsAfter);
            script->setRowTexts(row, after);
            script->setNextStep(nextAfter);
        },
        [script, start] {
            script->setRowTexts(start.row, start.texts);
            script->setRows(start.rows);
            script->setNextStep(qint16(start.row));
        },
        ScriptChange::State::Done));
}

void ScriptEditor::GridEdit(qint16 KeyAscii)
{
    if (m_script->nextStep() == 1)
        return;
    if (const QString lock = m_host.EditLockText(); !lock.isEmpty()) {
        m_host.showStatusMessage(lock);
        return;
    }
    if (RecordingStep()) {
        m_host.showStatusMessage(WindowLook::RecordingLockText);
        return;
    }
    QFont font = m_ui.cellEditor->font();
    font.setFamily(m_ui.grid->font().family());
    font.setPointSizeF(m_ui.grid->font().pointSizeF());
    m_ui.cellEditor->setFont(font);

    m_ui.cellEditor->setText(
        ScriptEditing::EditStartText(KeyAscii, m_ui.grid->TextMatrix(m_ui.grid->Row(), m_ui.grid->Col())));
    m_ui.cellEditor->setCursorPosition(int(m_ui.cellEditor->text().size()));
    currentCellChanged();

    // The editor lies in the window, over the cell.
    const QPoint cell = m_ui.grid->mapTo(m_ui.window, QPoint(m_ui.grid->CellLeft(), m_ui.grid->CellTop()));
    m_ui.cellEditor->setGeometry(QRect(cell, QSize(m_ui.grid->CellWidth(), m_ui.grid->CellHeight())));
    m_ui.cellEditor->show();
    m_ui.cellEditor->raise();
    m_ui.cellEditor->setFocus(Qt::OtherFocusReason);
}

void ScriptEditor::currentCellChanged()
{
    m_ui.cellEditor->SetCharFilter(m_ui.grid->Col() == ScriptEditing::FunctionColumn
                                       ? GridText::Filter::Letters
                                       : GridText::Filter::Number);
}

bool ScriptEditor::CommitCellEdit()
{
    return commitCellEdit(true);
}

bool ScriptEditor::commitCellEdit(bool byOperator)
{
    const int row = m_ui.grid->Row();
    const int col = m_ui.grid->Col();
    const ScriptEditing::Commit commit = ScriptEditing::CommitCellEdit(
        row, col, m_script->nextStep(), m_ui.cellEditor->isVisible(), m_ui.cellEditor->text());
    if (!commit.refusal.isEmpty()) {
        if (!byOperator) {
            // The program moves on (a step is recorded, a run starts): the edit is dropped as Escape
            // drops it, and the cell keeps its text.
            hideCellEditor();
            return true;
        }
        // The edit stays open, its text marked for typing over, until it is right or Escape drops it.
        m_ui.cellEditor->setFocus(Qt::OtherFocusReason);
        m_ui.cellEditor->selectAll();
        if (ScriptDialogs *dialogs = m_dialog.Dialogs())
            dialogs->hint(m_ui.cellEditor, commit.refusal);
        m_noteShown = true;
        return false;
    }
    m_ui.cellEditor->setText(commit.editorText);
    if (commit.writeCell && m_ui.grid->TextMatrix(row, col) != commit.cellText) {
        const QString before = m_ui.grid->TextMatrix(row, col);
        const QString after = commit.cellText;
        ScriptModel *script = m_script;
        m_undoStack->push(new ScriptChange(
            col == ScriptEditing::FunctionColumn ? tr("Edit function") : tr("Edit time"),
            [script, row, col, after] { script->setText(row, col, after); },
            [script, row, col, before] { script->setText(row, col, before); }));
    }
    if (commit.hideEditor)
        hideCellEditor();
    return true;
}

void ScriptEditor::hideCellEditor()
{
    // The keys go back to the grid, where the arrows and the step keys work, not to whatever
    // widget comes next.
    if (m_ui.cellEditor->hasFocus())
        m_ui.grid->setFocus();
    m_ui.cellEditor->hide();
    if (std::exchange(m_noteShown, false)) {
        if (ScriptDialogs *dialogs = m_dialog.Dialogs())
            dialogs->hint(m_ui.cellEditor, QString());
    }
}

void ScriptEditor::editorEscaped()
{
    hideCellEditor();
    commitCellEdit(true);
}

void ScriptEditor::CommitOpenEdit()
{
    if (m_ui.cellEditor->isVisible())
        commitCellEdit(false);
}

void ScriptEditor::repetitionsFocus(bool gotFocus)
{
    m_ui.repetitions->setFrame(!gotFocus);
    if (gotFocus) {
        m_ui.repetitions->selectAll();
        // A click that brought the focus places the caret once this event is through; select again
        // after it.
        QTimer::singleShot(0, m_ui.repetitions, [box = QPointer<QLineEdit>(m_ui.repetitions)] {
            if (box && box->hasFocus())
                box->selectAll();
        });
    }
}

void ScriptEditor::Clear()
{
    CommitOpenEdit();
    const ScriptState before = scriptState();
    clearScript();
    pushScriptState(tr("Clear"), before);
}

void ScriptEditor::clearScript()
{
    m_host.LeaveScriptingMode();
    // A step being recorded is never ended now; its row is simply gone.
    m_recordStart.reset();
    m_script->restore(clearedScript(*m_script));
    m_ui.grid->ShowFromFirstStep();
    m_ui.window->setWindowTitle(WindowTitle);
}

ScriptEditor::ScriptState ScriptEditor::scriptState() const
{
    return ScriptState{m_script->snapshot(), m_fileName, m_ui.window->windowTitle()};
}

void ScriptEditor::pushScriptState(const QString &text, const ScriptState &before)
{
    const ScriptState after = scriptState();
    if (after.script.nextStep == before.script.nextStep && after.script.header == before.script.header &&
        after.script.rows == before.script.rows && after.fileName == before.fileName &&
        after.title == before.title)
        return;
    // The stack is the window's own: its changes never outlive it.
    const auto put = [this](const ScriptState &state) {
        m_script->restore(state.script);
        m_fileName = state.fileName;
        m_ui.window->setWindowTitle(state.title);
        // A whole script put back is shown from its start, as a load shows it.
        m_ui.grid->ShowFromFirstStep();
    };
    m_undoStack->push(new ScriptChange(
        text, [put, after] { put(after); }, [put, before] { put(before); }, ScriptChange::State::Done));
}

// Told after the grid shows what was read, so the operator sees what a Save would write.
void ScriptEditor::warnOfShortLoad(const ScriptLoad &load, const QString &path)
{
    const QString warning = ScriptLoadWarning(load, path);
    if (warning.isEmpty())
        return;
    if (ScriptDialogs *dialogs = m_dialog.Dialogs())
        dialogs->warningMessage(m_ui.window, QStringLiteral("Script not loaded whole"),
                                warning +
                                    QStringLiteral("\n\nSaving now would replace the file with the script "
                                                   "as it stands."));
}

void ScriptEditor::Load()
{
    if (!SettleUnsavedChanges())
        return;
    m_dialog.SetFilter(ScriptFileFilter);
    m_dialog.SetFolder(dialogFolder());
    if (!m_dialog.ShowOpen(m_ui.window))
        return;
    LoadScript(m_dialog.FileName());
}

bool ScriptEditor::LoadScript(const QString &path)
{
    // Read first: a file that cannot be read must not cost the script in the grid.
    const ScriptLoad load = LoadScriptFile(path);
    if (!load.error.isEmpty()) {
        if (ScriptDialogs *dialogs = m_dialog.Dialogs())
            dialogs->errorMessage(m_ui.window, ErrorTitle, load.error);
        return false;
    }
    CommitOpenEdit();
    const ScriptState before = scriptState();
    m_fileName = path;
    clearScript();
    if (load.countValid) {
        // The whole script in one go: a model put together row by row would cost a view update per cell.
        ScriptModel::Snapshot loaded = m_script->snapshot();
        loaded.nextStep = load.nextStep;
        loaded.rows.resize(loaded.rows.size() + qMax(load.rowsToAppend, 0));
        for (int row = 0; row < load.records.size(); ++row) {
            if (row == 0)
                loaded.header = load.records[0];
            else if (row <= loaded.rows.size())
                loaded.rows[row - 1] = load.records[row];
        }
        m_script->restore(std::move(loaded));
        // A file that ends before the steps it announces keeps the rows it held, but it was not
        // loaded whole, so the title does not claim it.
        if (load.records.size() >= load.nextStep)
            m_ui.window->setWindowTitle(titleWithFile(m_fileName));
    }
    pushScriptState(tr("Load"), before);
    m_ui.grid->ShowFromFirstStep();
    // What was just loaded is what the file holds (or, cut short, what it could give).
    m_undoStack->setClean();
    rememberScriptFolder(path);
    warnOfShortLoad(load, path);
    return true;
}

bool ScriptEditor::saveTo(const QString &path)
{
    QList<ScriptRow> rows;
    rows.reserve(qMax<int>(m_script->nextStep(), 1));
    for (int row = 0; row < m_script->nextStep(); ++row)
        rows.append(m_script->rowTexts(row));
    const QString error = WriteScriptFile(path, rows);
    if (error.isEmpty()) {
        m_undoStack->setClean();
        rememberScriptFolder(path);
        return true;
    }
    if (ScriptDialogs *dialogs = m_dialog.Dialogs())
        dialogs->errorMessage(m_ui.window, ErrorTitle, error);
    return false;
}

bool ScriptEditor::Save()
{
    if (m_fileName.isEmpty())
        return SaveAs();
    CommitOpenEdit();
    return saveTo(m_fileName);
}

bool ScriptEditor::SaveAs()
{
    CommitOpenEdit();
    if (m_script->nextStep() == 1) {
        if (ScriptDialogs *dialogs = m_dialog.Dialogs())
            dialogs->errorMessage(m_ui.window, ErrorTitle, QStringLiteral("Cannot save an empty script!"));
        return false;
    }
    m_dialog.SetFilter(ScriptFileFilter);
    m_dialog.SetFolder(dialogFolder());
    if (!m_dialog.ShowSave(m_ui.window))
        return false;
    const QString chosen = withScriptExtension(m_dialog.FileName());
    m_dialog.SetFileName(chosen);
    // A name that could not be written is not the script's file: Save must not go on writing to it,
    // and the title keeps naming the file that does hold the script.
    if (!saveTo(chosen))
        return false;
    m_fileName = chosen;
    m_ui.window->setWindowTitle(titleWithFile(m_fileName));
    return true;
}

bool ScriptEditor::SettleUnsavedChanges()
{
    CommitOpenEdit();
    ScriptDialogs *dialogs = m_dialog.Dialogs();
    if (m_undoStack->isClean() || !dialogs)
        return true;
    // An empty script cannot be saved; what is at stake then is the steps Undo would bring back.
    const bool canSave = m_script->nextStep() > 1;
    const QString text = canSave
                             ? QStringLiteral("The script has changes that are not saved. Save them first?")
                             : QStringLiteral("The script is empty now, and the steps it had were never "
                                              "saved (Undo brings them back). Discard them?");
    switch (dialogs->askToSave(m_ui.window, text, canSave)) {
    case ScriptDialogs::SaveChoice::Save:
        return Save();
    case ScriptDialogs::SaveChoice::Discard:
        return true;
    case ScriptDialogs::SaveChoice::Cancel:
        break;
    }
    return false;
}

QString ScriptEditor::dialogFolder() const
{
    const QString remembered = m_host.ScriptFolder();
    if (!remembered.isEmpty())
        return remembered;
    // Never the program's own folder (/usr/bin once installed): the user's documents, or home.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void ScriptEditor::rememberScriptFolder(const QString &path)
{
    m_host.SetScriptFolder(QFileInfo(path).absolutePath());
}

bool ScriptEditor::RecordingStep() const
{
    // A step begun in Scripting mode whose motion is still on; once the mode has changed under it the
    // step is never ended (its motion stops unrecorded), so it holds nothing up.
    return m_recordStart && m_host.MotionActive() && m_host.ScriptingMode();
}

bool ScriptEditor::stepsEditable() const
{
    // A run reads the script as it goes, and a step being recorded owns the row it began on.
    return m_host.EditLockText().isEmpty() && !RecordingStep();
}

bool ScriptEditor::beginStepEdit()
{
    if (!stepsEditable()) {
        const QString lock = m_host.EditLockText();
        m_host.showStatusMessage(lock.isEmpty() ? WindowLook::RecordingLockText : lock);
        return false;
    }
    // A step left behind by a change of mode may lie where this edit goes: it is given up for good.
    m_recordStart.reset();
    CommitOpenEdit();
    return true;
}

void ScriptEditor::pushStepEdit(const QString &text, std::function<void()> redo, std::function<void()> undo)
{
    m_undoStack->push(new ScriptChange(text, std::move(redo), std::move(undo), ScriptChange::State::Done));
}

void ScriptEditor::InsertStep(int row)
{
    if (!beginStepEdit())
        return;
    // Below the script an insert appends.
    const int at = qBound(1, row, int(m_script->nextStep()));
    const ScriptModel::Step pause{StepFunctions::name(0), NumberText(0)};
    if (!m_script->insertStep(at, pause))
        return;
    ScriptModel *script = m_script;
    pushStepEdit(
        tr("Insert step"), [script, at, pause] { script->insertStep(at, pause); },
        [script, at] { script->uninsertStep(at); });
    m_ui.grid->SetRow(at);
    m_ui.grid->SetCol(ScriptEditing::FunctionColumn);
    GridEdit(32);
}

void ScriptEditor::DeleteStep(int row)
{
    if (!beginStepEdit())
        return;
    ScriptModel::DeletedStep deleted;
    if (!m_script->deleteStep(row, &deleted))
        return;
    ScriptModel *script = m_script;
    pushStepEdit(
        tr("Delete step"), [script, row] { script->deleteStep(row); },
        [script, row, deleted] { script->undeleteStep(row, deleted); });
    // Delete pressed again goes on with the step that took the place, or the new last one.
    if (m_script->nextStep() > 1)
        m_ui.grid->SetRow(qMin(row, m_script->nextStep() - 1));
}

void ScriptEditor::DuplicateStep(int row)
{
    if (row < 1 || row >= m_script->nextStep() || !beginStepEdit())
        return;
    const ScriptModel::Step copy = m_script->step(row);
    if (!m_script->insertStep(row + 1, copy))
        return;
    ScriptModel *script = m_script;
    pushStepEdit(
        tr("Duplicate step"), [script, row, copy] { script->insertStep(row + 1, copy); },
        [script, row] { script->uninsertStep(row + 1); });
    m_ui.grid->SetRow(row + 1);
}

void ScriptEditor::MoveStep(int row, int delta)
{
    if ((delta != -1 && delta != 1) || !beginStepEdit())
        return;
    const int upper = delta < 0 ? row - 1 : row;
    if (!m_script->swapSteps(upper))
        return;
    ScriptModel *script = m_script;
    const auto swap = [script, upper] { script->swapSteps(upper); };
    pushStepEdit(delta < 0 ? tr("Move step up") : tr("Move step down"), swap, swap);
    // The current row goes with the step, so the key can be pressed again.
    m_ui.grid->SetRow(row + delta);
}

void ScriptEditor::AppendReturnPath()
{
    if (!beginStepEdit())
        return;
    const QList<ScriptModel::Step> path = m_script->returnPath();
    const int first = m_script->nextStep();
    const int room = ScriptModel::MaxNextStep - m_script->nextStep();
    if (path.size() > room) {
        if (ScriptDialogs *dialogs = m_dialog.Dialogs())
            dialogs->errorMessage(
                m_ui.window, QStringLiteral("Error"),
                QStringLiteral("The return path was not appended: it takes %1 steps, and the "
                               "script has room for %2 more (a script holds at most %3 steps).")
                    .arg(path.size())
                    .arg(room)
                    .arg(ScriptModel::MaxNextStep - 1));
        return;
    }
    if (!m_script->appendSteps(path))
        return;
    ScriptModel *script = m_script;
    const int count = int(path.size());
    pushStepEdit(
        tr("Append return path"), [script, path] { script->appendSteps(path); },
        [script, count] { script->unappendSteps(count); });
    m_ui.grid->SetRow(first);
}

void ScriptEditor::Undo()
{
    if (!m_undoStack->canUndo() || !beginStepEdit())
        return;
    m_undoStack->undo();
}

void ScriptEditor::Redo()
{
    if (!m_undoStack->canRedo() || !beginStepEdit())
        return;
    m_undoStack->redo();
}

void ScriptEditor::stepKey(ScriptGrid::StepKey key)
{
    // The keys belong to the editor while it is open.
    if (m_ui.cellEditor->isVisible())
        return;
    const int row = m_ui.grid->Row();
    switch (key) {
    case ScriptGrid::StepKey::Insert:
        InsertStep(row);
        break;
    case ScriptGrid::StepKey::Delete:
        DeleteStep(row);
        break;
    case ScriptGrid::StepKey::MoveUp:
        MoveStep(row, -1);
        break;
    case ScriptGrid::StepKey::MoveDown:
        MoveStep(row, 1);
        break;
    }
}

QMenu *ScriptEditor::StepMenu(int row)
{
    const bool editable = stepsEditable();
    const bool isStep = row >= 1 && row < m_script->nextStep();
    const bool roomForOne = m_script->nextStep() < ScriptModel::MaxNextStep;
    auto *menu = new QMenu(m_ui.window);
    const auto add = [menu](const QString &text, bool enabled, auto slot) {
        QAction *action = menu->addAction(text, slot);
        action->setEnabled(enabled);
        return action;
    };
    add(tr("Insert step above\tIns"), editable && roomForOne, [this, row] { InsertStep(row); });
    add(tr("Duplicate"), editable && isStep && roomForOne, [this, row] { DuplicateStep(row); });
    add(tr("Delete\tDel"), editable && isStep, [this, row] { DeleteStep(row); });
    add(tr("Move up\tCtrl+Up"), editable && isStep && row > 1, [this, row] { MoveStep(row, -1); });
    add(tr("Move down\tCtrl+Down"), editable && isStep && row + 1 < m_script->nextStep(),
        [this, row] { MoveStep(row, 1); });
    menu->addSeparator();
    add(tr("Append return path"), editable && m_script->nextStep() > 1, [this] { AppendReturnPath(); });
    add(tr("Run from here"), m_host.EditLockText().isEmpty() && isStep, [this, row] { m_host.RunFrom(row); });
    menu->addSeparator();
    // Named after what they would undo or redo: "Undo Delete step".
    const auto named = [](const QString &verb, const QString &what) {
        return (what.isEmpty() ? verb : verb + QLatin1Char(' ') + what);
    };
    add(named(tr("Undo"), m_undoStack->undoText()) + tr("\tCtrl+Z"), editable && m_undoStack->canUndo(),
        [this] { Undo(); });
    add(named(tr("Redo"), m_undoStack->redoText()) + tr("\tCtrl+Y"), editable && m_undoStack->canRedo(),
        [this] { Redo(); });
    return menu;
}

void ScriptEditor::showStepMenu(int row, const QPoint &globalPos)
{
    QMenu *menu = StepMenu(row);
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(globalPos);
}

QString ScriptEditor::TotalsLine() const
{
    const ScriptModel::Totals totals = m_script->totals();
    // A count still being typed (or none) leaves the line at one pass.
    const int reps = ScriptEditing::Repetitions(m_ui.repetitions->text()).value_or(1);
    QStringList parts{RunProgress::totalText(totals.seconds, reps)};
    // In the order the script first runs them, as the operator reads the script.
    for (const int code : totals.order)
        parts << QStringLiteral("%1 %2").arg(StepFunctions::name(code),
                                             RunProgress::durationText(totals.perCode[size_t(code)]));
    return parts.join(QStringLiteral(" \u00b7 "));
}

void ScriptEditor::scheduleTotals()
{
    // A load or a long edit changes many cells at once; count once they are all in.
    if (m_totalsPending)
        return;
    m_totalsPending = true;
    QTimer::singleShot(0, this, [this] {
        m_totalsPending = false;
        updateTotals();
    });
}

void ScriptEditor::updateTotals()
{
    const ScriptModel::Totals totals = m_script->totals();
    QStringList lines{tr("Total time: %1").arg(RunProgress::durationText(totals.seconds))};
    for (const Motor &motor : Motors) {
        lines << tr("%1: %2 %3, %4 %5")
                     .arg(QLatin1String(motor.name), QLatin1String(motor.first),
                          RunProgress::durationText(totals.perCode[size_t(motor.firstCode)]),
                          QLatin1String(motor.second),
                          RunProgress::durationText(totals.perCode[size_t(motor.firstCode + 5)]));
    }
    lines << tr("Pause: %1").arg(RunProgress::durationText(totals.perCode[0]));
    const QString tip = lines.join(QLatin1Char('\n'));
    const QString line = TotalsLine();
    const QString shown = m_ui.totals->fontMetrics().elidedText(line, Qt::ElideRight, m_ui.totals->width());
    m_ui.totals->setText(shown);
    // What the line had no room for is in its tooltip, above every motor's times.
    const QString whole = line.split(QStringLiteral(" \u00b7 ")).join(QLatin1Char('\n'));
    m_ui.totals->setToolTip(shown == line ? tip : whole + QStringLiteral("\n\n") + tip);
    m_ui.grid->horizontalHeader()->viewport()->setToolTip(tip);
}
