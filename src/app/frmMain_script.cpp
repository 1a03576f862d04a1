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

#include <QAbstractItemModel>
#include <QPointer>

namespace {

const QString RunCaption = QStringLiteral("Run");
const QString StopCaption = QStringLiteral("Stop");

} // namespace

void frmMain::wireScriptArea()
{
    m_runner = &m_session->runner();
    m_scriptSource = std::make_shared<GridScriptSource>(*this);
    // A run reads the script when it starts and after each change; many changes in one handler (a
    // Clear, a load) are read once.
    const auto scriptChanged = [this] {
        m_runner->scriptChanged();
        if (m_runDisplay->active())
            m_runDisplay->setPlan(runPlan(), runRepetitions());
    };
    QAbstractItemModel *model = Grid->model();
    connect(model, &QAbstractItemModel::dataChanged, this, scriptChanged);
    connect(model, &QAbstractItemModel::rowsInserted, this, scriptChanged);
    connect(model, &QAbstractItemModel::rowsRemoved, this, scriptChanged);
    connect(model, &QAbstractItemModel::modelReset, this, scriptChanged);
    connect(txtReps, &QLineEdit::textChanged, this, scriptChanged);
    CommD.SetDialogs(&m_widgetDialogs);
    m_editor = new ScriptEditor(*this);

    // A tooltip of the motion panel lying over the toolbox would take the click meant for a button.
    auto *panelTips = new PanelToolTips(FrameMain);
    for (HoverButton *button : cmdControl)
        panelTips->watch(button);
}

void frmMain::SetScriptDialogs(ScriptDialogs *dialogs)
{
    CommD.SetDialogs(dialogs ? dialogs : &m_widgetDialogs);
}

void frmMain::RecordScriptStep()
{
    m_session->recordScriptStep();
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
            dialogs->errorMessage(this, QStringLiteral("Error"), text);
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
    m_runDisplay->begin(runPlan(), runRepetitions(), firstStep);
    RunScript();
    if (!alive)
        return;
    const double seconds = m_runDisplay->end();
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
        showStatusMessage(m_runDisplay->progress().finishedText(seconds));
        break;
    case ArmSession::RunEnd::Stopped:
        showStatusMessage(m_runDisplay->progress().stoppedText());
        break;
    }
    if (!text.isEmpty() && !m_session->running())
        refuse(text);
    m_pose->reportCutSteps();
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

void frmMain::RunFrom(int row)
{
    if (Running() || row < 1 || row >= NextStep)
        return;
    startRun(row);
}

bool frmMain::Running() const
{
    return m_runner->isRunning() || cmdRun->Caption() == QStringLiteral("Stop");
}

QList<double> frmMain::runPlan() const
{
    QList<double> seconds;
    for (int row = 1; row < NextStep; ++row)
        seconds << RunProgress::stepSeconds(Grid->TextMatrix(row, 2));
    return seconds;
}

int frmMain::runRepetitions() const
{
    return RunProgress::repetitionsPlayed(LeadingNumber(txtReps->text()));
}
