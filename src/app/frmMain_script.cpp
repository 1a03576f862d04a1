#include "frmMain.h"

#include "GridScriptSource.h"
#include "GridText.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "ScriptEditing.h"
#include "ScriptFile.h"
#include "ScriptGrid.h"
#include "ScriptNumbers.h"
#include "ScriptRunner.h"

#include <QPointer>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>

#include <limits>

namespace {

const QString RunCaption = QStringLiteral("Run");
const QString StopCaption = QStringLiteral("Stop");
const QString ErrorTitle = QStringLiteral("Error");
const QString WindowTitle = QStringLiteral("Tessaro");

constexpr int StartRows = 14;
// From this step on a begun step is scrolled to the top of the view.
constexpr int ScrollFromStep = 13;

QString titleWithFile(const QString &path)
{
    return QStringLiteral("Tessaro (%1)").arg(path);
}

} // namespace

void frmMain::wireScriptArea()
{
    m_runner = std::make_shared<ScriptRunner>();
    // A step's command should go out on time even while the rest of the machine is busy. The window
    // thread sleeps between steps, so it takes little from anyone; where the system does not allow
    // real-time scheduling the run simply goes on without it.
    m_runner->setRealtimeScheduling(true);
    m_scriptSource = std::make_shared<GridScriptSource>(*this);
    CommD.SetDialogs(&m_widgetDialogs);

    connect(GridText, &GridText::EnterPressed, this, &frmMain::CommitCellEdit);
    connect(GridText, &GridText::EscapePressed, this, &frmMain::GridText_Escape);
    connect(Grid, &QTableWidget::currentCellChanged, this, &frmMain::Grid_CurrentCellChanged);

    // Digits only, at most five: a paste cannot slip anything else in either.
    txtReps->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), txtReps));
    txtReps->installEventFilter(this);
}

void frmMain::SetScriptDialogs(ScriptDialogs *dialogs)
{
    CommD.SetDialogs(dialogs ? dialogs : &m_widgetDialogs);
}

void frmMain::RecordScriptStep()
{
    if (!m_motionActive) {
        TimerT->start();
        if (NextStep > Grid->Rows() - 1)
            Grid->AddItem();
        CommitOpenEdit();
        Grid->SetRow(NextStep);
        Grid->SetTextMatrix(NextStep, 0, NumberText(NextStep));
        Grid->SetTextMatrix(NextStep, 1, m_activeTag);
        if (NextStep >= ScrollFromStep)
            Grid->SetTopRow(NextStep);
        return;
    }
    TimerT->stop();
    const double seconds = double(m_stepTicks) / 4.0;
    Grid->SetTextMatrix(NextStep, 2, NumberText(seconds));
    // The counter is 16 bits wide; the last row it can name stays the last step.
    if (NextStep < std::numeric_limits<qint16>::max())
        ++NextStep;
    m_stepTicks = 0;
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
    if (commit.writeCell)
        Grid->SetTextMatrix(row, col, commit.cellText);
    if (commit.hideEditor)
        GridText->hide();
}

void frmMain::GridText_Escape()
{
    GridText->hide();
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
    if (ScriptingMode())
        optInteractive->SetValue(true);
    const int cols = Grid->Cols();
    for (int row = 1; row < Grid->Rows(); ++row) {
        for (int col = 0; col < cols; ++col)
            Grid->SetTextMatrix(row, col, QString());
    }
    NextStep = 1;
    if (Grid->Rows() > StartRows)
        Grid->SetRows(StartRows);
    Grid->SetTopRow(1);
    setWindowTitle(WindowTitle);
}

void frmMain::cmdRun_Click()
{
    if (cmdRun->Caption() == RunCaption) {
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
        RunScript();
        if (!alive)
            return;
        FrameMain->setEnabled(true);
    } else {
        cmdRun->SetCaption(RunCaption);
        StopRequested = true;
        // The runner acts on it as soon as this click has been handled.
        m_runner->requestStop();
    }
    Grid->SetHighLight(false);
    if (m_runCutByDisconnect && !m_runner->isRunning()) {
        m_runCutByDisconnect = false;
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->errorMessage(this, ErrorTitle, DisconnectedDuringRunText);
    }
}

void frmMain::RunScript()
{
    // Should the window go while the run services its events, these stay until the run is over.
    const std::shared_ptr<ScriptRunner> runner = m_runner;
    const std::shared_ptr<GridScriptSource> source = m_scriptSource;
    QPointer<frmMain> alive(this);
    runner->RunScript(*source);
    if (!alive)
        return;
    StopRequested = false;
    cmdRun->SetCaption(RunCaption);
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
    ScriptFileName = path;
    cmdClear_Click();
    if (!load.countValid)
        return true;
    NextStep = load.nextStep;
    if (load.rowsToAppend > 0)
        Grid->SetRows(Grid->Rows() + load.rowsToAppend);
    for (int row = 0; row < load.records.size(); ++row) {
        const ScriptRow &record = load.records[row];
        for (int col = 0; col < int(record.size()); ++col)
            Grid->SetTextMatrix(row, col, record[size_t(col)]);
    }
    // A file that ends before the steps it announces keeps the rows it held, but it was not loaded
    // whole, so the title does not claim it.
    if (load.records.size() >= load.nextStep)
        setWindowTitle(titleWithFile(ScriptFileName));
    return true;
}

bool frmMain::SaveScriptTo(const QString &path)
{
    QList<ScriptRow> rows;
    rows.reserve(qMax<int>(NextStep, 1));
    for (int row = 0; row < NextStep; ++row)
        rows.append({Grid->TextMatrix(row, 0), Grid->TextMatrix(row, 1), Grid->TextMatrix(row, 2)});
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
