#include "GridText.h"
#include "MacButtonD.h"
#include "MacRadioButton.h"
#include "ScriptDialogs.h"
#include "ScriptGrid.h"
#include "ScriptRunner.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// Answers the window's questions from lists; an empty answer is a cancel.
class FakeDialogs : public ScriptDialogs
{
public:
    struct Asked
    {
        QString kind;
        QString startName;
        QString filter;
    };
    struct Message
    {
        QString title;
        QString text;
    };

    QStringList openAnswers;
    QStringList saveAnswers;
    QList<Asked> asked;
    QList<Message> messages;

    QString openFileName(QWidget *, const QString &startName, const QString &filter) override
    {
        asked.append({QStringLiteral("open"), startName, filter});
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget *, const QString &startName, const QString &filter) override
    {
        asked.append({QStringLiteral("save"), startName, filter});
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    void errorMessage(QWidget *, const QString &title, const QString &text) override
    {
        messages.append({title, text});
    }
};

const QByteArray WorkedExample = "\" 2\"\r\n"
                                 "\"Step\",\"Function\",\"Time\"\r\n"
                                 "\" 1\",\"ElbowUp\",\" 2.5\"\r\n"
                                 "\" 2\",\"Pause\",\" 1\"\r\n";

void tick(frmMain &w, int ticks)
{
    for (int i = 0; i < ticks; ++i)
        QMetaObject::invokeMethod(w.TimerT, "timeout");
}

// A motion held for `ticks` ticks of the step timer, recorded in Scripting mode.
void recordStep(WindowHarness &h, int button, int ticks)
{
    h.click(button);
    tick(h.window(), ticks);
    h.click(button);
}

// Puts a script into the grid as a load would, without a file.
void putScript(frmMain &w, const QList<QPair<QString, QString>> &steps)
{
    if (w.Grid->Rows() < steps.size() + 2)
        w.Grid->SetRows(int(steps.size()) + 2);
    for (int i = 0; i < steps.size(); ++i) {
        w.Grid->SetTextMatrix(i + 1, 0, QStringLiteral(" %1").arg(i + 1));
        w.Grid->SetTextMatrix(i + 1, 1, steps[i].first);
        w.Grid->SetTextMatrix(i + 1, 2, steps[i].second);
    }
    w.NextStep = qint16(steps.size() + 1);
}

QPoint cellCentre(const frmMain &w, int row, int col)
{
    return w.Grid->visualRect(w.Grid->model()->index(row - 1, col)).center();
}

void clickCell(frmMain &w, int row, int col)
{
    QTest::mouseClick(w.Grid->viewport(), Qt::LeftButton, {}, cellCentre(w, row, col));
}

bool activate(frmMain &w)
{
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Runs `action` once, from the event loop, when the arm receives its `nth` code (counted from 1).
void onCode(WindowHarness &h, int nth, std::function<void()> action)
{
    auto count = std::make_shared<int>(0);
    QObject::connect(h.arms.front().get(), &VirtualArm::commandReceived, h.arms.front().get(),
                     [count, nth, action](int, qint64, const QByteArray &) {
                         if (++*count == nth)
                             QTimer::singleShot(0, action);
                     });
}

// Stops a run that should long have ended, so a failing test ends instead of hanging.
struct RunGuard
{
    explicit RunGuard(frmMain &w)
    {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &w, [this, &w] {
            fired = true;
            w.Runner().requestStop();
        });
        timer.start(20000);
    }
    QTimer timer;
    bool fired = false;
};

} // namespace

class tst_ScriptWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordingCountsTicks_data();
    void recordingCountsTicks();
    void recordingAppendsRowsAndScrolls();
    void editorOpensOverTheCell();
    void editingRules_data();
    void editingRules();
    void escapeAndLeavingTheCell();
    void editAfterTheLastStepIsDiscarded();
    void programMovesCommitAnOpenEdit();
    void clearCutsBackAndSelectsInteractive();
    void repetitionsBox();
    void emptyScriptIsNotRun();
    void runSendsTheSteps_data();
    void runSendsTheSteps();
    void runMarksTheRunningRow_data();
    void runMarksTheRunningRow();
    void stopDuringAStep();
    void changesDuringARun_data();
    void changesDuringARun();
    void closingDuringARun();
    void saveAndLoadRoundTrip();
    void loadingFiles_data();
    void loadingFiles();
    void unreadableFileChangesNothing();
    void cancelChangesNothing();
    void savingEmptyScripts();
    void failedSaveKeepsTitleAndFile();
    void filterTranslation_data();
    void filterTranslation();
    void widgetFileDialogs();
};

void tst_ScriptWindow::recordingCountsTicks_data()
{
    QTest::addColumn<QList<int>>("buttons");    // clicks, in order
    QTest::addColumn<QList<int>>("ticksAfter"); // ticks after each click
    QTest::addColumn<QStringList>("functions");
    QTest::addColumn<QStringList>("times");
    QTest::addColumn<QList<int>>("codes");

    QTest::newRow("ten ticks") << QList<int>{3, 3} << QList<int>{10, 0} << QStringList{"ElbowUp"}
                               << QStringList{" 2.5"} << QList<int>{3, 0};
    QTest::newRow("released before a tick") << QList<int>{0, 0} << QList<int>{0, 0} << QStringList{"Pause"}
                                            << QStringList{" 0"} << QList<int>{0, 0};
    QTest::newRow("switch closes and opens")
        << QList<int>{1, 7, 7} << QList<int>{5, 5, 0} << QStringList{"ShoulderUp", "BaseCW"}
        << QStringList{" 1.25", " 1.25"} << QList<int>{1, 7, 0};
}

void tst_ScriptWindow::recordingCountsTicks()
{
    QFETCH(QList<int>, buttons);
    QFETCH(QList<int>, ticksAfter);
    QFETCH(QStringList, functions);
    QFETCH(QStringList, times);
    QFETCH(QList<int>, codes);

    WindowHarness h;
    h.addArm();
    frmMain &w = h.open();
    w.optScripting->SetValue(true);
    for (int i = 0; i < buttons.size(); ++i) {
        h.click(buttons[i]);
        tick(w, ticksAfter[i]);
    }
    QCOMPARE(w.NextStep, qint16(functions.size() + 1));
    for (int i = 0; i < functions.size(); ++i) {
        QCOMPARE(w.Grid->TextMatrix(i + 1, 0), QStringLiteral(" %1").arg(i + 1));
        QCOMPARE(w.Grid->TextMatrix(i + 1, 1), functions[i]);
        QCOMPARE(w.Grid->TextMatrix(i + 1, 2), times[i]);
    }
    QVERIFY(w.Grid->TextMatrix(functions.size() + 1, 1).isEmpty());
    QVERIFY(!w.TimerT->isActive());
    QCOMPARE(w.StepTicks(), 0.0f);
    QCOMPARE(h.codes(), codes);
}

void tst_ScriptWindow::recordingAppendsRowsAndScrolls()
{
    WindowHarness h;
    frmMain &w = h.open();
    w.optScripting->SetValue(true);

    for (int step = 1; step <= 13; ++step) {
        h.click(step % 11);
        // A begun step: Step and Function filled, no time yet, the row current.
        QCOMPARE(w.Grid->Row(), step);
        QCOMPARE(w.Grid->TextMatrix(step, 0), QStringLiteral(" %1").arg(step));
        QVERIFY(w.Grid->TextMatrix(step, 2).isEmpty());
        tick(w, 2);
        h.click(step % 11);
        QCOMPARE(w.Grid->TextMatrix(step, 2), QStringLiteral(" .5"));
    }
    QCOMPARE(w.Grid->Rows(), 14);
    QCOMPARE(w.NextStep, qint16(14));

    w.Grid->SetTopRow(1);
    QCOMPARE(w.Grid->TopRow(), 1);
    for (int step = 14; step <= 30; ++step) {
        h.click(2);
        QCOMPARE(w.Grid->Rows(), step + 1);
        QCOMPARE(w.Grid->Row(), step);
        QCOMPARE(w.Grid->TextMatrix(step, 1), QStringLiteral("BaseCCW"));
        // Scrolled as far towards the begun row as the rows below it allow: it is the last row, so
        // it is at the bottom of the view and fully visible.
        const QRect cell = w.Grid->visualRect(w.Grid->model()->index(step - 1, 1));
        QVERIFY2(w.Grid->viewport()->rect().contains(cell), qPrintable(QString::number(step)));
        QVERIFY(w.Grid->TopRow() > 1);
        h.click(2);
    }
    QCOMPARE(w.NextStep, qint16(31));
    QCOMPARE(w.Grid->Rows(), 31);

    // With rows enough below it (as a load leaves them), the begun step is the top row of the view.
    w.Grid->SetRows(80);
    w.Grid->SetTopRow(1);
    h.click(9);
    QCOMPARE(w.Grid->TopRow(), 31);
    h.click(9);
    h.click(9);
    QCOMPARE(w.Grid->TopRow(), 32);
    QCOMPARE(w.Grid->Rows(), 80);
    // Every step row was written once, in order.
    for (int step = 1; step <= 30; ++step)
        QCOMPARE(w.Grid->TextMatrix(step, 0), QStringLiteral(" %1").arg(step));
}

void tst_ScriptWindow::editorOpensOverTheCell()
{
    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(activate(w));

    // An empty script opens no editor.
    clickCell(w, 1, 1);
    QVERIFY(!w.GridText->isVisible());

    w.optScripting->SetValue(true);
    recordStep(h, 3, 10);
    clickCell(w, 1, 1);
    QVERIFY(w.GridText->isVisible());
    QCOMPARE(w.GridText->text(), QStringLiteral("ElbowUp"));
    QCOMPARE(w.GridText->selectedText(), QStringLiteral("ElbowUp"));
    QVERIFY(w.GridText->hasFocus());
    QCOMPARE(w.GridText->font().family(), w.Grid->font().family());
    const QRect cell = w.Grid->visualRect(w.Grid->model()->index(0, 1));
    const QRect onWindow(w.Grid->viewport()->mapTo(&w, cell.topLeft()), cell.size());
    QCOMPARE(w.GridText->geometry(), onWindow);
    QCOMPARE(w.GridText->parentWidget(), static_cast<QWidget *>(&w));

    // The Time cell, reached through the click on it, with the Function edit committed on the way.
    clickCell(w, 1, 2);
    QCOMPARE(w.GridText->text(), QStringLiteral(" 2.5"));
    QCOMPARE(w.GridText->CharFilter(), GridText::Filter::Number);
    const QRect time = w.Grid->visualRect(w.Grid->model()->index(0, 2));
    QCOMPARE(w.GridText->geometry().topLeft(), w.Grid->viewport()->mapTo(&w, time.topLeft()));

    // A typed start character replaces the text.
    w.GridText->hide();
    w.GridEdit(qint16('7'));
    QCOMPARE(w.GridText->text(), QStringLiteral("7"));
}

void tst_ScriptWindow::editingRules_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("emptyFirst");
    QTest::addColumn<QString>("stored");

    QTest::newRow("function lower case") << 1 << "wristup" << false << "WristUp";
    QTest::newRow("function mixed case") << 1 << "basecw" << false << "BaseCW";
    QTest::newRow("function upper case") << 1 << "BASECCW" << false << "BaseCCW";
    QTest::newRow("function no name") << 1 << "elbow" << false << "BaseCCW";
    QTest::newRow("function emptied") << 1 << "" << true << "BaseCCW";
    QTest::newRow("function drops digits and blanks") << 1 << "12 grip.open 3" << false << "GripOpen";
    QTest::newRow("time decimal") << 2 << "1.5" << false << " 1.5";
    QTest::newRow("time trailing zero") << 2 << "0.50" << false << " .5";
    QTest::newRow("time point at end") << 2 << "1." << false << " 1";
    QTest::newRow("time drops letters and sign") << 2 << "-3x" << false << " 3";
    QTest::newRow("time lone point") << 2 << "." << false << " 2.5";
    QTest::newRow("time two points") << 2 << "1.2.3" << false << " 2.5";
    QTest::newRow("time emptied") << 2 << "" << true << " 2.5";
}

void tst_ScriptWindow::editingRules()
{
    QFETCH(int, col);
    QFETCH(QString, typed);
    QFETCH(bool, emptyFirst);
    QFETCH(QString, stored);

    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(activate(w));
    w.optScripting->SetValue(true);
    recordStep(h, 3, 10);

    clickCell(w, 1, col);
    QVERIFY(w.GridText->isVisible());
    if (emptyFirst)
        QTest::keyClick(w.GridText, Qt::Key_Backspace);
    QTest::keyClicks(w.GridText, typed);
    QTest::keyClick(w.GridText, Qt::Key_Return);
    QCOMPARE(w.Grid->TextMatrix(1, col), stored);
    QVERIFY(!w.GridText->isVisible());
    // The other cell of the row is left alone.
    QCOMPARE(w.Grid->TextMatrix(1, col == 1 ? 2 : 1),
             col == 1 ? QStringLiteral(" 2.5") : QStringLiteral("ElbowUp"));
    QCOMPARE(w.NextStep, qint16(2));
}

void tst_ScriptWindow::escapeAndLeavingTheCell()
{
    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(activate(w));
    w.optScripting->SetValue(true);
    recordStep(h, 3, 10);
    recordStep(h, 0, 4);

    clickCell(w, 1, 2);
    QTest::keyClicks(w.GridText, "9");
    QTest::keyClick(w.GridText, Qt::Key_Escape);
    QVERIFY(!w.GridText->isVisible());
    QCOMPARE(w.Grid->TextMatrix(1, 2), QStringLiteral(" 2.5"));

    // Moving to another cell commits into the cell that was left, then edits the new one.
    clickCell(w, 1, 1);
    QTest::keyClicks(w.GridText, "gripopen");
    clickCell(w, 2, 2);
    QCOMPARE(w.Grid->TextMatrix(1, 1), QStringLiteral("GripOpen"));
    QCOMPARE(w.Grid->TextMatrix(2, 2), QStringLiteral(" 1"));
    QVERIFY(w.GridText->isVisible());
    QCOMPARE(w.GridText->text(), QStringLiteral(" 1"));

    // The arrow keys move the current cell like a click: the edit goes into its own cell.
    QTest::keyClicks(w.GridText, "4");
    w.Grid->setFocus();
    QTest::keyClick(w.Grid, Qt::Key_Up);
    QCOMPARE(w.Grid->TextMatrix(2, 2), QStringLiteral(" 4"));
    QCOMPARE(w.Grid->TextMatrix(1, 2), QStringLiteral(" 2.5"));
    QCOMPARE(w.Grid->Row(), 1);
}

void tst_ScriptWindow::editAfterTheLastStepIsDiscarded()
{
    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(activate(w));
    w.optScripting->SetValue(true);
    recordStep(h, 3, 10);

    clickCell(w, 2, 1);
    QVERIFY(w.GridText->isVisible());
    QTest::keyClicks(w.GridText, "basecw");
    QTest::keyClick(w.GridText, Qt::Key_Return);
    QVERIFY(w.Grid->TextMatrix(2, 1).isEmpty());
    QVERIFY(w.Grid->TextMatrix(2, 0).isEmpty());
    QCOMPARE(w.NextStep, qint16(2));
    // The edit is emptied but not ended.
    QVERIFY(w.GridText->text().isEmpty());
    QVERIFY(w.GridText->isVisible());
    QTest::keyClick(w.GridText, Qt::Key_Escape);
    QVERIFY(!w.GridText->isVisible());
    QCOMPARE(w.Grid->TextMatrix(1, 1), QStringLiteral("ElbowUp"));
}

void tst_ScriptWindow::programMovesCommitAnOpenEdit()
{
    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(activate(w));
    w.optScripting->SetValue(true);
    recordStep(h, 3, 10);

    // Recording the next step moves the current cell to row 2; the open edit of row 1 lands first.
    clickCell(w, 1, 2);
    QTest::keyClicks(w.GridText, "1.75");
    h.click(4);
    QVERIFY(!w.GridText->isVisible());
    QCOMPARE(w.Grid->TextMatrix(1, 2), QStringLiteral(" 1.75"));
    QCOMPARE(w.Grid->TextMatrix(2, 1), QStringLiteral("WristUp"));
    QVERIFY(w.Grid->TextMatrix(2, 2).isEmpty());
    tick(w, 3);
    h.click(4);
    QCOMPARE(w.Grid->TextMatrix(2, 2), QStringLiteral(" .75"));
}

void tst_ScriptWindow::clearCutsBackAndSelectsInteractive()
{
    WindowHarness h;
    h.addArm();
    frmMain &w = h.open();
    w.Grid->SetRows(20);
    for (int row = 1; row < 20; ++row) {
        for (int col = 0; col < 3; ++col)
            w.Grid->SetTextMatrix(row, col, QStringLiteral("x"));
    }
    w.NextStep = 19;
    w.ScriptFileName = QStringLiteral("/somewhere/kept.SRP");
    w.setWindowTitle(QStringLiteral("Tessaro (/somewhere/kept.SRP)"));
    w.Grid->SetTopRow(6);
    w.optScripting->SetValue(true);
    // A step being recorded when Clear comes is never ended.
    h.click(5);
    QVERIFY(w.MotionActive());
    w.Grid->SetTextMatrix(0, 1, QStringLiteral("Loaded header"));

    QTest::mouseClick(w.cmdClear, Qt::LeftButton);

    QCOMPARE(w.Grid->Rows(), 14);
    QCOMPARE(w.NextStep, qint16(1));
    for (int row = 1; row < 14; ++row) {
        for (int col = 0; col < 3; ++col)
            QVERIFY(w.Grid->TextMatrix(row, col).isEmpty());
    }
    QCOMPARE(w.Grid->TextMatrix(0, 1), QStringLiteral("Loaded header"));
    QCOMPARE(w.Grid->TopRow(), 1);
    QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro"));
    QCOMPARE(w.ScriptFileName, QStringLiteral("/somewhere/kept.SRP"));
    QVERIFY(w.optInteractive->Value());
    QVERIFY(!w.optScripting->Value());
    // No motion handler ran: the motor goes on, nothing was sent.
    QVERIFY(w.MotionActive());
    QVERIFY(w.TimerT->isActive());
    QCOMPARE(h.codes(), QList<int>{5});
    // The motion now ends in Interactive mode and records nothing.
    h.click(5);
    QCOMPARE(w.NextStep, qint16(1));
    QVERIFY(w.Grid->TextMatrix(1, 2).isEmpty());
}

void tst_ScriptWindow::repetitionsBox()
{
    WindowHarness h;
    frmMain &w = h.open();
    QVERIFY(activate(w));
    QCOMPARE(w.txtReps->text(), QStringLiteral("1"));
    QVERIFY(w.txtReps->hasFrame());

    w.txtReps->setFocus();
    QVERIFY(w.txtReps->hasFocus());
    QVERIFY(!w.txtReps->hasFrame());
    QCOMPARE(w.txtReps->selectedText(), QStringLiteral("1"));

    QTest::keyClicks(w.txtReps, "-2.3a45678");
    QCOMPARE(w.txtReps->text(), QStringLiteral("23456"));
    QTest::keyClick(w.txtReps, Qt::Key_Backspace);
    QCOMPARE(w.txtReps->text(), QStringLiteral("2345"));
    w.txtReps->selectAll();
    QTest::keyClick(w.txtReps, Qt::Key_Backspace);
    QVERIFY(w.txtReps->text().isEmpty());

    w.Grid->setFocus();
    QVERIFY(w.txtReps->hasFrame());
}

void tst_ScriptWindow::emptyScriptIsNotRun()
{
    WindowHarness h;
    h.addArm();
    frmMain &w = h.open();
    FakeDialogs dialogs;
    w.SetScriptDialogs(&dialogs);

    QTest::mouseClick(w.cmdRun, Qt::LeftButton);
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].title, QStringLiteral("Error"));
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Empty script!"));
    QCOMPARE(w.cmdRun->Caption(), QStringLiteral("Run"));
    QVERIFY(w.FrameMain->isEnabled());
    QVERIFY(h.codes().isEmpty());
}

void tst_ScriptWindow::runSendsTheSteps_data()
{
    QTest::addColumn<QStringList>("functions");
    QTest::addColumn<QStringList>("times");
    QTest::addColumn<QString>("reps");
    QTest::addColumn<QList<int>>("codes");

    QTest::newRow("two steps twice") << QStringList{"ElbowUp", "Pause"} << QStringList{" .03", " .02"} << "2"
                                     << QList<int>{3, 0, 3, 0, 0};
    QTest::newRow("repetitions empty")
        << QStringList{"ElbowUp"} << QStringList{" .02"} << "" << QList<int>{0};
    QTest::newRow("repetitions zero")
        << QStringList{"ElbowUp"} << QStringList{" .02"} << "0" << QList<int>{0};
    QTest::newRow("unknown name sends nothing")
        << QStringList{"GripOpen", "gripclose", "WristDown"} << QStringList{" .02", " .02", " .02"} << "1"
        << QList<int>{10, 9, 0};
    QTest::newRow("zero and empty times")
        << QStringList{"BaseCW", "BaseCCW", "ShoulderUp"} << QStringList{" 0", "", "-1"} << "3"
        << QList<int>{7, 2, 1, 7, 2, 1, 7, 2, 1, 0};
}

void tst_ScriptWindow::runSendsTheSteps()
{
    QFETCH(QStringList, functions);
    QFETCH(QStringList, times);
    QFETCH(QString, reps);
    QFETCH(QList<int>, codes);

    // What the window looks like whenever a code arrives, and when; kept until the window is gone,
    // as its end sends a code too.
    QList<qint64> at;
    QList<bool> panelEnabled;
    QStringList captions;

    WindowHarness h;
    VirtualArm &arm = h.addArm();
    frmMain &w = h.open();
    QList<QPair<QString, QString>> steps;
    for (int i = 0; i < functions.size(); ++i)
        steps.append({functions[i], times[i]});
    putScript(w, steps);
    w.txtReps->setText(reps);

    QObject::connect(&arm, &VirtualArm::commandReceived, &w, [&](int, qint64 ns, const QByteArray &) {
        at.append(ns);
        panelEnabled.append(w.FrameMain->isEnabled());
        captions.append(w.cmdRun->Caption());
    });

    RunGuard guard(w);
    QTest::mouseClick(w.cmdRun, Qt::LeftButton);
    QVERIFY(!guard.fired);
    QCOMPARE(h.codes(), codes);
    for (int i = 0; i + 1 < codes.size(); ++i) {
        QVERIFY(!panelEnabled[i]);
        QCOMPARE(captions[i], QStringLiteral("Stop"));
    }
    // Each step's command stays in effect for its time (a millisecond of scheduling aside).
    if (reps == QStringLiteral("2")) {
        const qint64 gaps[] = {30, 20, 30, 20};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(at[i + 1] - at[i] >= (gaps[i] - 1) * 1'000'000, qPrintable(QString::number(i)));
    }
    QCOMPARE(w.cmdRun->Caption(), QStringLiteral("Run"));
    QVERIFY(w.FrameMain->isEnabled());
    QVERIFY(!w.StopRequested);
    QVERIFY(!w.Runner().isRunning());
}

void tst_ScriptWindow::runMarksTheRunningRow_data()
{
    QTest::addColumn<bool>("hilight");
    QTest::newRow("highlight on") << true;
    QTest::newRow("highlight off") << false;
}

void tst_ScriptWindow::runMarksTheRunningRow()
{
    QFETCH(bool, hilight);

    QList<int> rows;
    QList<bool> highlighted;
    QList<QList<int>> selectedColumns;

    WindowHarness h;
    h.writeSettings(QString(), hilight, 255);
    VirtualArm &arm = h.addArm();
    frmMain &w = h.open();
    QCOMPARE(w.Hilight(), hilight);
    w.optScripting->SetValue(true);
    recordStep(h, 3, 1);
    recordStep(h, 8, 1);
    recordStep(h, 5, 1);
    const int recorded = int(h.codes().size());
    for (int row = 1; row <= 3; ++row)
        w.Grid->SetTextMatrix(row, 2, QStringLiteral(" .02"));

    QObject::connect(&arm, &VirtualArm::commandReceived, &w, [&](int code, qint64, const QByteArray &) {
        // Only the steps' own codes; the final stop ends the run.
        if (w.cmdRun->Caption() != QStringLiteral("Stop") || code == 0)
            return;
        rows.append(w.Grid->Row());
        highlighted.append(w.Grid->HighLight());
        QList<int> cols;
        for (const QModelIndex &index : w.Grid->selectionModel()->selectedIndexes()) {
            if (index.row() + 1 == w.Grid->Row())
                cols.append(index.column());
        }
        std::sort(cols.begin(), cols.end());
        selectedColumns.append(cols);
    });
    if (hilight && qEnvironmentVariableIsSet("TESSARO_SCRIPT_SCREENSHOT")) {
        onCode(h, 2, [&w] { w.grab().save(qEnvironmentVariable("TESSARO_SCRIPT_SCREENSHOT")); });
    }

    RunGuard guard(w);
    QTest::mouseClick(w.cmdRun, Qt::LeftButton);
    QVERIFY(!guard.fired);
    QCOMPARE(h.codes().mid(recorded), QList<int>({3, 8, 5, 0}));
    QCOMPARE(rows, QList<int>({1, 2, 3}));
    QCOMPARE(highlighted, QList<bool>({hilight, hilight, hilight}));
    if (hilight)
        QCOMPARE(selectedColumns, QList<QList<int>>({{0, 1, 2}, {0, 1, 2}, {0, 1, 2}}));
    QVERIFY(!w.Grid->HighLight());
}

void tst_ScriptWindow::stopDuringAStep()
{
    WindowHarness h;
    h.writeSettings(QString(), true);
    h.addArm();
    frmMain &w = h.open();
    QVERIFY(activate(w));
    putScript(w, {{"ElbowUp", " 30"}, {"WristUp", " 1"}});
    w.txtReps->setText(QStringLiteral("5"));

    bool editorRefused = false;
    bool highlightedInRun = false;
    bool modeLocked = false;
    onCode(h, 1, [&] {
        // The mode caption is locked with the rest of the panel.
        QTest::mouseClick(w.lblScripting, Qt::LeftButton);
        modeLocked = w.optInteractive->Value() && !w.optScripting->Value();
        // The editor does not open during a run.
        QTest::mouseClick(w.Grid->viewport(), Qt::LeftButton, {}, cellCentre(w, 1, 2));
        editorRefused = !w.GridText->isVisible();
        highlightedInRun = w.Grid->HighLight();
        QTest::mouseClick(w.cmdRun, Qt::LeftButton);
    });
    const qint64 start = ScriptRunner::clockNs();
    RunGuard guard(w);
    QTest::mouseClick(w.cmdRun, Qt::LeftButton);
    QVERIFY(!guard.fired);
    QVERIFY(ScriptRunner::clockNs() - start < 10'000'000'000LL);
    QVERIFY(editorRefused);
    QVERIFY(highlightedInRun);
    QVERIFY(modeLocked);
    QCOMPARE(h.codes(), QList<int>({3, 0}));
    QCOMPARE(w.cmdRun->Caption(), QStringLiteral("Run"));
    QVERIFY(w.FrameMain->isEnabled());
    QVERIFY(!w.Grid->HighLight());
    QVERIFY(!w.StopRequested);

    // The next run starts again at step 1 of repetition 1; the panel works again.
    w.Grid->SetTextMatrix(1, 2, QStringLiteral(" .01"));
    w.Grid->SetTextMatrix(2, 2, QStringLiteral(" .01"));
    w.txtReps->setText(QStringLiteral("1"));
    QTest::mouseClick(w.cmdRun, Qt::LeftButton);
    QCOMPARE(h.codes(), QList<int>({3, 0, 3, 4, 0}));
    h.click(6);
    QCOMPARE(h.codes().last(), 6);
}

void tst_ScriptWindow::changesDuringARun_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<qint16>("nextStep");

    // A two-step script (ElbowUp, WristUp) three times; the change comes while its first step runs.
    QTest::newRow("clear") << "clear" << QList<int>{3, 0} << qint16(1);
    QTest::newRow("load") << "load" << QList<int>{3, 5, 7, 10, 5, 7, 10, 5, 7, 0} << qint16(4);
    QTest::newRow("fewer repetitions") << "reps" << QList<int>{3, 4, 0} << qint16(3);
}

void tst_ScriptWindow::changesDuringARun()
{
    QFETCH(QString, change);
    QFETCH(QList<int>, codes);
    QFETCH(qint16, nextStep);

    QTemporaryDir dir;
    const QString loaded = dir.filePath(QStringLiteral("three.SRP"));
    writeFile(loaded, "\" 3\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"GripOpen\",\" .01\"\r\n"
                      "\" 2\",\"GripClose\",\" .01\"\r\n\" 3\",\"BaseCW\",\" .01\"\r\n");

    WindowHarness h;
    h.addArm();
    frmMain &w = h.open();
    FakeDialogs dialogs;
    dialogs.openAnswers << loaded;
    w.SetScriptDialogs(&dialogs);
    putScript(w, {{"ElbowUp", " .05"}, {"WristUp", " .01"}});
    w.txtReps->setText(QStringLiteral("3"));

    onCode(h, 1, [&] {
        if (change == QStringLiteral("clear"))
            QTest::mouseClick(w.cmdClear, Qt::LeftButton);
        else if (change == QStringLiteral("load"))
            QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
        else
            w.txtReps->setText(QStringLiteral("1"));
    });
    RunGuard guard(w);
    QTest::mouseClick(w.cmdRun, Qt::LeftButton);
    QVERIFY(!guard.fired);
    QCOMPARE(h.codes(), codes);
    QCOMPARE(w.NextStep, nextStep);
    QCOMPARE(w.cmdRun->Caption(), QStringLiteral("Run"));
    QVERIFY(w.FrameMain->isEnabled());
}

void tst_ScriptWindow::closingDuringARun()
{
    WindowHarness h;
    VirtualArm &arm = h.addArm();
    frmMain &w = h.open();
    putScript(w, {{"ElbowUp", " 30"}});
    w.txtReps->setText(QStringLiteral("3"));

    onCode(h, 1, [&] { w.close(); });
    RunGuard guard(w);
    QTest::mouseClick(w.cmdRun, Qt::LeftButton);
    QVERIFY(!guard.fired);
    QVERIFY(!w.Runner().isRunning());
    // One stop, sent by the closing; nothing after the component has stopped.
    QCOMPARE(h.codes(), QList<int>({3, 0}));
    QVERIFY(!arm.armInterface()->isOpen());
    QVERIFY(!w.isVisible());
    h.destroyWindow();
    QCOMPARE(h.codes(), QList<int>({3, 0}));
}

void tst_ScriptWindow::saveAndLoadRoundTrip()
{
    QTemporaryDir dir;
    // No extension is added to a name typed without one.
    const QString path = dir.filePath(QStringLiteral("arm script"));

    WindowHarness h;
    frmMain &w = h.open();
    FakeDialogs dialogs;
    dialogs.saveAnswers << path;
    dialogs.openAnswers << path;
    w.SetScriptDialogs(&dialogs);
    w.optScripting->SetValue(true);
    recordStep(h, 3, 10);
    recordStep(h, 0, 4);

    QTest::mouseClick(w.cmdSaveAs, Qt::LeftButton);
    QCOMPARE(fileBytes(path), WorkedExample);
    QCOMPARE(w.ScriptFileName, path);
    QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro (%1)").arg(path));
    QVERIFY(dialogs.messages.isEmpty());

    // Save writes to the remembered file, without a dialog and without touching the title.
    w.Grid->SetTextMatrix(2, 2, QStringLiteral(" 1.5"));
    w.setWindowTitle(QStringLiteral("Tessaro"));
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    QCOMPARE(dialogs.asked.size(), 1);
    QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro"));
    QByteArray edited = WorkedExample;
    edited.replace("\" 1\"\r\n", "\" 1.5\"\r\n");
    QCOMPARE(fileBytes(path), edited);
    writeFile(path, WorkedExample);

    QTest::mouseClick(w.cmdClear, Qt::LeftButton);
    w.optScripting->SetValue(true);
    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QCOMPARE(w.NextStep, qint16(3));
    QCOMPARE(w.Grid->Rows(), 14);
    const QStringList expected{"Step", "Function", "Time", " 1", "ElbowUp", " 2.5", " 2", "Pause", " 1"};
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(w.Grid->TextMatrix(i / 3, i % 3), expected[i]);
    QVERIFY(w.Grid->TextMatrix(3, 1).isEmpty());
    QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro (%1)").arg(path));
    QVERIFY(w.optInteractive->Value());

    // One dialog object: the name chosen in the save dialog is offered by the open dialog; both
    // show the script filter.
    QCOMPARE(dialogs.asked.size(), 2);
    QCOMPARE(dialogs.asked[0].kind, QStringLiteral("save"));
    QVERIFY(dialogs.asked[0].startName.isEmpty());
    QCOMPARE(dialogs.asked[1].kind, QStringLiteral("open"));
    QCOMPARE(dialogs.asked[1].startName, path);
    for (const FakeDialogs::Asked &asked : dialogs.asked)
        QCOMPARE(asked.filter, QStringLiteral("Script Files (*.SRP);;All Files (*)"));
}

void tst_ScriptWindow::loadingFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint16>("nextStep");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QStringList>("cells"); // rows 0.. as far as given, three cells each
    QTest::addColumn<bool>("titled");

    QByteArray twenty = "\" 20\"\r\n\"Step\",\"Function\",\"Time\"\r\n";
    for (int i = 1; i <= 20; ++i)
        twenty += QStringLiteral("\" %1\",\"BaseCW\",\" .5\"\r\n").arg(i).toLatin1();
    QTest::newRow("twenty steps") << twenty << qint16(21) << 26 << QStringList{"Step", "Function", "Time"}
                                  << true;
    QTest::newRow("unquoted fields") << QByteArray("1\r\nStep,Function,Time\r\n 1,ElbowUp, 2.5\r\n")
                                     << qint16(2) << 14
                                     << QStringList{"Step", "Function", "Time", "1", "ElbowUp", "2.5"}
                                     << true;
    QTest::newRow("zero steps") << QByteArray("\" 0\"\r\n\"S\",\"F\",\"T\"\r\n\" 1\",\"x\",\" 1\"\r\n")
                                << qint16(1) << 14 << QStringList{"S", "F", "T", "", "", ""} << true;
    QTest::newRow("negative count") << QByteArray("\"-3\"\r\n\"Step\",\"Function\",\"Time\"\r\n") << qint16(1)
                                    << 14 << QStringList{"Step", "Function", "Time", "", "", ""} << true;
    QTest::newRow("fewer steps than announced")
        << QByteArray("\" 3\"\r\n\"Step\",\"Function\",\"Time\"\r\n\" 1\",\"WristUp\",\" 1\"\r\n")
        << qint16(4) << 14 << QStringList{"Step", "Function", "Time", " 1", "WristUp", " 1", "", "", ""}
        << false;
    QTest::newRow("count too large") << QByteArray("\" 40000\"\r\n") << qint16(1) << 14
                                     << QStringList{"Step", "Function", "Time", "", "", ""} << false;
}

void tst_ScriptWindow::loadingFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint16, nextStep);
    QFETCH(int, rows);
    QFETCH(QStringList, cells);
    QFETCH(bool, titled);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.SRP"));
    writeFile(path, bytes);

    WindowHarness h;
    frmMain &w = h.open();
    FakeDialogs dialogs;
    dialogs.openAnswers << path;
    w.SetScriptDialogs(&dialogs);
    putScript(w, {{"ElbowUp", " 1"}, {"Pause", " 2"}});
    w.optScripting->SetValue(true);

    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QVERIFY(dialogs.messages.isEmpty());
    QCOMPARE(w.NextStep, nextStep);
    QCOMPARE(w.Grid->Rows(), rows);
    for (int i = 0; i < cells.size(); ++i)
        QCOMPARE(w.Grid->TextMatrix(i / 3, i % 3), cells[i]);
    QCOMPARE(w.ScriptFileName, path);
    QCOMPARE(w.windowTitle(), titled ? QStringLiteral("Tessaro (%1)").arg(path) : QStringLiteral("Tessaro"));
    QVERIFY(w.optInteractive->Value());
}

void tst_ScriptWindow::unreadableFileChangesNothing()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.SRP"));

    WindowHarness h;
    frmMain &w = h.open();
    FakeDialogs dialogs;
    dialogs.openAnswers << missing << dir.path();
    w.SetScriptDialogs(&dialogs);
    putScript(w, {{"ElbowUp", " 1"}, {"Pause", " 2"}});
    w.optScripting->SetValue(true);
    w.ScriptFileName = QStringLiteral("/kept.SRP");
    w.setWindowTitle(QStringLiteral("Tessaro (/kept.SRP)"));

    for (const QString &path : {missing, dir.path()}) {
        dialogs.messages.clear();
        QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].title, QStringLiteral("Error"));
        QVERIFY2(dialogs.messages[0].text.contains(path), qPrintable(dialogs.messages[0].text));
        QCOMPARE(w.NextStep, qint16(3));
        QCOMPARE(w.Grid->TextMatrix(1, 1), QStringLiteral("ElbowUp"));
        QCOMPARE(w.Grid->TextMatrix(2, 2), QStringLiteral(" 2"));
        QCOMPARE(w.ScriptFileName, QStringLiteral("/kept.SRP"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro (/kept.SRP)"));
        QVERIFY(w.optScripting->Value());
    }
}

void tst_ScriptWindow::cancelChangesNothing()
{
    WindowHarness h;
    frmMain &w = h.open();
    FakeDialogs dialogs;
    w.SetScriptDialogs(&dialogs);
    putScript(w, {{"ElbowUp", " 1"}});
    w.ScriptFileName.clear();
    w.CommD.SetFileName(QStringLiteral("/offered.SRP"));

    QTest::mouseClick(w.cmdLoad, Qt::LeftButton);
    QTest::mouseClick(w.cmdSaveAs, Qt::LeftButton);
    // Save without a file name asks through Save As.
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    QCOMPARE(dialogs.asked.size(), 3);
    QCOMPARE(dialogs.asked[2].kind, QStringLiteral("save"));
    for (const FakeDialogs::Asked &asked : dialogs.asked)
        QCOMPARE(asked.startName, QStringLiteral("/offered.SRP"));
    QVERIFY(dialogs.messages.isEmpty());
    QCOMPARE(w.CommD.FileName(), QStringLiteral("/offered.SRP"));
    QVERIFY(w.ScriptFileName.isEmpty());
    QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro"));
    QCOMPARE(w.NextStep, qint16(2));
    QCOMPARE(w.Grid->TextMatrix(1, 1), QStringLiteral("ElbowUp"));
}

void tst_ScriptWindow::savingEmptyScripts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.SRP"));
    writeFile(path, WorkedExample);

    WindowHarness h;
    frmMain &w = h.open();
    FakeDialogs dialogs;
    dialogs.saveAnswers << path;
    w.SetScriptDialogs(&dialogs);

    // Save As refuses an empty script before any dialog.
    QTest::mouseClick(w.cmdSaveAs, Qt::LeftButton);
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].title, QStringLiteral("Error"));
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot save an empty script!"));
    QVERIFY(dialogs.asked.isEmpty());
    QCOMPARE(fileBytes(path), WorkedExample);

    // Save over a remembered file does not refuse it: after Clear it writes the count 0 and the
    // header.
    w.ScriptFileName = path;
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    QCOMPARE(fileBytes(path), QByteArray("\" 0\"\r\n\"Step\",\"Function\",\"Time\"\r\n"));
    QCOMPARE(dialogs.messages.size(), 1);
}

void tst_ScriptWindow::failedSaveKeepsTitleAndFile()
{
    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("old.SRP"));
    writeFile(old, WorkedExample);
    // A folder where the file should go cannot be written over.
    const QString folder = dir.filePath(QStringLiteral("a folder"));
    QVERIFY(QDir().mkpath(folder));

    WindowHarness h;
    frmMain &w = h.open();
    FakeDialogs dialogs;
    dialogs.saveAnswers << folder << dir.filePath(QStringLiteral("no such folder/x.SRP"));
    w.SetScriptDialogs(&dialogs);
    putScript(w, {{"GripOpen", " 3"}});
    w.ScriptFileName = old;
    w.setWindowTitle(QStringLiteral("Tessaro (%1)").arg(old));

    for (int attempt = 0; attempt < 2; ++attempt) {
        dialogs.messages.clear();
        QTest::mouseClick(w.cmdSaveAs, Qt::LeftButton);
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].title, QStringLiteral("Error"));
        QVERIFY(!dialogs.messages[0].text.isEmpty());
        QCOMPARE(w.windowTitle(), QStringLiteral("Tessaro (%1)").arg(old));
        QCOMPARE(w.ScriptFileName, old);
    }
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(fileBytes(old), WorkedExample);

    // Save onto the remembered name failing says so too, and leaves the old content whole.
    w.ScriptFileName = folder;
    dialogs.messages.clear();
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY(QFileInfo(folder).isDir());
}

void tst_ScriptWindow::filterTranslation_data()
{
    QTest::addColumn<QString>("pipe");
    QTest::addColumn<QString>("qt");

    QTest::newRow("script filter") << frmMain::ScriptFileFilter << "Script Files (*.SRP);;All Files (*)";
    QTest::newRow("globs added") << "Scripts|*.SRP;*.TXT"
                                 << "Scripts (*.SRP *.TXT)";
    QTest::newRow("every file, dot or not") << "Everything|*.*" << "Everything (*)";
    QTest::newRow("description with other globs") << "Scripts (*.SRP)|*.SRP;*.BAK"
                                                  << "Scripts (*.SRP) (*.SRP *.BAK)";
}

void tst_ScriptWindow::filterTranslation()
{
    QFETCH(QString, pipe);
    QFETCH(QString, qt);
    QCOMPARE(QtFileFilter(pipe), qt);
}

void tst_ScriptWindow::widgetFileDialogs()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("not yet.SRP"));
    const QString inMissingFolder = dir.filePath(QStringLiteral("no folder/x.SRP"));
    WidgetScriptDialogs dialogs;
    const QString filter = QtFileFilter(frmMain::ScriptFileFilter);

    // Whatever the dialog is asked, `answer` runs on it once it shows.
    auto whenShown = [](std::function<void(QFileDialog *)> answer) {
        QTimer::singleShot(0, [answer] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            answer(dialog);
        });
    };

    // Open takes the name of a file that does not exist.
    QStringList filters;
    whenShown([&](QFileDialog *dialog) {
        filters = dialog->nameFilters();
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
        dialog->selectFile(missing);
        static_cast<QDialog *>(dialog)->accept();
    });
    QCOMPARE(dialogs.openFileName(nullptr, QString(), filter), missing);
    QCOMPARE(filters, QStringList({"Script Files (*.SRP)", "All Files (*)"}));

    // Save starts at the name offered, asks before replacing and refuses a folder that does not
    // exist; Cancel gives no name.
    bool stayedOpen = false;
    bool confirms = false;
    QString offered;
    whenShown([&](QFileDialog *dialog) {
        offered = dialog->selectedFiles().value(0);
        confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        dialog->selectFile(inMissingFolder);
        QTimer::singleShot(0, [] {
            if (QWidget *box = QApplication::activeModalWidget(); qobject_cast<QMessageBox *>(box))
                box->close();
        });
        static_cast<QDialog *>(dialog)->accept();
        stayedOpen = dialog->isVisible();
        dialog->reject();
    });
    QVERIFY(dialogs.saveFileName(nullptr, missing, filter).isEmpty());
    QCOMPARE(offered, missing);
    QVERIFY(confirms);
    QVERIFY(stayedOpen);
}

QTEST_MAIN(tst_ScriptWindow)
#include "tst_scriptwindow.moc"
