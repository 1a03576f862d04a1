#include "frmMain.h"

#include "GridScriptSource.h"
#include "GridText.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"
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
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QUndoStack>

#include <limits>

namespace {

const QString RunCaption = QStringLiteral("Run");
const QString StopCaption = QStringLiteral("Stop");
const QString ErrorTitle = QStringLiteral("Error");
const QString WindowTitle = QStringLiteral("Tessaro");

constexpr int StartRows = ScriptModel::StartRows;
// From this step on a begun step is scrolled to the top of the view.
constexpr int ScrollFromStep = 13;

QString titleWithFile(const QString &path)
{
    return QStringLiteral("Tessaro (%1)").arg(path);
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
    connect(GridText, &GridText::EscapePressed, this, &frmMain::GridText_Escape);
    connect(Grid->selectionModel(), &QItemSelectionModel::currentChanged, this, &frmMain::Grid_CurrentCellChanged);

    // Digits only, at most five: a paste cannot slip anything else in either.
    txtReps->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), txtReps));
    txtReps->installEventFilter(this);
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
    Grid->SetTextMatrix(NextStep, 2, NumberText(seconds));
    // The counter is 16 bits wide; the last row it can name stays the last step.
    const qint16 row = NextStep;
    if (NextStep < std::numeric_limits<qint16>::max())
        Script->setNextStep(qint16(NextStep + 1));

    // The whole step is one change: its row as it was before it began, and as it is now.
    if (!m_recordStart || m_recordStart->row != row)
        return;
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

void frmMain::CommitCellEdit()
{
    const int row = Grid->Row();
    const int col = Grid->Col();
    const ScriptEditing::Commit commit =
        ScriptEditing::CommitCellEdit(row, col, NextStep, GridText->isVisible(), GridText->text());
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
    CommitCellEdit();
}

void frmMain::CommitOpenEdit()
{
    if (GridText->isVisible())
        CommitCellEdit();
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
    Grid->SetTopRow(1);
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
    if (NextStep == 1) {
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->errorMessage(this, ErrorTitle, QStringLiteral("Empty script!"));
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
    if (!text.isEmpty() && !m_session->running()) {
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->errorMessage(this, ErrorTitle, text);
    }
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
    CommD.SetFilter(ScriptFileFilter);
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
    if (error.isEmpty())
        return true;
    if (ScriptDialogs *dialogs = CommD.Dialogs())
        dialogs->errorMessage(this, ErrorTitle, error);
    return false;
}

void frmMain::Script_Save()
{
    if (ScriptFileName.isEmpty()) {
        Script_SaveAs();
        return;
    }
    SaveScriptTo(ScriptFileName);
}

void frmMain::Script_SaveAs()
{
    if (NextStep == 1) {
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->errorMessage(this, ErrorTitle, QStringLiteral("Cannot save an empty script!"));
        return;
    }
    CommD.SetFilter(ScriptFileFilter);
    if (!CommD.ShowSave(this))
        return;
    const QString chosen = CommD.FileName();
    // A name that could not be written is not the script's file: Save must not go on writing to it,
    // and the title keeps naming the file that does hold the script.
    if (!SaveScriptTo(chosen))
        return;
    ScriptFileName = chosen;
    setWindowTitle(titleWithFile(ScriptFileName));
}
