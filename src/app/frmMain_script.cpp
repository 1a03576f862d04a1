#include "frmMain.h"

#include "GridScriptSource.h"
#include "GridText.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"
#include "PanelToolTips.h"
#include "HoverButton.h"
#include "ScriptCheck.h"
#include "ScriptEditing.h"
#include "ScriptFile.h"
#include "ScriptGrid.h"
#include "ScriptModel.h"
#include "ScriptNumbers.h"
#include "ScriptRunner.h"
#include "ScriptUndo.h"

#include <QItemSelectionModel>
#include <QAbstractItemModel>
#include <QPointer>
#include <QFileInfo>
#include <QTimer>
#include <QValidator>
#include <QUndoStack>

#include <limits>

namespace {

const QString RunCaption = QStringLiteral("Run");
const QString StopCaption = QStringLiteral("Stop");
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

} // namespace

void frmMain::wireScriptArea()
{
    m_runner = &m_session->runner();
    m_scriptSource = std::make_shared<GridScriptSource>(*this);
    // A run reads the script when it starts and after each change; many changes in one handler (a
    // Clear, a load) are read once.
    const auto scriptChanged = [runner = m_runner] { runner->scriptChanged(); };
    QAbstractItemModel *model = Grid->model();
    connect(model, &QAbstractItemModel::dataChanged, this, scriptChanged);
    connect(model, &QAbstractItemModel::rowsInserted, this, scriptChanged);
    connect(model, &QAbstractItemModel::rowsRemoved, this, scriptChanged);
    connect(model, &QAbstractItemModel::modelReset, this, scriptChanged);
    connect(txtReps, &QLineEdit::textChanged, this, scriptChanged);
    CommD.SetDialogs(&m_widgetDialogs);

    connect(GridText, &GridText::EnterPressed, this, &frmMain::CommitCellEdit);
    // The operator moving to another cell commits the edit; a refused one keeps the cell current.
    connect(Grid, &ScriptGrid::LeaveCell, this, [this] {
        if (!CommitCellEdit())
            Grid->RefuseLeave();
    });
    connect(GridText, &GridText::EscapePressed, this, &frmMain::GridText_Escape);
    connect(Grid->selectionModel(), &QItemSelectionModel::currentChanged, this, &frmMain::Grid_CurrentCellChanged);

    txtReps->setValidator(new RepetitionsValidator(txtReps));
    connect(txtReps, &QLineEdit::inputRejected, this, [this] {
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->hint(txtReps, ScriptEditing::RepetitionsRule());
    });
    txtReps->installEventFilter(this);
    // A tooltip of the motion panel lying over the toolbox would take the click meant for a button.
    auto *panelTips = new PanelToolTips(FrameMain);
    for (HoverButton *button : cmdControl)
        panelTips->watch(button);
    wireScriptEditing();
}

void frmMain::SetScriptDialogs(ScriptDialogs *dialogs)
{
    CommD.SetDialogs(dialogs ? dialogs : &m_widgetDialogs);
}

void frmMain::RecordScriptStep()
{
    m_session->recordScriptStep();
}

void frmMain::Script_StepBegun(const QString &function)
{
    CommitOpenEdit();
    const ScriptRow before = Script->rowTexts(NextStep);
    m_recordStart = RecordStart{NextStep, Grid->Rows(), before};
    if (NextStep > Grid->Rows() - 1)
        Grid->AddItem();
    Grid->SetRow(NextStep);
    Grid->SetTextMatrix(NextStep, 0, NumberText(NextStep));
    Grid->SetTextMatrix(NextStep, 1, function);
    if (NextStep >= ScrollFromStep)
        Grid->SetTopRow(NextStep);
}

void frmMain::Script_StepEnded(double seconds)
{
    // A step left behind (the mode changed under it, then Clear, a load or a step edit came) is never
    // ended: its row may hold something else by now.
    if (!m_recordStart || m_recordStart->row != NextStep) {
        m_recordStart.reset();
        return;
    }
    Grid->SetTextMatrix(NextStep, 2, NumberText(seconds));
    // The counter is 16 bits wide; the last row it can name stays the last step.
    const qint16 row = NextStep;
    if (NextStep < std::numeric_limits<qint16>::max())
        Script->setNextStep(qint16(NextStep + 1));

    // The whole step is one change: its row as it was before it began, and as it is now.
    const RecordStart start = *m_recordStart;
    m_recordStart.reset();
    const ScriptRow after = Script->rowTexts(row);
    const int rowsAfter = Grid->Rows();
    const qint16 nextAfter = NextStep;
    ScriptModel *script = Script;
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

void frmMain::GridEdit(qint16 KeyAscii)
{
    if (cmdRun->Caption() == StopCaption || NextStep == 1)
        return;
    if (RecordingStep()) {
        showStatusMessage(RecordingLockText);
        return;
    }
    QFont font = GridText->font();
    font.setFamily(Grid->font().family());
    font.setPointSizeF(Grid->font().pointSizeF());
    GridText->setFont(font);

    GridText->setText(ScriptEditing::EditStartText(KeyAscii, Grid->TextMatrix(Grid->Row(), Grid->Col())));
    GridText->setCursorPosition(int(GridText->text().size()));
    Grid_CurrentCellChanged();

    const int left = Grid->CellLeft() + Grid->x() + pctFrame->x();
    const int top = Grid->CellTop() + Grid->y() + pctFrame->y();
    GridText->setGeometry(left, top, Grid->CellWidth(), Grid->CellHeight());
    GridText->show();
    GridText->raise();
    GridText->setFocus(Qt::OtherFocusReason);
}

void frmMain::Grid_CurrentCellChanged()
{
    GridText->SetCharFilter(Grid->Col() == ScriptEditing::FunctionColumn ? GridText::Filter::Letters
                                                                         : GridText::Filter::Number);
}

bool frmMain::CommitCellEdit()
{
    return commitCellEdit(true);
}

bool frmMain::commitCellEdit(bool byOperator)
{
    const int row = Grid->Row();
    const int col = Grid->Col();
    const ScriptEditing::Commit commit =
        ScriptEditing::CommitCellEdit(row, col, NextStep, GridText->isVisible(), GridText->text());
    if (!commit.refusal.isEmpty()) {
        if (!byOperator) {
            // The program moves on (a step is recorded, a run starts): the edit is dropped as Escape
            // drops it, and the cell keeps its text.
            hideCellEditor();
            return true;
        }
        // The edit stays open, its text marked for typing over, until it is right or Escape drops it.
        GridText->setFocus(Qt::OtherFocusReason);
        GridText->selectAll();
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->hint(GridText, commit.refusal);
        return false;
    }
    GridText->setText(commit.editorText);
    if (commit.writeCell && Grid->TextMatrix(row, col) != commit.cellText) {
        const QString before = Grid->TextMatrix(row, col);
        const QString after = commit.cellText;
        ScriptModel *script = Script;
        m_undoStack->push(new ScriptChange(
            col == ScriptEditing::FunctionColumn ? tr("Edit function") : tr("Edit time"),
            [script, row, col, after] { script->setText(row, col, after); },
            [script, row, col, before] { script->setText(row, col, before); }));
    }
    if (commit.hideEditor)
        hideCellEditor();
    return true;
}

void frmMain::hideCellEditor()
{
    // The keys go back to the grid, where the arrows and the step keys work, not to whatever
    // widget comes next.
    if (GridText->hasFocus())
        Grid->setFocus();
    GridText->hide();
}

void frmMain::GridText_Escape()
{
    hideCellEditor();
    commitCellEdit(true);
}

void frmMain::CommitOpenEdit()
{
    if (GridText->isVisible())
        commitCellEdit(false);
}

void frmMain::txtReps_Focus(bool gotFocus)
{
    txtReps->setFrame(!gotFocus);
    if (gotFocus) {
        txtReps->selectAll();
        // A click that brought the focus places the caret once this event is through; select again
        // after it.
        QTimer::singleShot(0, txtReps, [box = QPointer<QLineEdit>(txtReps)] {
            if (box && box->hasFocus())
                box->selectAll();
        });
    }
}

void frmMain::cmdClear_Click()
{
    CommitOpenEdit();
    const ScriptState before = scriptState();
    clearScript();
    pushScriptState(tr("Clear"), before);
}

void frmMain::clearScript()
{
    if (ScriptingMode())
        optInteractive->SetValue(true);
    // A step being recorded is never ended now; its row is simply gone.
    m_recordStart.reset();
    Script->restore(clearedScript(*Script));
    Grid->ShowFromFirstStep();
    setWindowTitle(WindowTitle);
    m_runner->scriptChanged();
}

frmMain::ScriptState frmMain::scriptState() const
{
    return ScriptState{Script->snapshot(), ScriptFileName, windowTitle()};
}

void frmMain::pushScriptState(const QString &text, const ScriptState &before)
{
    const ScriptState after = scriptState();
    if (after.script.nextStep == before.script.nextStep && after.script.header == before.script.header &&
        after.script.rows == before.script.rows && after.fileName == before.fileName &&
        after.title == before.title)
        return;
    // The stack is the window's own: its changes never outlive it.
    const auto put = [this](const ScriptState &state) {
        Script->restore(state.script);
        ScriptFileName = state.fileName;
        setWindowTitle(state.title);
        // A whole script put back is shown from its start, as a load shows it.
        Grid->ShowFromFirstStep();
    };
    m_undoStack->push(new ScriptChange(
        text, [put, after] { put(after); }, [put, before] { put(before); }, ScriptChange::State::Done));
}

void frmMain::cmdRun_Click()
{
    if (cmdRun->Caption() == RunCaption) {
        startRun(1);
        return;
    }
    cmdRun->SetCaption(RunCaption);
    StopRequested = true;
    m_session->stopRun();
    Grid->SetHighLight(false);
}

void frmMain::startRun(int firstStep)
{
    ScriptDialogs *dialogs = CommD.Dialogs();
    const auto refuse = [this, dialogs](const QString &text) {
        if (dialogs)
            dialogs->errorMessage(this, ErrorTitle, text);
    };
    if (NextStep == 1) {
        refuse(QStringLiteral("Empty script!"));
        return;
    }
    if (!ScriptEditing::Repetitions(txtReps->text())) {
        refuse(QStringLiteral("The script was not run: %1").arg(ScriptEditing::RepetitionsRule()));
        return;
    }
    if (ConnectionState() != Ready) {
        refuse(NotConnectedText);
        return;
    }
    const QList<UnknownStep> unknown = UnknownSteps(Script->stepRows());
    if (!unknown.isEmpty() && dialogs &&
        !dialogs->confirm(this, QStringLiteral("Run"), UnknownStepText(unknown.first()) + QStringLiteral(". Run anyway?")))
        return;
    // While the question was up the script may have been cleared, or the arm unplugged.
    if (Running() || NextStep == 1)
        return;
    if (ConnectionState() != Ready) {
        refuse(NotConnectedText);
        return;
    }
    cmdRun->SetCaption(StopCaption);
    FrameMain->setEnabled(false);
    if (Hilight())
        Grid->SetHighLight(true);
    StopRequested = false;
    QPointer<frmMain> alive(this);
    m_runFirstStep = firstStep;
    RunScript();
    if (!alive)
        return;
    FrameMain->setEnabled(true);
    Grid->SetHighLight(false);
    // A write to an arm that has gone fails before its removal is noticed, and an arm that stopped
    // taking reports is closed as gone: one message, the one that says what happened to the arm.
    QString text;
    switch (m_runEnd) {
    case ArmSession::RunEnd::Stalled:
        text = StalledText;
        break;
    case ArmSession::RunEnd::Disconnected:
        text = DisconnectedDuringRunText;
        break;
    case ArmSession::RunEnd::CommandFailed:
        text = CommandFailedDuringRunText.arg(m_session->lastRunFailure());
        break;
    case ArmSession::RunEnd::Finished:
    case ArmSession::RunEnd::Stopped:
        break;
    }
    if (!text.isEmpty() && !m_session->running())
        refuse(text);
}

void frmMain::CutRunAfterFailedSend(const QString &why)
{
    m_session->cutRunAfterFailedSend(why);
}

void frmMain::RunScript()
{
    // Should the window go while the run services its events, these stay until the run is over.
    const std::shared_ptr<GridScriptSource> source = m_scriptSource;
    QPointer<frmMain> alive(this);
    const int firstStep = m_runFirstStep;
    m_runFirstStep = 1;
    const ArmSession::RunEnd end = m_session->runScript(*source, firstStep);
    if (!alive)
        return;
    m_runEnd = end;
    StopRequested = false;
    cmdRun->SetCaption(RunCaption);
}

// Told after the grid shows what was read, so the operator sees what a Save would write.
void frmMain::warnOfShortLoad(const ScriptLoad &load, const QString &path)
{
    const QString warning = ScriptLoadWarning(load, path);
    if (warning.isEmpty())
        return;
    if (ScriptDialogs *dialogs = CommD.Dialogs())
        dialogs->warningMessage(this, QStringLiteral("Script not loaded whole"),
                                warning + QStringLiteral("\n\nSaving now would replace the file with the script "
                                                         "as it stands."));
}

void frmMain::cmdLoad_Click()
{
    if (!SettleUnsavedChanges())
        return;
    CommD.SetFilter(ScriptFileFilter);
    CommD.SetFolder(Options().scriptFolder);
    if (!CommD.ShowOpen(this))
        return;
    LoadScript(CommD.FileName());
}

bool frmMain::LoadScript(const QString &path)
{
    // Read first: a file that cannot be read must not cost the script in the grid.
    const ScriptLoad load = LoadScriptFile(path);
    if (!load.error.isEmpty()) {
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->errorMessage(this, ErrorTitle, load.error);
        return false;
    }
    CommitOpenEdit();
    const ScriptState before = scriptState();
    ScriptFileName = path;
    clearScript();
    if (load.countValid) {
        // The whole script in one go: a model put together row by row would cost a view update per cell.
        ScriptModel::Snapshot loaded = Script->snapshot();
        loaded.nextStep = load.nextStep;
        loaded.rows.resize(loaded.rows.size() + qMax(load.rowsToAppend, 0));
        for (int row = 0; row < load.records.size(); ++row) {
            if (row == 0)
                loaded.header = load.records[0];
            else if (row <= loaded.rows.size())
                loaded.rows[row - 1] = load.records[row];
        }
        Script->restore(std::move(loaded));
        // A file that ends before the steps it announces keeps the rows it held, but it was not
        // loaded whole, so the title does not claim it.
        if (load.records.size() >= load.nextStep)
            setWindowTitle(titleWithFile(ScriptFileName));
    }
    pushScriptState(tr("Load"), before);
    Grid->ShowFromFirstStep();
    // What was just loaded is what the file holds (or, cut short, what it could give).
    m_undoStack->setClean();
    rememberScriptFolder(path);
    warnOfShortLoad(load, path);
    return true;
}

bool frmMain::SaveScriptTo(const QString &path)
{
    QList<ScriptRow> rows;
    rows.reserve(qMax<int>(NextStep, 1));
    for (int row = 0; row < NextStep; ++row)
        rows.append(Script->rowTexts(row));
    const QString error = WriteScriptFile(path, rows);
    if (error.isEmpty()) {
        m_undoStack->setClean();
        rememberScriptFolder(path);
        return true;
    }
    if (ScriptDialogs *dialogs = CommD.Dialogs())
        dialogs->errorMessage(this, ErrorTitle, error);
    return false;
}

bool frmMain::Script_Save()
{
    if (ScriptFileName.isEmpty())
        return Script_SaveAs();
    CommitOpenEdit();
    return SaveScriptTo(ScriptFileName);
}

bool frmMain::Script_SaveAs()
{
    CommitOpenEdit();
    if (NextStep == 1) {
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->errorMessage(this, ErrorTitle, QStringLiteral("Cannot save an empty script!"));
        return false;
    }
    CommD.SetFilter(ScriptFileFilter);
    CommD.SetFolder(Options().scriptFolder);
    if (!CommD.ShowSave(this))
        return false;
    const QString chosen = withScriptExtension(CommD.FileName());
    CommD.SetFileName(chosen);
    // A name that could not be written is not the script's file: Save must not go on writing to it,
    // and the title keeps naming the file that does hold the script.
    if (!SaveScriptTo(chosen))
        return false;
    ScriptFileName = chosen;
    setWindowTitle(titleWithFile(ScriptFileName));
    return true;
}

bool frmMain::SettleUnsavedChanges()
{
    CommitOpenEdit();
    ScriptDialogs *dialogs = CommD.Dialogs();
    if (m_undoStack->isClean() || !dialogs)
        return true;
    // An empty script cannot be saved; what is at stake then is the steps Undo would bring back.
    const bool canSave = NextStep > 1;
    const QString text = canSave ? QStringLiteral("The script has changes that are not saved. Save them first?")
                                 : QStringLiteral("The script is empty now, and the steps it had were never "
                                                  "saved (Undo brings them back). Discard them?");
    switch (dialogs->askToSave(this, text, canSave)) {
    case ScriptDialogs::SaveChoice::Save:
        return Script_Save();
    case ScriptDialogs::SaveChoice::Discard:
        return true;
    case ScriptDialogs::SaveChoice::Cancel:
        break;
    }
    return false;
}

void frmMain::rememberScriptFolder(const QString &path)
{
    ControlOptions options = Options();
    const QString folder = QFileInfo(path).absolutePath();
    if (folder == options.scriptFolder)
        return;
    options.scriptFolder = folder;
    SetControlOptions(options);
    // Only a convenience: a file that cannot be written leaves the dialogs starting elsewhere next time.
    if (!m_setup.optionsWritePath.isEmpty())
        ControlOptions::write(m_setup.optionsWritePath, options);
}
