#include "frmMain.h"

#include "GridScriptSource.h"
#include "HoverButton.h"
#include "MacButtonD.h"
#include "MotionPanel.h"
#include "PanelToolTips.h"
#include "PoseControls.h"
#include "RunDisplay.h"
#include "ScriptNumbers.h"
#include "ScriptCheck.h"
#include "ScriptEditing.h"
#include "ScriptEditor.h"
#include "ScriptGrid.h"
#include "ScriptRunner.h"

#include <QStringList>

#include <QAbstractItemModel>
#include <QLineEdit>
#include <QPointer>

namespace {

const QString RunCaption = QStringLiteral("Run");
const QString StopCaption = QStringLiteral("Stop");
const QString ReturningText = QStringLiteral("Returning to start");

} // namespace

void frmMain::wireScriptArea()
{
    m_scriptSource = std::make_shared<GridScriptSource>(*this, this, *m_ui.Grid, *m_ui.txtReps);
    // A run reads the script when it starts and after each change; many changes in one handler (a
    // Clear, a load) are read once.
    const auto scriptChanged = [this] {
        m_session->scriptChanged();
        if (m_ui.runDisplay->active())
            m_ui.runDisplay->setPlan(runPlan(), runRepetitions());
    };
    QAbstractItemModel *model = m_ui.Grid->model();
    connect(model, &QAbstractItemModel::dataChanged, this, scriptChanged);
    connect(model, &QAbstractItemModel::rowsInserted, this, scriptChanged);
    connect(model, &QAbstractItemModel::rowsRemoved, this, scriptChanged);
    connect(model, &QAbstractItemModel::modelReset, this, scriptChanged);
    connect(m_ui.txtReps, &QLineEdit::textChanged, this, scriptChanged);
    m_commonDialog.SetDialogs(&m_widgetDialogs);
    m_editor = new ScriptEditor(
        *this, {this, m_ui.Grid, m_ui.GridText, m_ui.txtReps, m_ui.lblTotals, m_ui.cmdSave, m_ui.cmdLoad},
        m_commonDialog);

    // A tooltip of the motion panel lying over the toolbox would take the click meant for a button.
    auto *panelTips = new PanelToolTips(m_ui.FrameMain);
    for (HoverButton *button : m_ui.cmdControl)
        panelTips->watch(button);
}

void frmMain::SetScriptDialogs(ScriptDialogs *dialogs)
{
    m_commonDialog.SetDialogs(dialogs ? dialogs : &m_widgetDialogs);
}

void frmMain::RecordScriptStep()
{
    m_session->recordScriptStep();
}

void frmMain::GridEdit(qint16 KeyAscii)
{
    m_editor->GridEdit(KeyAscii);
}

bool frmMain::CommitCellEdit()
{
    return m_editor->CommitCellEdit();
}

void frmMain::cmdClear_Click()
{
    m_editor->Clear();
}

void frmMain::cmdLoad_Click()
{
    m_editor->Load();
}

bool frmMain::Script_Save()
{
    return m_editor->Save();
}

bool frmMain::Script_SaveAs()
{
    return m_editor->SaveAs();
}

void frmMain::cmdRun_Click()
{
    // Stop, while another program drives or owns the arm.
    if (!m_driver.isEmpty() || (m_watch && !m_ownerGone)) {
        StopEverything();
        return;
    }
    if (!Running()) {
        startRun(1);
        return;
    }
    m_ui.cmdRun->SetCaption(RunCaption);
    m_session->stopRun();
    m_ui.Grid->SetHighLight(false);
}

void frmMain::startRun(int firstStep)
{
    ScriptDialogs *dialogs = m_commonDialog.Dialogs();
    const auto refuse = [this, dialogs](const QString &text) {
        if (dialogs)
            dialogs->errorMessage(this, QStringLiteral("Error"), text);
    };
    if (m_watch) {
        refuse(QStringLiteral("%1: this window only watches it, so the script was not run.")
                   .arg(m_ownerGone ? QStringLiteral("The arm is not open")
                                    : QStringLiteral("The arm is served by %1").arg(m_watchedOwner)));
        return;
    }
    if (m_script->nextStep() == 1) {
        refuse(QStringLiteral("Empty script!"));
        return;
    }
    if (!ScriptEditing::Repetitions(m_ui.txtReps->text())) {
        refuse(QStringLiteral("The script was not run: %1").arg(ScriptEditing::RepetitionsRule()));
        return;
    }
    if (ConnectionState() != Ready) {
        refuse(NotConnectedText);
        return;
    }
    const QList<UnknownStep> unknown = UnknownSteps(m_script->stepRows());
    if (!unknown.isEmpty() && dialogs &&
        !dialogs->confirm(this, QStringLiteral("Run"),
                          UnknownStepText(unknown.first()) + QStringLiteral(". Run anyway?")))
        return;
    // A step that outlasts its joint's travel grinds the gears at the end, or is cut by the limit.
    const QList<ArmSession::OverlongStep> overlong = m_session->overlongSteps(*m_scriptSource, firstStep);
    if (!overlong.isEmpty() && dialogs) {
        QStringList lines;
        for (const ArmSession::OverlongStep &step : overlong.mid(0, 5))
            lines << step.text;
        if (overlong.size() > 5)
            lines << QStringLiteral("… and %1 more").arg(overlong.size() - 5);
        if (!dialogs->confirm(this, QStringLiteral("Run"), lines.join(u'\n') + QStringLiteral("\n\nRun anyway?")))
            return;
    }
    // While the question was up the script may have been cleared, or the arm unplugged.
    if (Running() || m_script->nextStep() == 1)
        return;
    if (ConnectionState() != Ready) {
        refuse(NotConnectedText);
        return;
    }
    QPointer<frmMain> alive(this);
    m_runFirstStep = firstStep;
    beginRunLook(runPlan(), runRepetitions(), firstStep, QString());
    RunScript();
    if (!alive)
        return;
    const double seconds = endRunLook();
    const RunProgress &progress = m_ui.runDisplay->progress();
    tellRunEnd(m_runEnd == ArmSession::RunEnd::Finished ? progress.finishedText(seconds) : progress.stoppedText());
}

void frmMain::ReturnToStart()
{
    // The plan the session is about to play, for the progress line; the session itself decides
    // whether there is one, and says why not.
    const PoseEstimator estimator = m_session->poseEstimator();
    const qint64 now = ArmSession::clockNs();
    QList<double> plan;
    if (!Running() && estimator.known(now)) {
        for (const PlanStep &step : estimator.returnToStart(now))
            plan << step.seconds;
    }
    if (plan.isEmpty()) {
        QString refusal;
        m_session->returnToStart(&refusal);
        if (!refusal.isEmpty())
            showStatusMessage(refusal);
        return;
    }
    QPointer<frmMain> alive(this);
    beginRunLook(plan, 1, 1, ReturningText);
    const QMetaObject::Connection progress =
        connect(m_session.get(), &ArmSession::returnStepStarting, m_ui.runDisplay, &RunDisplay::stepStarted);
    QString refusal;
    const ArmSession::RunEnd end = m_session->returnToStart(&refusal);
    if (!alive)
        return;
    disconnect(progress);
    m_runEnd = end;
    endRunLook();
    if (!refusal.isEmpty()) {
        showStatusMessage(refusal);
        return;
    }
    const RunProgress &where = m_ui.runDisplay->progress();
    tellRunEnd(end == ArmSession::RunEnd::Finished
                   ? QStringLiteral("Back at the start pose (estimated)")
                   : QStringLiteral("Return to start stopped at step %1 of %2").arg(where.step()).arg(where.steps()));
}

void frmMain::beginRunLook(const QList<double> &plan, int repetitions, int firstStep, const QString &what)
{
    // A motion left on would run on under the run, its button lit through it: it ends first, as Esc
    // would end it (and is recorded in Scripting mode).
    if (MotionActive())
        m_session->stopEverything();
    m_ui.cmdRun->SetCaption(StopCaption);
    if (Hilight() && what.isEmpty())
        m_ui.Grid->SetHighLight(true);
    m_ui.runDisplay->begin(plan, repetitions, firstStep, what);
    updatePanelLock();
}

double frmMain::endRunLook()
{
    const double seconds = m_ui.runDisplay->end();
    m_ui.cmdRun->SetCaption(RunCaption);
    updatePanelLock();
    m_ui.Grid->SetHighLight(false);
    // Nothing is on once a run is over: its last code was the stop.
    ResetControlButtons();
    return seconds;
}

void frmMain::tellRunEnd(const QString &ending)
{
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
    // The ending first; the steps the end-stop rule cut short after it, each in the tooltip.
    const QList<ArmSession::CutStep> cut = m_session->lastRunCutSteps();
    QString shown = ending;
    QStringList details;
    if (!cut.isEmpty()) {
        shown += cut.size() == 1 ? QStringLiteral("; 1 step cut short at an end")
                                 : QStringLiteral("; %1 steps cut short at an end").arg(cut.size());
        for (const ArmSession::CutStep &step : cut)
            details << step.text();
    }
    showStatusMessage(shown, details.join(QLatin1Char('\n')));
    ScriptDialogs *dialogs = m_commonDialog.Dialogs();
    if (!text.isEmpty() && !m_session->running() && dialogs)
        dialogs->errorMessage(this, QStringLiteral("Error"), text);
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
}

void frmMain::RunFrom(int row)
{
    if (!EditLockText().isEmpty() || row < 1 || row >= m_script->nextStep())
        return;
    startRun(row);
}

bool frmMain::Running() const
{
    return m_session->running();
}

void frmMain::ShowStepStarting(int row)
{
    // The runner moves the current cell like any other program change: an edit still open goes
    // into the cell it was made for first.
    m_editor->CommitOpenEdit();
    m_ui.runDisplay->stepStarted(row);
    if (Hilight()) {
        m_ui.Grid->SetHighLight(true);
        m_ui.Grid->SelectWholeRow(row);
    } else {
        m_ui.Grid->SetRow(row);
    }
}

QList<double> frmMain::runPlan() const
{
    QList<double> seconds;
    for (int row = 1; row < m_script->nextStep(); ++row)
        seconds << RunProgress::stepSeconds(m_ui.Grid->TextMatrix(row, 2));
    return seconds;
}

int frmMain::runRepetitions() const
{
    return RunProgress::repetitionsPlayed(LeadingNumber(m_ui.txtReps->text()));
}
