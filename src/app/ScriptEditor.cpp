#include "ScriptEditor.h"

#include "GridText.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "RunProgress.h"
#include "ScriptEditing.h"
#include "ScriptFile.h"
#include "ScriptNumbers.h"
#include "ScriptRunner.h"
#include "ScriptUndo.h"
#include "StepFunctions.h"
#include "frmMain.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
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

ScriptEditor::ScriptEditor(frmMain &window) : QObject(&window), m_w(window)
{
    ScriptGrid *grid = m_w.Grid;
    ::GridText *editor = m_w.GridText;
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
        const ScriptEditing::Commit commit = ScriptEditing::CommitCellEdit(
            m_w.Grid->Row(), m_w.Grid->Col(), m_w.NextStep, m_w.GridText->isVisible(), m_w.GridText->text());
        m_noteShown = !commit.refusal.isEmpty();
        if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
            dialogs->hint(m_w.GridText, commit.refusal);
    });
    connect(grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ScriptEditor::currentCellChanged);
    connect(grid, &ScriptGrid::StepKeyPressed, this, &ScriptEditor::stepKey);
    connect(grid, &ScriptGrid::StepMenu, this, &ScriptEditor::showStepMenu);

    QLineEdit *reps = m_w.txtReps;
    reps->setValidator(new RepetitionsValidator(reps));
    connect(reps, &QLineEdit::inputRejected, this, [this, reps] {
        if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
            dialogs->hint(reps, ScriptEditing::RepetitionsRule());
    });
    reps->installEventFilter(this);

    m_undoStack = new QUndoStack(this);
    // The title's mark of unsaved changes: set by any change, gone once the script is saved or
    // loaded, or undone back to that.
    connect(m_undoStack, &QUndoStack::cleanChanged, this,
            [this](bool clean) { m_w.setWindowModified(!clean); });
    auto *undo = new QAction(tr("Undo"), &m_w);
    undo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Z)});
    connect(undo, &QAction::triggered, this, &ScriptEditor::Undo);
    auto *redo = new QAction(tr("Redo"), &m_w);
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(redo, &QAction::triggered, this, &ScriptEditor::Redo);
    // As in every editor; each does what its button does.
    auto *save = new QAction(tr("Save"), &m_w);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(save, &QAction::triggered, this, [this] {
        if (m_w.cmdSave->isEnabled())
            Save();
    });
    auto *open = new QAction(tr("Load"), &m_w);
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(open, &QAction::triggered, this, [this] {
        if (m_w.cmdLoad->isEnabled())
            Load();
    });
    for (QAction *action : {undo, redo, save, open}) {
        action->setShortcutContext(Qt::WindowShortcut);
        m_w.addAction(action);
    }

    ScriptModel *script = m_w.Script;
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
    if (watched == m_w.txtReps && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        repetitionsFocus(event->type() == QEvent::FocusIn);
    return QObject::eventFilter(watched, event);
}

void ScriptEditor::StepBegun(const QString &function)
{
    CommitOpenEdit();
    const ScriptRow before = m_w.Script->rowTexts(m_w.NextStep);
    m_recordStart = RecordStart{m_w.NextStep, m_w.Grid->Rows(), before};
    if (m_w.NextStep > m_w.Grid->Rows() - 1)
        m_w.Grid->AddItem();
    m_w.Grid->SetRow(m_w.NextStep);
    m_w.Grid->SetTextMatrix(m_w.NextStep, 0, NumberText(m_w.NextStep));
    m_w.Grid->SetTextMatrix(m_w.NextStep, 1, function);
    if (m_w.NextStep >= ScrollFromStep)
        m_w.Grid->SetTopRow(m_w.NextStep);
}

void ScriptEditor::StepEnded(double seconds)
{
    // A step left behind (the mode changed under it, then Clear, a load or a step edit came) is never
    // ended: its row may hold something else by now.
    if (!m_recordStart || m_recordStart->row != m_w.NextStep) {
        m_recordStart.reset();
        return;
    }
    m_w.Grid->SetTextMatrix(m_w.NextStep, 2, NumberText(seconds));
    // The counter is 16 bits wide; the last row it can name stays the last step.
    const qint16 row = m_w.NextStep;
    if (m_w.NextStep < std::numeric_limits<qint16>::max())
        m_w.Script->setNextStep(qint16(m_w.NextStep + 1));

    // The whole step is one change: its row as it was before it began, and as it is now.
    const RecordStart start = *m_recordStart;
    m_recordStart.reset();
    const ScriptRow after = m_w.Script->rowTexts(row);
    const int rowsAfter = m_w.Grid->Rows();
    const qint16 nextAfter = m_w.NextStep;
    ScriptModel *script = m_w.Script;
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
    if (m_w.NextStep == 1)
        return;
    if (m_w.cmdRun->Caption() == QStringLiteral("Stop")) {
        m_w.showStatusMessage(m_w.RunningLockText);
        return;
    }
    if (RecordingStep()) {
        m_w.showStatusMessage(m_w.RecordingLockText);
        return;
    }
    QFont font = m_w.GridText->font();
    font.setFamily(m_w.Grid->font().family());
    font.setPointSizeF(m_w.Grid->font().pointSizeF());
    m_w.GridText->setFont(font);

    m_w.GridText->setText(
        ScriptEditing::EditStartText(KeyAscii, m_w.Grid->TextMatrix(m_w.Grid->Row(), m_w.Grid->Col())));
    m_w.GridText->setCursorPosition(int(m_w.GridText->text().size()));
    currentCellChanged();

    const int left = m_w.Grid->CellLeft() + m_w.Grid->x() + m_w.pctFrame->x();
    const int top = m_w.Grid->CellTop() + m_w.Grid->y() + m_w.pctFrame->y();
    m_w.GridText->setGeometry(left, top, m_w.Grid->CellWidth(), m_w.Grid->CellHeight());
    m_w.GridText->show();
    m_w.GridText->raise();
    m_w.GridText->setFocus(Qt::OtherFocusReason);
}

void ScriptEditor::currentCellChanged()
{
    m_w.GridText->SetCharFilter(m_w.Grid->Col() == ScriptEditing::FunctionColumn ? GridText::Filter::Letters
                                                                                 : GridText::Filter::Number);
}

bool ScriptEditor::CommitCellEdit()
{
    return commitCellEdit(true);
}

bool ScriptEditor::commitCellEdit(bool byOperator)
{
    const int row = m_w.Grid->Row();
    const int col = m_w.Grid->Col();
    const ScriptEditing::Commit commit = ScriptEditing::CommitCellEdit(
        row, col, m_w.NextStep, m_w.GridText->isVisible(), m_w.GridText->text());
    if (!commit.refusal.isEmpty()) {
        if (!byOperator) {
            // The program moves on (a step is recorded, a run starts): the edit is dropped as Escape
            // drops it, and the cell keeps its text.
            hideCellEditor();
            return true;
        }
        // The edit stays open, its text marked for typing over, until it is right or Escape drops it.
        m_w.GridText->setFocus(Qt::OtherFocusReason);
        m_w.GridText->selectAll();
        if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
            dialogs->hint(m_w.GridText, commit.refusal);
        m_noteShown = true;
        return false;
    }
    m_w.GridText->setText(commit.editorText);
    if (commit.writeCell && m_w.Grid->TextMatrix(row, col) != commit.cellText) {
        const QString before = m_w.Grid->TextMatrix(row, col);
        const QString after = commit.cellText;
        ScriptModel *script = m_w.Script;
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
    if (m_w.GridText->hasFocus())
        m_w.Grid->setFocus();
    m_w.GridText->hide();
    if (std::exchange(m_noteShown, false)) {
        if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
            dialogs->hint(m_w.GridText, QString());
    }
}

void ScriptEditor::editorEscaped()
{
    hideCellEditor();
    commitCellEdit(true);
}

void ScriptEditor::CommitOpenEdit()
{
    if (m_w.GridText->isVisible())
        commitCellEdit(false);
}

void ScriptEditor::repetitionsFocus(bool gotFocus)
{
    m_w.txtReps->setFrame(!gotFocus);
    if (gotFocus) {
        m_w.txtReps->selectAll();
        // A click that brought the focus places the caret once this event is through; select again
        // after it.
        QTimer::singleShot(0, m_w.txtReps, [box = QPointer<QLineEdit>(m_w.txtReps)] {
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
    if (m_w.ScriptingMode())
        m_w.optInteractive->SetValue(true);
    // A step being recorded is never ended now; its row is simply gone.
    m_recordStart.reset();
    m_w.Script->restore(clearedScript(*m_w.Script));
    m_w.Grid->ShowFromFirstStep();
    m_w.setWindowTitle(WindowTitle);
    m_w.session().scriptChanged();
}

ScriptEditor::ScriptState ScriptEditor::scriptState() const
{
    return ScriptState{m_w.Script->snapshot(), m_w.ScriptFileName, m_w.windowTitle()};
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
        m_w.Script->restore(state.script);
        m_w.ScriptFileName = state.fileName;
        m_w.setWindowTitle(state.title);
        // A whole script put back is shown from its start, as a load shows it.
        m_w.Grid->ShowFromFirstStep();
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
    if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
        dialogs->warningMessage(&m_w, QStringLiteral("Script not loaded whole"),
                                warning +
                                    QStringLiteral("\n\nSaving now would replace the file with the script "
                                                   "as it stands."));
}

void ScriptEditor::Load()
{
    if (!SettleUnsavedChanges())
        return;
    m_w.CommD.SetFilter(ScriptFileFilter);
    m_w.CommD.SetFolder(dialogFolder());
    if (!m_w.CommD.ShowOpen(&m_w))
        return;
    LoadScript(m_w.CommD.FileName());
}

bool ScriptEditor::LoadScript(const QString &path)
{
    // Read first: a file that cannot be read must not cost the script in the grid.
    const ScriptLoad load = LoadScriptFile(path);
    if (!load.error.isEmpty()) {
        if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
            dialogs->errorMessage(&m_w, ErrorTitle, load.error);
        return false;
    }
    CommitOpenEdit();
    const ScriptState before = scriptState();
    m_w.ScriptFileName = path;
    clearScript();
    if (load.countValid) {
        // The whole script in one go: a model put together row by row would cost a view update per cell.
        ScriptModel::Snapshot loaded = m_w.Script->snapshot();
        loaded.nextStep = load.nextStep;
        loaded.rows.resize(loaded.rows.size() + qMax(load.rowsToAppend, 0));
        for (int row = 0; row < load.records.size(); ++row) {
            if (row == 0)
                loaded.header = load.records[0];
            else if (row <= loaded.rows.size())
                loaded.rows[row - 1] = load.records[row];
        }
        m_w.Script->restore(std::move(loaded));
        // A file that ends before the steps it announces keeps the rows it held, but it was not
        // loaded whole, so the title does not claim it.
        if (load.records.size() >= load.nextStep)
            m_w.setWindowTitle(titleWithFile(m_w.ScriptFileName));
    }
    pushScriptState(tr("Load"), before);
    m_w.Grid->ShowFromFirstStep();
    // What was just loaded is what the file holds (or, cut short, what it could give).
    m_undoStack->setClean();
    rememberScriptFolder(path);
    warnOfShortLoad(load, path);
    return true;
}

bool ScriptEditor::saveTo(const QString &path)
{
    QList<ScriptRow> rows;
    rows.reserve(qMax<int>(m_w.NextStep, 1));
    for (int row = 0; row < m_w.NextStep; ++row)
        rows.append(m_w.Script->rowTexts(row));
    const QString error = WriteScriptFile(path, rows);
    if (error.isEmpty()) {
        m_undoStack->setClean();
        rememberScriptFolder(path);
        return true;
    }
    if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
        dialogs->errorMessage(&m_w, ErrorTitle, error);
    return false;
}

bool ScriptEditor::Save()
{
    if (m_w.ScriptFileName.isEmpty())
        return SaveAs();
    CommitOpenEdit();
    return saveTo(m_w.ScriptFileName);
}

bool ScriptEditor::SaveAs()
{
    CommitOpenEdit();
    if (m_w.NextStep == 1) {
        if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
            dialogs->errorMessage(&m_w, ErrorTitle, QStringLiteral("Cannot save an empty script!"));
        return false;
    }
    m_w.CommD.SetFilter(ScriptFileFilter);
    m_w.CommD.SetFolder(dialogFolder());
    if (!m_w.CommD.ShowSave(&m_w))
        return false;
    const QString chosen = withScriptExtension(m_w.CommD.FileName());
    m_w.CommD.SetFileName(chosen);
    // A name that could not be written is not the script's file: Save must not go on writing to it,
    // and the title keeps naming the file that does hold the script.
    if (!saveTo(chosen))
        return false;
    m_w.ScriptFileName = chosen;
    m_w.setWindowTitle(titleWithFile(m_w.ScriptFileName));
    return true;
}

bool ScriptEditor::SettleUnsavedChanges()
{
    CommitOpenEdit();
    ScriptDialogs *dialogs = m_w.CommD.Dialogs();
    if (m_undoStack->isClean() || !dialogs)
        return true;
    // An empty script cannot be saved; what is at stake then is the steps Undo would bring back.
    const bool canSave = m_w.NextStep > 1;
    const QString text = canSave
                             ? QStringLiteral("The script has changes that are not saved. Save them first?")
                             : QStringLiteral("The script is empty now, and the steps it had were never "
                                              "saved (Undo brings them back). Discard them?");
    switch (dialogs->askToSave(&m_w, text, canSave)) {
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
    const QString remembered = m_w.Options().scriptFolder;
    if (!remembered.isEmpty())
        return remembered;
    // Never the program's own folder (/usr/bin once installed): the user's documents, or home.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void ScriptEditor::rememberScriptFolder(const QString &path)
{
    ControlOptions options = m_w.Options();
    const QString folder = QFileInfo(path).absolutePath();
    if (folder == options.scriptFolder)
        return;
    options.scriptFolder = folder;
    m_w.SetControlOptions(options);
    // Only a convenience: a file that cannot be written leaves the dialogs starting elsewhere next time.
    if (!m_w.OptionsFilePath().isEmpty())
        ControlOptions::write(m_w.OptionsFilePath(), options);
}

bool ScriptEditor::RecordingStep() const
{
    // A step begun in Scripting mode whose motion is still on; once the mode has changed under it the
    // step is never ended (its motion stops unrecorded), so it holds nothing up.
    return m_recordStart && m_w.MotionActive() && m_w.ScriptingMode();
}

bool ScriptEditor::stepsEditable() const
{
    // A run reads the script as it goes, and a step being recorded owns the row it began on.
    return !m_w.Running() && !RecordingStep();
}

bool ScriptEditor::beginStepEdit()
{
    if (!stepsEditable()) {
        m_w.showStatusMessage(m_w.Running() ? m_w.RunningLockText : m_w.RecordingLockText);
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
    const int at = qBound(1, row, int(m_w.NextStep));
    const ScriptModel::Step pause{StepFunctions::name(0), NumberText(0)};
    if (!m_w.Script->insertStep(at, pause))
        return;
    ScriptModel *script = m_w.Script;
    pushStepEdit(
        tr("Insert step"), [script, at, pause] { script->insertStep(at, pause); },
        [script, at] { script->uninsertStep(at); });
    m_w.Grid->SetRow(at);
    m_w.Grid->SetCol(ScriptEditing::FunctionColumn);
    GridEdit(32);
}

void ScriptEditor::DeleteStep(int row)
{
    if (!beginStepEdit())
        return;
    ScriptModel::DeletedStep deleted;
    if (!m_w.Script->deleteStep(row, &deleted))
        return;
    ScriptModel *script = m_w.Script;
    pushStepEdit(
        tr("Delete step"), [script, row] { script->deleteStep(row); },
        [script, row, deleted] { script->undeleteStep(row, deleted); });
    // Delete pressed again goes on with the step that took the place, or the new last one.
    if (m_w.NextStep > 1)
        m_w.Grid->SetRow(qMin(row, m_w.NextStep - 1));
}

void ScriptEditor::DuplicateStep(int row)
{
    if (row < 1 || row >= m_w.NextStep || !beginStepEdit())
        return;
    const ScriptModel::Step copy = m_w.Script->step(row);
    if (!m_w.Script->insertStep(row + 1, copy))
        return;
    ScriptModel *script = m_w.Script;
    pushStepEdit(
        tr("Duplicate step"), [script, row, copy] { script->insertStep(row + 1, copy); },
        [script, row] { script->uninsertStep(row + 1); });
    m_w.Grid->SetRow(row + 1);
}

void ScriptEditor::MoveStep(int row, int delta)
{
    if ((delta != -1 && delta != 1) || !beginStepEdit())
        return;
    const int upper = delta < 0 ? row - 1 : row;
    if (!m_w.Script->swapSteps(upper))
        return;
    ScriptModel *script = m_w.Script;
    const auto swap = [script, upper] { script->swapSteps(upper); };
    pushStepEdit(delta < 0 ? tr("Move step up") : tr("Move step down"), swap, swap);
    // The current row goes with the step, so the key can be pressed again.
    m_w.Grid->SetRow(row + delta);
}

void ScriptEditor::AppendReturnPath()
{
    if (!beginStepEdit())
        return;
    const QList<ScriptModel::Step> path = m_w.Script->returnPath();
    const int first = m_w.NextStep;
    const int room = ScriptModel::MaxNextStep - m_w.NextStep;
    if (path.size() > room) {
        if (ScriptDialogs *dialogs = m_w.CommD.Dialogs())
            dialogs->errorMessage(
                &m_w, QStringLiteral("Error"),
                QStringLiteral("The return path was not appended: it takes %1 steps, and the "
                               "script has room for %2 more (a script holds at most %3 steps).")
                    .arg(path.size())
                    .arg(room)
                    .arg(ScriptModel::MaxNextStep - 1));
        return;
    }
    if (!m_w.Script->appendSteps(path))
        return;
    ScriptModel *script = m_w.Script;
    const int count = int(path.size());
    pushStepEdit(
        tr("Append return path"), [script, path] { script->appendSteps(path); },
        [script, count] { script->unappendSteps(count); });
    m_w.Grid->SetRow(first);
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
    if (m_w.GridText->isVisible())
        return;
    const int row = m_w.Grid->Row();
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
    const bool isStep = row >= 1 && row < m_w.NextStep;
    const bool roomForOne = m_w.NextStep < ScriptModel::MaxNextStep;
    auto *menu = new QMenu(&m_w);
    const auto add = [menu](const QString &text, bool enabled, auto slot) {
        QAction *action = menu->addAction(text, slot);
        action->setEnabled(enabled);
        return action;
    };
    add(tr("Insert step above\tIns"), editable && roomForOne, [this, row] { InsertStep(row); });
    add(tr("Duplicate"), editable && isStep && roomForOne, [this, row] { DuplicateStep(row); });
    add(tr("Delete\tDel"), editable && isStep, [this, row] { DeleteStep(row); });
    add(tr("Move up\tCtrl+Up"), editable && isStep && row > 1, [this, row] { MoveStep(row, -1); });
    add(tr("Move down\tCtrl+Down"), editable && isStep && row + 1 < m_w.NextStep,
        [this, row] { MoveStep(row, 1); });
    menu->addSeparator();
    add(tr("Append return path"), editable && m_w.NextStep > 1, [this] { AppendReturnPath(); });
    add(tr("Run from here"), !m_w.Running() && isStep, [this, row] { m_w.RunFrom(row); });
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
    const ScriptModel::Totals totals = m_w.Script->totals();
    // A count still being typed (or none) leaves the line at one pass.
    const int reps = ScriptEditing::Repetitions(m_w.txtReps->text()).value_or(1);
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
    const ScriptModel::Totals totals = m_w.Script->totals();
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
    const QString shown = m_w.lblTotals->fontMetrics().elidedText(line, Qt::ElideRight, m_w.lblTotals->width());
    m_w.lblTotals->setText(shown);
    // What the line had no room for is in its tooltip, above every motor's times.
    const QString whole = line.split(QStringLiteral(" \u00b7 ")).join(QLatin1Char('\n'));
    m_w.lblTotals->setToolTip(shown == line ? tip : whole + QStringLiteral("\n\n") + tip);
    m_w.Grid->horizontalHeader()->viewport()->setToolTip(tip);
}
