#include "frmMain.h"

#include "GridText.h"
#include "MacButtonD.h"
#include "ScriptEditing.h"
#include "ScriptGrid.h"
#include "ScriptModel.h"
#include "ScriptNumbers.h"
#include "ScriptRunner.h"
#include "ScriptUndo.h"
#include "StepFunctions.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QRegularExpression>
#include <QTimer>
#include <QUndoStack>

namespace {

// Seconds as the totals show them: no trailing zeros, no exponent for any time a script can hold.
QString seconds(double value)
{
    return QString::number(value, 'f', 3).remove(QRegularExpression(QStringLiteral("\\.?0+$"))) +
           QStringLiteral(" s");
}

struct Motor
{
    const char *name;
    int firstCode;  // codes firstCode and firstCode + 5
    const char *first;
    const char *second;
};

constexpr Motor Motors[] = {
    {"Shoulder", 1, "Up", "Down"}, {"Base", 2, "CCW", "CW"},        {"Elbow", 3, "Up", "Down"},
    {"Wrist", 4, "Up", "Down"},    {"Gripper", 5, "Close", "Open"},
};

} // namespace

void frmMain::wireScriptEditing()
{
    m_undoStack = new QUndoStack(this);
    // The title's mark of unsaved changes: set by any change, gone once the script is saved or
    // loaded, or undone back to that.
    connect(m_undoStack, &QUndoStack::cleanChanged, this, [this](bool clean) { setWindowModified(!clean); });

    auto *undo = new QAction(tr("Undo"), this);
    undo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Z)});
    connect(undo, &QAction::triggered, this, &frmMain::Undo);
    auto *redo = new QAction(tr("Redo"), this);
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(redo, &QAction::triggered, this, &frmMain::Redo);
    for (QAction *action : {undo, redo}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }

    connect(Grid, &ScriptGrid::StepKeyPressed, this, &frmMain::Grid_StepKey);
    connect(Grid, &ScriptGrid::StepMenu, this, &frmMain::Grid_StepMenu);

    connect(Script, &QAbstractItemModel::modelReset, this, &frmMain::scheduleTotals);
    connect(Script, &QAbstractItemModel::dataChanged, this, &frmMain::scheduleTotals);
    connect(Script, &QAbstractItemModel::rowsInserted, this, &frmMain::scheduleTotals);
    connect(Script, &QAbstractItemModel::rowsRemoved, this, &frmMain::scheduleTotals);
    connect(Script, &ScriptModel::nextStepChanged, this, &frmMain::scheduleTotals);
    updateTotals();
}

bool frmMain::Running() const
{
    return m_runner->isRunning() || cmdRun->Caption() == QStringLiteral("Stop");
}

bool frmMain::RecordingStep() const
{
    // A step begun in Scripting mode whose motion is still on; once the mode has changed under it the
    // step is never ended (its motion stops unrecorded), so it holds nothing up.
    return m_recordStart && MotionActive() && ScriptingMode();
}

bool frmMain::StepsEditable() const
{
    // A run reads the script as it goes, and a step being recorded owns the row it began on.
    return !Running() && !RecordingStep();
}

bool frmMain::beginStepEdit()
{
    if (!StepsEditable()) {
        showStatusMessage(Running() ? RunningLockText : RecordingLockText);
        return false;
    }
    // A step left behind by a change of mode may lie where this edit goes: it is given up for good.
    m_recordStart.reset();
    CommitOpenEdit();
    return true;
}

void frmMain::pushStepEdit(const QString &text, std::function<void()> redo, std::function<void()> undo)
{
    m_undoStack->push(new ScriptChange(text, std::move(redo), std::move(undo), ScriptChange::State::Done));
}

void frmMain::InsertStep(int row)
{
    if (!beginStepEdit())
        return;
    // Below the script an insert appends.
    const int at = qBound(1, row, int(NextStep));
    const ScriptModel::Step pause{StepFunctions::name(0), NumberText(0)};
    if (!Script->insertStep(at, pause))
        return;
    ScriptModel *script = Script;
    pushStepEdit(tr("Insert step"), [script, at, pause] { script->insertStep(at, pause); },
                 [script, at] { script->uninsertStep(at); });
    Grid->SetRow(at);
    Grid->SetCol(ScriptEditing::FunctionColumn);
    GridEdit(32);
}

void frmMain::DeleteStep(int row)
{
    if (!beginStepEdit())
        return;
    ScriptModel::DeletedStep deleted;
    if (!Script->deleteStep(row, &deleted))
        return;
    ScriptModel *script = Script;
    pushStepEdit(tr("Delete step"), [script, row] { script->deleteStep(row); },
                 [script, row, deleted] { script->undeleteStep(row, deleted); });
    // Delete pressed again goes on with the step that took the place, or the new last one.
    if (NextStep > 1)
        Grid->SetRow(qMin(row, NextStep - 1));
}

void frmMain::DuplicateStep(int row)
{
    if (row < 1 || row >= NextStep || !beginStepEdit())
        return;
    const ScriptModel::Step copy = Script->step(row);
    if (!Script->insertStep(row + 1, copy))
        return;
    ScriptModel *script = Script;
    pushStepEdit(tr("Duplicate step"), [script, row, copy] { script->insertStep(row + 1, copy); },
                 [script, row] { script->uninsertStep(row + 1); });
    Grid->SetRow(row + 1);
}

void frmMain::MoveStep(int row, int delta)
{
    if ((delta != -1 && delta != 1) || !beginStepEdit())
        return;
    const int upper = delta < 0 ? row - 1 : row;
    if (!Script->swapSteps(upper))
        return;
    ScriptModel *script = Script;
    const auto swap = [script, upper] { script->swapSteps(upper); };
    pushStepEdit(delta < 0 ? tr("Move step up") : tr("Move step down"), swap, swap);
    // The current row goes with the step, so the key can be pressed again.
    Grid->SetRow(row + delta);
}

void frmMain::AppendReturnPath()
{
    if (!beginStepEdit())
        return;
    const QList<ScriptModel::Step> path = Script->returnPath();
    const int first = NextStep;
    const int room = ScriptModel::MaxNextStep - NextStep;
    if (path.size() > room) {
        if (ScriptDialogs *dialogs = CommD.Dialogs())
            dialogs->errorMessage(this, QStringLiteral("Error"),
                                  QStringLiteral("The return path was not appended: it takes %1 steps, and the "
                                                 "script has room for %2 more (a script holds at most %3 steps).")
                                      .arg(path.size())
                                      .arg(room)
                                      .arg(ScriptModel::MaxNextStep - 1));
        return;
    }
    if (!Script->appendSteps(path))
        return;
    ScriptModel *script = Script;
    const int count = int(path.size());
    pushStepEdit(tr("Append return path"), [script, path] { script->appendSteps(path); },
                 [script, count] { script->unappendSteps(count); });
    Grid->SetRow(first);
}

void frmMain::RunFrom(int row)
{
    if (Running() || row < 1 || row >= NextStep)
        return;
    startRun(row);
}

void frmMain::Undo()
{
    if (!m_undoStack->canUndo() || !beginStepEdit())
        return;
    m_undoStack->undo();
}

void frmMain::Redo()
{
    if (!m_undoStack->canRedo() || !beginStepEdit())
        return;
    m_undoStack->redo();
}

void frmMain::Grid_StepKey(ScriptGrid::StepKey key)
{
    // The keys belong to the editor while it is open.
    if (GridText->isVisible())
        return;
    const int row = Grid->Row();
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

QMenu *frmMain::StepMenu(int row)
{
    const bool editable = StepsEditable();
    const bool isStep = row >= 1 && row < NextStep;
    const bool roomForOne = NextStep < ScriptModel::MaxNextStep;
    auto *menu = new QMenu(this);
    const auto add = [menu](const QString &text, bool enabled, auto slot) {
        QAction *action = menu->addAction(text, slot);
        action->setEnabled(enabled);
        return action;
    };
    add(tr("Insert step above\tIns"), editable && roomForOne, [this, row] { InsertStep(row); });
    add(tr("Duplicate"), editable && isStep && roomForOne, [this, row] { DuplicateStep(row); });
    add(tr("Delete\tDel"), editable && isStep, [this, row] { DeleteStep(row); });
    add(tr("Move up\tCtrl+Up"), editable && isStep && row > 1, [this, row] { MoveStep(row, -1); });
    add(tr("Move down\tCtrl+Down"), editable && isStep && row + 1 < NextStep, [this, row] { MoveStep(row, 1); });
    menu->addSeparator();
    add(tr("Append return path"), editable && NextStep > 1, [this] { AppendReturnPath(); });
    add(tr("Run from here"), !Running() && isStep, [this, row] { RunFrom(row); });
    menu->addSeparator();
    add(tr("Undo\tCtrl+Z"), editable && m_undoStack->canUndo(), [this] { Undo(); });
    add(tr("Redo\tCtrl+Y"), editable && m_undoStack->canRedo(), [this] { Redo(); });
    return menu;
}

void frmMain::Grid_StepMenu(int row, const QPoint &globalPos)
{
    QMenu *menu = StepMenu(row);
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(globalPos);
}

QString frmMain::TotalsLine() const
{
    const ScriptModel::Totals totals = Script->totals();
    QStringList parts{tr("Total %1").arg(seconds(totals.seconds))};
    for (int code = 1; code < StepFunctions::Count; ++code) {
        if (totals.perCode[size_t(code)] > 0)
            parts << QStringLiteral("%1 %2").arg(StepFunctions::name(code), seconds(totals.perCode[size_t(code)]));
    }
    if (totals.perCode[0] > 0)
        parts << QStringLiteral("%1 %2").arg(StepFunctions::name(0), seconds(totals.perCode[0]));
    return parts.join(QStringLiteral(" \u00b7 "));
}

void frmMain::scheduleTotals()
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

void frmMain::updateTotals()
{
    const ScriptModel::Totals totals = Script->totals();
    QStringList lines{tr("Total time: %1").arg(seconds(totals.seconds))};
    for (const Motor &motor : Motors) {
        lines << tr("%1: %2 %3, %4 %5")
                     .arg(QLatin1String(motor.name), QLatin1String(motor.first),
                          seconds(totals.perCode[size_t(motor.firstCode)]), QLatin1String(motor.second),
                          seconds(totals.perCode[size_t(motor.firstCode + 5)]));
    }
    lines << tr("Pause: %1").arg(seconds(totals.perCode[0]));
    const QString tip = lines.join(QLatin1Char('\n'));
    const QString line = TotalsLine();
    lblTotals->setText(lblTotals->fontMetrics().elidedText(line, Qt::ElideRight, lblTotals->width()));
    lblTotals->setToolTip(tip);
    Grid->horizontalHeader()->viewport()->setToolTip(tip);
}
