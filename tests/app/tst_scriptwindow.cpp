#include "ControlOptions.h"
#include "GridText.h"
#include "HoverButton.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "ScriptDialogs.h"
#include "ScriptGrid.h"
#include "ScriptRunner.h"
#include "StepFunctions.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QUndoStack>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace {

using Steps = QList<QPair<QString, QString>>; // (function, time) per step

// Where the first file dialog opens: the user's documents folder (or home), never the program's.
QString firstFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return (QFileInfo(documents).isDir() ? documents : QDir::homePath()) + QLatin1Char('/');
}

// Answers the window's questions from lists; an empty answer is a cancel. Questions are kept as
// "open <start name>" or "save <start name>", errors as "title: text".
class FakeDialogs : public ScriptDialogs
{
public:
    QStringList openAnswers, saveAnswers, asked, filters, messages, hints;
    // Answers to the questions, in order; without one, Cancel and No.
    QList<SaveChoice> saveChoices;
    QList<bool> confirmations;

    QString openFileName(QWidget *, const QString &startName, const QString &filter) override
    {
        asked.append(QStringLiteral("open ") + startName);
        filters.append(filter);
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget *, const QString &startName, const QString &filter) override
    {
        asked.append(QStringLiteral("save ") + startName);
        filters.append(filter);
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    void errorMessage(QWidget *, const QString &title, const QString &text) override
    {
        messages.append(title + QStringLiteral(": ") + text);
    }
    void warningMessage(QWidget *, const QString &title, const QString &text) override
    {
        messages.append(title + QStringLiteral(": ") + text);
    }
    SaveChoice askToSave(QWidget *, const QString &text, bool offerSave) override
    {
        asked.append((offerSave ? QStringLiteral("save? ") : QStringLiteral("discard? ")) + text);
        return saveChoices.isEmpty() ? SaveChoice::Cancel : saveChoices.takeFirst();
    }
    bool confirm(QWidget *, const QString &, const QString &text) override
    {
        asked.append(QStringLiteral("confirm ") + text);
        return !confirmations.isEmpty() && confirmations.takeFirst();
    }
    void hint(QWidget *, const QString &text) override { hints.append(text); }
};

// A window with its dialogs answered by `dialogs`.
struct Fixture
{
    explicit Fixture(bool withArm = false)
    {
        if (withArm)
            h.addArm();
        w = &h.open();
        w->SetScriptDialogs(&dialogs);
    }
    WindowHarness h;
    FakeDialogs dialogs;
    frmMain *w = nullptr;
};

const QByteArray WorkedExample = "\" 2\"\r\n"
                                 "\"Step\",\"Function\",\"Time\"\r\n"
                                 "\" 1\",\"ElbowUp\",\" 2.5\"\r\n"
                                 "\" 2\",\"Pause\",\" 1\"\r\n";
const QByteArray Header = "\"Step\",\"Function\",\"Time\"\r\n";

// The title as set, with the place of the unsaved-changes mark.
QString titled(const QString &path)
{
    return QStringLiteral("Tessaro (%1)[*]").arg(path);
}
const QString Untitled = QStringLiteral("Tessaro[*]");

void tick(frmMain &w, int ticks)
{
    for (int i = 0; i < ticks; ++i)
        QMetaObject::invokeMethod(w.session().stepTimer(), "timeout");
}

// A motion held for `ticks` ticks of the step timer, recorded in Scripting mode.
void recordStep(WindowHarness &h, int button, int ticks)
{
    h.click(button);
    tick(h.window(), ticks);
    h.click(button);
}

// Puts a script into the grid as a load would, without a file.
void putScript(frmMain &w, const Steps &steps)
{
    if (ui::Grid(w)->Rows() < steps.size() + 2)
        ui::Grid(w)->SetRows(int(steps.size()) + 2);
    for (int i = 0; i < steps.size(); ++i) {
        ui::Grid(w)->SetTextMatrix(i + 1, 0, QStringLiteral(" %1").arg(i + 1));
        ui::Grid(w)->SetTextMatrix(i + 1, 1, steps[i].first);
        ui::Grid(w)->SetTextMatrix(i + 1, 2, steps[i].second);
    }
    ui::Script(w)->setNextStep(qint16(steps.size() + 1));
}

// The three cells of each row from `first` to `last`.
QStringList cells(const frmMain &w, int first, int last)
{
    QStringList texts;
    for (int i = first * 3; i < (last + 1) * 3; ++i)
        texts << ui::Grid(w)->TextMatrix(i / 3, i % 3);
    return texts;
}

QRect cellRect(const frmMain &w, int row, int col)
{
    return ui::Grid(w)->visualRect(ui::Grid(w)->model()->index(row - 1, col));
}

void clickCell(frmMain &w, int row, int col)
{
    QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, row, col).center());
}

// An active window; with `record`, in Scripting mode with ElbowUp for 2.5 s recorded as step 1.
bool openActive(WindowHarness &h, bool record = true)
{
    frmMain &w = h.open();
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w))
        return false;
    if (record) {
        ui::optScripting(w)->SetValue(true);
        recordStep(h, 3, 10);
    }
    return true;
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

// Holds the run's first write to the arm on the run's own thread, inside the write, until release()
// has been called and the window's thread has handled what was posted to the runner before it (a
// script change the runner takes in on that thread). What the test does to the window in answer to
// that command then comes during the command's step, however late the window's thread gets to it.
// Writes made on the window's thread (a click, a stop) pass. `inWrite` runs inside the held write.
class HeldFirstWrite
{
public:
    HeldFirstWrite(WindowHarness &h, std::function<void()> inWrite = {}) : m_inWrite(std::move(inWrite))
    {
        QObject::connect(&h.transport, &VirtualHidTransport::reportWritten, &m_context,
                         [this](const QString &, const QByteArray &, qint64) { hold(); },
                         Qt::DirectConnection);
    }
    // From the window's thread, once the change is made.
    void release(QObject &windowThread)
    {
        QMetaObject::invokeMethod(&windowThread, [this] {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_released = true;
            m_wake.notify_all();
        }, Qt::QueuedConnection);
    }
    // False when the held write gave up waiting (the change never reached the run).
    bool kept() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_held && !m_gaveUp;
    }

private:
    void hold()
    {
        if (QThread::currentThread() == m_context.thread())
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_held)
            return;
        m_held = true;
        if (m_inWrite) {
            m_inWrite();
            return;
        }
        // Bounded, so that a change that never comes fails the test instead of hanging it.
        m_gaveUp = !m_wake.wait_for(lock, std::chrono::seconds(20), [this] { return m_released; });
    }

    QObject m_context;
    std::function<void()> m_inWrite;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_held = false;
    bool m_released = false;
    bool m_gaveUp = false;
};

// Clicks Run and returns once the run is over; false when it had to be stopped after 20 s.
bool runToEnd(frmMain &w)
{
    QTimer guard;
    guard.setSingleShot(true);
    bool fired = false;
    QObject::connect(&guard, &QTimer::timeout, &w, [&] {
        fired = true;
        w.session().stopRun();
    });
    guard.start(20000);
    QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
    return !fired;
}

bool idle(const frmMain &w)
{
    return ui::cmdRun(w)->Caption() == QStringLiteral("Run") && ui::FrameMain(w)->isEnabled();
}

} // namespace

class tst_ScriptWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordingCountsTicks_data()
    {
        QTest::addColumn<QList<int>>("buttons");    // clicks, in order
        QTest::addColumn<QList<int>>("ticksAfter"); // ticks after each click
        QTest::addColumn<QStringList>("rows"); // from row 1, one past the last step
        QTest::addColumn<QList<int>>("codes");

        QTest::newRow("ten ticks") << QList<int>{3, 3} << QList<int>{10, 0}
                                   << QStringList{" 1", "ElbowUp", " 2.5", "", "", ""} << QList<int>{3, 0};
        QTest::newRow("released before a tick")
            << QList<int>{0, 0} << QList<int>{0, 0} << QStringList{" 1", "Pause", " 0", "", "", ""}
            << QList<int>{0, 0};
        QTest::newRow("switch closes and opens")
            << QList<int>{1, 7, 7} << QList<int>{5, 5, 0}
            << QStringList{" 1", "ShoulderUp", " 1.25", " 2", "BaseCW", " 1.25", "", "", ""}
            << QList<int>{1, 7, 0};
    }

    void recordingCountsTicks()
    {
        QFETCH(QList<int>, buttons);
        QFETCH(QList<int>, ticksAfter);
        QFETCH(QStringList, rows);
        QFETCH(QList<int>, codes);

        WindowHarness h;
        h.addArm();
        frmMain &w = h.open();
        ui::optScripting(w)->SetValue(true);
        for (int i = 0; i < buttons.size(); ++i) {
            h.click(buttons[i]);
            tick(w, ticksAfter[i]);
        }
        QCOMPARE(ui::NextStep(w), qint16(rows.size() / 3));
        QCOMPARE(cells(w, 1, int(rows.size()) / 3), rows);
        QVERIFY(!w.session().stepTimer()->isActive());
        QCOMPARE(w.StepTicks(), 0.0f);
        QCOMPARE(h.codes(), codes);
    }

    void recordingAppendsRowsAndScrolls()
    {
        WindowHarness h;
        frmMain &w = h.open();
        ui::optScripting(w)->SetValue(true);

        for (int step = 1; step <= 30; ++step) {
            if (step == 14)
                ui::Grid(w)->SetTopRow(1);
            h.click(step % 11);
            // A begun step has its number and function, no time yet, and is the current row.
            QCOMPARE(ui::Grid(w)->Row(), step);
            QCOMPARE(cells(w, step, step),
                     QStringList({QStringLiteral(" %1").arg(step), StepFunctions::name(step % 11), ""}));
            QCOMPARE(ui::Grid(w)->Rows(), std::max(14, step + 1));
            if (step >= 14) {
                // As the last row, it is scrolled to the bottom of the view, fully visible.
                QVERIFY2(ui::Grid(w)->viewport()->rect().contains(cellRect(w, step, 1)),
                         qPrintable(QString::number(step)));
                QVERIFY(ui::Grid(w)->TopRow() > 1);
            }
            tick(w, 2);
            h.click(step % 11);
            QCOMPARE(ui::Grid(w)->TextMatrix(step, 2), QStringLiteral(" .5"));
        }
        QCOMPARE(ui::NextStep(w), qint16(31));

        // With rows enough below it (as a load leaves them), the begun step is the top row of the view.
        ui::Grid(w)->SetRows(80);
        ui::Grid(w)->SetTopRow(1);
        h.click(9);
        QCOMPARE(ui::Grid(w)->TopRow(), 31);
        h.click(9);
        h.click(9);
        QCOMPARE(ui::Grid(w)->TopRow(), 32);
        QCOMPARE(ui::Grid(w)->Rows(), 80);
    }

    void gridEditor()
    {
        WindowHarness h;
        QVERIFY(openActive(h, false));
        frmMain &w = h.window();
        // An empty script opens no editor.
        clickCell(w, 1, 1);
        QVERIFY(!ui::GridText(w)->isVisible());
        ui::optScripting(w)->SetValue(true);
        recordStep(h, 3, 10);

        clickCell(w, 1, 1);
        QVERIFY(ui::GridText(w)->isVisible());
        QCOMPARE(ui::GridText(w)->text(), QStringLiteral("ElbowUp"));
        QCOMPARE(ui::GridText(w)->selectedText(), QStringLiteral("ElbowUp"));
        QVERIFY(ui::GridText(w)->hasFocus());
        QCOMPARE(ui::GridText(w)->font().family(), ui::Grid(w)->font().family());
        const QRect cell = cellRect(w, 1, 1);
        QCOMPARE(ui::GridText(w)->geometry(),
                 QRect(ui::Grid(w)->viewport()->mapTo(&w, cell.topLeft()), cell.size()));

        // The Time cell, reached through the click on it, with the Function edit committed on the way.
        clickCell(w, 1, 2);
        QCOMPARE(ui::GridText(w)->text(), QStringLiteral(" 2.5"));
        QCOMPARE(ui::GridText(w)->CharFilter(), GridText::Filter::Number);
        QCOMPARE(ui::GridText(w)->geometry().topLeft(),
                 ui::Grid(w)->viewport()->mapTo(&w, cellRect(w, 1, 2).topLeft()));

        // A typed start character replaces the text.
        ui::GridText(w)->hide();
        w.GridEdit(qint16('7'));
        QCOMPARE(ui::GridText(w)->text(), QStringLiteral("7"));

        // Escape ends the edit without storing it.
        QTest::keyClick(ui::GridText(w), Qt::Key_Escape);
        QVERIFY(!ui::GridText(w)->isVisible());
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 2), QStringLiteral(" 2.5"));
        recordStep(h, 0, 4);

        // Moving to another cell commits into the cell that was left, then edits the new one.
        clickCell(w, 1, 1);
        QTest::keyClicks(ui::GridText(w), "gripopen");
        clickCell(w, 2, 2);
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 1), QStringLiteral("GripOpen"));
        QVERIFY(ui::GridText(w)->isVisible());
        QCOMPARE(ui::GridText(w)->text(), QStringLiteral(" 1"));

        // The arrow keys move the current cell like a click.
        QTest::keyClicks(ui::GridText(w), "4");
        ui::Grid(w)->setFocus();
        QTest::keyClick(ui::Grid(w), Qt::Key_Up);
        QCOMPARE(ui::Grid(w)->TextMatrix(2, 2), QStringLiteral(" 4"));
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 2), QStringLiteral(" 2.5"));
        QCOMPARE(ui::Grid(w)->Row(), 1);

        // An edit after the last step is emptied, not stored, and the editor stays open.
        clickCell(w, 3, 1);
        QVERIFY(ui::GridText(w)->isVisible());
        QTest::keyClicks(ui::GridText(w), "basecw");
        QTest::keyClick(ui::GridText(w), Qt::Key_Return);
        QVERIFY(ui::Grid(w)->TextMatrix(3, 1).isEmpty());
        QVERIFY(ui::Grid(w)->TextMatrix(3, 0).isEmpty());
        QCOMPARE(ui::NextStep(w), qint16(3));
        QVERIFY(ui::GridText(w)->text().isEmpty());
        QVERIFY(ui::GridText(w)->isVisible());
        QTest::keyClick(ui::GridText(w), Qt::Key_Escape);
        QVERIFY(!ui::GridText(w)->isVisible());

        // Recording the next step moves the current cell on; the open edit lands first.
        clickCell(w, 1, 2);
        QTest::keyClicks(ui::GridText(w), "1.75");
        h.click(4);
        QVERIFY(!ui::GridText(w)->isVisible());
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 2), QStringLiteral(" 1.75"));
        QCOMPARE(ui::Grid(w)->TextMatrix(3, 1), QStringLiteral("WristUp"));
        QVERIFY(ui::Grid(w)->TextMatrix(3, 2).isEmpty());
        tick(w, 3);
        h.click(4);
        QCOMPARE(ui::Grid(w)->TextMatrix(3, 2), QStringLiteral(" .75"));
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 1), QStringLiteral("GripOpen"));
    }

    void editingRules_data()
    {
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("typed"); // \b is a backspace
        QTest::addColumn<QString>("stored"); // empty: refused

        QTest::newRow("function lower case") << 1 << "wristup" << "WristUp";
        QTest::newRow("function not taken for a longer one") << 1 << "basecw" << "BaseCW";
        QTest::newRow("function upper case") << 1 << "BASECCW" << "BaseCCW";
        QTest::newRow("function drops digits and blanks") << 1 << "12 grip.open 3" << "GripOpen";
        QTest::newRow("function no name") << 1 << "grab" << "";
        QTest::newRow("function emptied") << 1 << "\b" << "";
        QTest::newRow("time decimal") << 2 << "1.5" << " 1.5";
        QTest::newRow("time trailing zero") << 2 << "0.50" << " .5";
        QTest::newRow("time point at end") << 2 << "1." << " 1";
        QTest::newRow("time shown whole however long") << 2 << "99999" << " 99999";
        QTest::newRow("time exponent") << 2 << "1e3" << "";
        QTest::newRow("time negative") << 2 << "-2" << "";
        QTest::newRow("time letters") << 2 << "3x" << "";
        QTest::newRow("time lone point") << 2 << "." << "";
        QTest::newRow("time two points") << 2 << "1.2.3" << "";
        QTest::newRow("time emptied") << 2 << "\b" << "";
    }

    void editingRules()
    {
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(QString, stored);

        WindowHarness h;
        QVERIFY(openActive(h));
        frmMain &w = h.window();
        FakeDialogs dialogs;
        w.SetScriptDialogs(&dialogs);
        const QString old = ui::Grid(w)->TextMatrix(1, col);
        const int undoSteps = w.Editor().UndoStack()->count();
        clickCell(w, 1, col);
        QVERIFY(ui::GridText(w)->isVisible());
        QTest::keyClicks(ui::GridText(w), typed);
        const QString shown = ui::GridText(w)->text();
        QTest::keyClick(ui::GridText(w), Qt::Key_Return);
        if (stored.isEmpty()) {
            // Refused: nothing stored, the editor stays open with its text marked, and a hint says why.
            QCOMPARE(ui::Grid(w)->TextMatrix(1, col), old);
            QVERIFY(ui::GridText(w)->isVisible());
            QCOMPARE(ui::GridText(w)->selectedText(), shown);
            QCOMPARE(dialogs.hints.size(), 1);
            QVERIFY2(dialogs.hints[0].contains(col == 1 ? "Pause, ShoulderUp, BaseCCW" : "seconds"),
                     qPrintable(dialogs.hints[0]));
            // The note follows the typing, and goes once the text would be taken.
            QTest::keyClicks(ui::GridText(w), col == 1 ? "pause" : "\b5");
            QCOMPARE(dialogs.hints.last(), QString());
            ui::GridText(w)->setText(shown);
            // Moving to another cell is refused as well; Escape drops the edit.
            clickCell(w, 1, 3 - col);
            QCOMPARE(ui::Grid(w)->Col(), col);
            QVERIFY(ui::GridText(w)->isVisible());
            QTest::keyClick(ui::GridText(w), Qt::Key_Escape);
            QCOMPARE(ui::Grid(w)->TextMatrix(1, col), old);
            QCOMPARE(w.Editor().UndoStack()->count(), undoSteps);
        } else {
            QCOMPARE(ui::Grid(w)->TextMatrix(1, col), stored);
            QVERIFY(dialogs.hints.isEmpty());
        }
        QVERIFY(!ui::GridText(w)->isVisible());
        // The other cell of the row is left alone.
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 3 - col),
                 col == 1 ? QStringLiteral(" 2.5") : QStringLiteral("ElbowUp"));
        QCOMPARE(ui::NextStep(w), qint16(2));
    }

    void clearCutsBackAndSelectsInteractive()
    {
        WindowHarness h;
        h.addArm();
        frmMain &w = h.open();
        putScript(w, Steps(19, {"x", "x"}));
        w.Editor().SetFileName(QStringLiteral("/somewhere/kept.SRP"));
        w.setWindowTitle(titled(w.Editor().FileName()));
        ui::Grid(w)->SetTopRow(6);
        ui::optScripting(w)->SetValue(true);
        // A step being recorded when Clear comes is never ended.
        h.click(5);
        QVERIFY(w.MotionActive());
        ui::Grid(w)->SetTextMatrix(0, 1, QStringLiteral("Loaded header"));

        QTest::mouseClick(ui::cmdClear(w), Qt::LeftButton);
        QCOMPARE(ui::Grid(w)->Rows(), 14);
        QCOMPARE(ui::NextStep(w), qint16(1));
        QCOMPARE(cells(w, 0, 13), QStringList({"Step", "Loaded header", "Time"}) + QStringList(13 * 3));
        QCOMPARE(ui::Grid(w)->TopRow(), 1);
        QCOMPARE(w.windowTitle(), Untitled);
        QCOMPARE(w.Editor().FileName(), QStringLiteral("/somewhere/kept.SRP"));
        QVERIFY(ui::optInteractive(w)->Value());
        QVERIFY(!ui::optScripting(w)->Value());
        // No motion handler ran: the motor goes on, nothing was sent.
        QVERIFY(w.MotionActive());
        QVERIFY(w.session().stepTimer()->isActive());
        QCOMPARE(h.codes(), QList<int>{5});
        // The motion now ends in Interactive mode and records nothing.
        h.click(5);
        QCOMPARE(ui::NextStep(w), qint16(1));
        QVERIFY(ui::Grid(w)->TextMatrix(1, 2).isEmpty());
    }

    void repetitionsBox()
    {
        WindowHarness h;
        QVERIFY(openActive(h, false));
        frmMain &w = h.window();
        FakeDialogs dialogs;
        w.SetScriptDialogs(&dialogs);
        QVERIFY(ui::txtReps(w)->hasFrame());

        ui::txtReps(w)->setFocus();
        QVERIFY(!ui::txtReps(w)->hasFrame());
        QCOMPARE(ui::txtReps(w)->selectedText(), QStringLiteral("1"));
        // Only digits, and only as far as the counter goes: each refusal says what the box takes.
        QTest::keyClicks(ui::txtReps(w), "-2.3a456");
        QCOMPARE(ui::txtReps(w)->text(), QStringLiteral("23456"));
        QCOMPARE(dialogs.hints, QStringList(3, "Repeat takes a whole number from 1 to 32767."));
        ui::txtReps(w)->selectAll();
        QTest::keyClicks(ui::txtReps(w), "40000");
        QCOMPARE(ui::txtReps(w)->text(), QStringLiteral("4000"));
        ui::txtReps(w)->selectAll();
        QTest::keyClicks(ui::txtReps(w), "032767");
        QCOMPARE(ui::txtReps(w)->text(), QStringLiteral("32767"));
        QCOMPARE(dialogs.hints.size(), 5);
        // The largest value is shown whole.
        QVERIFY(ui::txtReps(w)->fontMetrics().horizontalAdvance(ui::txtReps(w)->text()) <=
                ui::txtReps(w)->contentsRect().width() - 4);
        QTest::keyClick(ui::txtReps(w), Qt::Key_Backspace);
        QCOMPARE(ui::txtReps(w)->text(), QStringLiteral("3276"));
        ui::txtReps(w)->selectAll();
        QTest::keyClick(ui::txtReps(w), Qt::Key_Backspace);
        QVERIFY(ui::txtReps(w)->text().isEmpty());

        ui::Grid(w)->setFocus();
        QVERIFY(ui::txtReps(w)->hasFrame());
    }

    void runSendsTheSteps_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QString>("reps");
        QTest::addColumn<bool>("hilight");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QStringList>("marks"); // current row at each code but the final stop

        const QStringList rows{"1", "2", "3"};
        QTest::newRow("two steps twice") << Steps{{"ElbowUp", " .03"}, {"Pause", " .02"}} << "2" << false
                                         << QList<int>{3, 0, 3, 0, 0} << QStringList{"1", "2", "1", "2"};
        // Played as written once the operator says so (runChecksFirst).
        QTest::newRow("unknown name sends nothing")
            << Steps{{"GripOpen", " .02"}, {"gripclose", " .02"}, {"WristDown", " .02"}} << "1" << false
            << QList<int>{10, 9, 0} << QStringList{"1", "3"};
        QTest::newRow("zero and empty times")
            << Steps{{"BaseCW", " 0"}, {"BaseCCW", ""}, {"ShoulderUp", "-1"}} << "3" << false
            << QList<int>{7, 2, 1, 7, 2, 1, 7, 2, 1, 0} << rows + rows + rows;
        // With highlighting on, the whole running row is selected.
        QTest::newRow("running row marked")
            << Steps{{"ElbowUp", " .02"}, {"ElbowDown", " .02"}, {"GripClose", " .02"}} << "1" << true
            << QList<int>{3, 8, 5, 0} << QStringList{"1 marked row", "2 marked row", "3 marked row"};
    }

    void runSendsTheSteps()
    {
        QFETCH(Steps, steps);
        QFETCH(QString, reps);
        QFETCH(bool, hilight);
        QFETCH(QList<int>, codes);
        QFETCH(QStringList, marks);

        // The window's state whenever a code arrives; kept until the window is gone, whose end
        // sends a code too.
        QList<qint64> at;
        QList<bool> busy;
        QStringList seen;

        WindowHarness h;
        h.writeSettings(QString(), hilight, 255);
        VirtualArm &arm = h.addArm();
        frmMain &w = h.open();
        FakeDialogs dialogs;
        dialogs.confirmations << true;
        w.SetScriptDialogs(&dialogs);
        putScript(w, steps);
        ui::txtReps(w)->setText(reps);
        QObject::connect(&arm, &VirtualArm::commandReceived, &w, [&](int, qint64 ns, const QByteArray &) {
            at.append(ns);
            busy.append(!ui::FrameMain(w)->isEnabled() && ui::cmdRun(w)->Caption() == QStringLiteral("Stop"));
            const int row = ui::Grid(w)->Row();
            QString mark = QString::number(row);
            if (ui::Grid(w)->HighLight())
                mark += ui::Grid(w)->selectionModel()->isRowSelected(row - 1) ? " marked row" : " marked";
            seen.append(mark);
        });
        if (hilight && qEnvironmentVariableIsSet("TESSARO_SCRIPT_SCREENSHOT"))
            onCode(h, 2, [&w] { w.grab().save(qEnvironmentVariable("TESSARO_SCRIPT_SCREENSHOT")); });

        QVERIFY(runToEnd(w));
        QCOMPARE(h.codes(), codes);
        QCOMPARE(dialogs.messages, QStringList{});
        QCOMPARE(seen.mid(0, std::max<qsizetype>(0, codes.size() - 1)), marks);
        for (int i = 0; i + 1 < codes.size(); ++i)
            QVERIFY(busy[i]);
        // No step's command comes before its moment on the schedule (a millisecond of scheduling
        // aside); a late one is made up by the steps after it.
        if (reps == QStringLiteral("2")) {
            const qint64 gaps[] = {30, 20, 30, 20};
            qint64 due = 0;
            for (int i = 0; i < 4; ++i) {
                due += gaps[i];
                QVERIFY2(at[i + 1] - at[0] >= (due - 1) * 1'000'000, qPrintable(QString::number(i)));
            }
        }
        QVERIFY(idle(w));
        QVERIFY(!ui::Grid(w)->HighLight());
        QVERIFY(!w.Running());
    }

    // An arm whose device stops taking reports. The stop waits behind the stuck motion code instead of
    // being lost, the window's thread is not held up by it, and once the bound has passed the arm is
    // let go and the operator told to switch it off. The stop is the last thing the arm receives.
    void stallingArmIsLetGoAndTold_data()
    {
        QTest::addColumn<bool>("run");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("message");
        QTest::newRow("motion by click, Esc") << false << true << "Tessaro: " + frmMain::StalledText;
        QTest::newRow("script run, Esc") << true << true << "Tessaro: " + frmMain::StalledText;
        QTest::newRow("script run, nobody stops") << true << false << "Error: " + frmMain::StalledText;
    }
    void stallingArmIsLetGoAndTold()
    {
        QFETCH(bool, run);
        QFETCH(bool, stop);
        QFETCH(QString, message);
        WindowHarness h;
        VirtualArm &arm = h.addArm();
        VirtualHidInterface *intf = arm.armInterface();
        intf->useWriterThread();
        frmMain &w = h.open();
        FakeDialogs dialogs;
        w.SetScriptDialogs(&dialogs);
        QCOMPARE(w.ConnectionState(), frmMain::Ready);
        intf->holdWrites(true);
        // Whatever fails below, the device's writer must not be left waiting when the test goes.
        const std::unique_ptr<VirtualHidInterface, void (*)(VirtualHidInterface *)> letGo(
            intf, [](VirtualHidInterface *i) { i->holdWrites(false); });
        qint64 stopTookMs = -1;
        const auto stopNow = [&] {
            QElapsedTimer took;
            took.start();
            w.StopEverything();
            stopTookMs = took.elapsed();
        };
        if (run) {
            putScript(w, {{"ElbowUp", " 5"}, {"Pause", " 1"}});
            if (stop)
                QTimer::singleShot(100, &w, stopNow);
            QVERIFY(runToEnd(w));
        } else {
            h.click(3);
            QTest::qWait(100);
            stopNow();
        }
        if (stop)
            QVERIFY2(stopTookMs >= 0 && stopTookMs < 100, qPrintable(QString::number(stopTookMs)));
        QTRY_COMPARE(dialogs.messages, QStringList{message});
        QCOMPARE(w.ConnectionState(), QString());
        QVERIFY(h.codes().isEmpty());
        intf->holdWrites(false);
        QTRY_COMPARE(h.codes(), (QList<int>{3, 0}));
        QTest::qWait(100);
        QCOMPARE(h.codes(), (QList<int>{3, 0}));
    }

    // Before a run starts: what cannot be played is refused with a message, and a step that is not a
    // motion is named in a question.
    void runChecksFirst_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QString>("reps");
        QTest::addColumn<bool>("arm");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("told"); // message or question; empty: none
        QTest::addColumn<QList<int>>("codes");

        const Steps two{{"ElbowUp", " .02"}, {"Pause", " .01"}};
        QTest::newRow("empty script") << Steps{} << "1" << true << false << "Error: Empty script!" << QList<int>{};
        QTest::newRow("repeat zero") << two << "0" << true << false
                                     << "Error: The script was not run: Repeat takes a whole number from 1 to 32767."
                                     << QList<int>{};
        QTest::newRow("repeat empty") << two << "" << true << false
                                      << "Error: The script was not run: Repeat takes a whole number from 1 to 32767."
                                      << QList<int>{};
        QTest::newRow("no arm") << two << "1" << false << false << "Error: " + frmMain::NotConnectedText
                                << QList<int>{};
        const Steps grab{{"ShoulderUp", " .01"}, {"Pause", " .01"}, {"WristUp", " .01"}, {"ElbowUp", " .01"},
                         {"Grab", " .02"}};
        const QString question =
            "confirm Step 5 \"Grab\" is not a motion: ElbowUp keeps running through it. Run anyway?";
        QTest::newRow("not a motion, declined") << grab << "1" << true << false << question << QList<int>{};
        QTest::newRow("not a motion, run anyway") << grab << "1" << true << true << question
                                                  << QList<int>{1, 0, 4, 3, 0};
        QTest::newRow("all motions") << two << "1" << true << false << QString() << QList<int>{3, 0, 0};
    }
    void runChecksFirst()
    {
        QFETCH(Steps, steps);
        QFETCH(QString, reps);
        QFETCH(QString, told);
        QFETCH(QList<int>, codes);
        QFETCH(bool, arm);
        QFETCH(bool, answer);
        Fixture f(arm);
        frmMain &w = *f.w;
        f.dialogs.confirmations << answer;
        putScript(w, steps);
        ui::txtReps(w)->setText(reps);
        QVERIFY(runToEnd(w));
        QCOMPARE(f.dialogs.messages + f.dialogs.asked, told.isEmpty() ? QStringList() : QStringList{told});
        QCOMPARE(f.h.codes(), codes);
        QVERIFY(idle(w));
    }

    void stopDuringAStep()
    {
        WindowHarness h;
        h.writeSettings(QString(), true);
        h.addArm();
        QVERIFY(openActive(h, false));
        frmMain &w = h.window();
        putScript(w, {{"ElbowUp", " 12"}, {"WristUp", " 1"}});
        ui::txtReps(w)->setText(QStringLiteral("5"));

        bool modeLocked = false, editorRefused = false, highlightedInRun = false;
        onCode(h, 1, [&] {
            QTest::mouseClick(ui::lblScripting(w), Qt::LeftButton);
            modeLocked = ui::optInteractive(w)->Value() && !ui::optScripting(w)->Value();
            clickCell(w, 1, 2);
            editorRefused = !ui::GridText(w)->isVisible();
            highlightedInRun = ui::Grid(w)->HighLight();
            QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        });
        const qint64 start = ScriptRunner::clockNs();
        QVERIFY(runToEnd(w));
        QVERIFY(ScriptRunner::clockNs() - start < 10'000'000'000LL);
        QVERIFY(modeLocked);
        QVERIFY(editorRefused);
        QVERIFY(highlightedInRun);
        QCOMPARE(h.codes(), QList<int>({3, 0}));
        QVERIFY(idle(w));
        QVERIFY(!ui::Grid(w)->HighLight());
        QVERIFY(!w.Running());

        // The next run starts again at step 1 of repetition 1; the panel works again.
        putScript(w, {{"ElbowUp", " .01"}, {"WristUp", " .01"}});
        ui::txtReps(w)->setText(QStringLiteral("1"));
        QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        QCOMPARE(h.codes(), QList<int>({3, 0, 3, 4, 0}));
        h.click(6);
        QCOMPARE(h.codes().last(), 6);
    }

    void changesDuringARun_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<qint16>("nextStep");

        // A two-step script (ElbowUp, WristUp) three times; the change comes while its first step runs.
        QTest::newRow("clear") << "clear" << QList<int>{3, 0} << qint16(1);
        // One stop, sent by the closing; nothing after the component has stopped.
        QTest::newRow("close") << "close" << QList<int>{3, 0} << qint16(3);
        QTest::newRow("load") << "load" << QList<int>{3, 5, 7, 10, 5, 7, 10, 5, 7, 0} << qint16(4);
        QTest::newRow("fewer repetitions") << "reps" << QList<int>{3, 4, 0} << qint16(3);
        // The run ends with the arm; one plugged back at once gets the stop, and no step after it.
        QTest::newRow("arm unplugged") << "unplug" << QList<int>{3} << qint16(3);
        QTest::newRow("arm unplugged and back at once") << "unplug, replug" << QList<int>{3, 0} << qint16(3);
        QTest::newRow("arm's node gone under a write") << "unplug unannounced" << QList<int>{3} << qint16(3);
        // A command the arm does not take ends the run; the stop still goes out.
        QTest::newRow("write refused") << "refuse write" << QList<int>{3, 0} << qint16(3);
    }

    void changesDuringARun()
    {
        QFETCH(QString, change);
        QFETCH(QList<int>, codes);
        QFETCH(qint16, nextStep);

        QTemporaryDir dir;
        const QString loaded = dir.filePath(QStringLiteral("three.SRP"));
        writeFile(loaded, "\" 3\"\r\n" + Header + "\" 1\",\"GripOpen\",\" .01\"\r\n"
                          "\" 2\",\"GripClose\",\" .01\"\r\n\" 3\",\"BaseCW\",\" .01\"\r\n");
        Fixture f(true);
        frmMain &w = *f.w;
        f.dialogs.openAnswers << loaded;
        // Closing and an announced unplug end the run at once: step 1 lasts 12 s, which they cut short
        // (runToEnd gives up after 20 s). The other changes must reach the run before step 2: step 1's
        // write waits for them, so that they come during step 1 however busy the machine.
        const bool unplugged = change == QStringLiteral("unplug") || change == QStringLiteral("unplug, replug");
        const bool endsAtOnce = unplugged || change == QStringLiteral("close");
        std::unique_ptr<HeldFirstWrite> held;
        if (change == QStringLiteral("unplug unannounced")) {
            // The node goes while the write is under way; the run finds out at its next write.
            const QString path = f.h.arms.front()->armInterface()->info.path;
            held = std::make_unique<HeldFirstWrite>(f.h, [&f, path] { f.h.transport.unplugUnannounced(path); });
        } else if (!endsAtOnce) {
            held = std::make_unique<HeldFirstWrite>(f.h);
        }
        // The window ends the run for a refused code when its thread next handles events, which on a busy
        // machine may be after a short step: the refused step lasts until then.
        const bool refuse = change == QStringLiteral("refuse write");
        putScript(w, {{"ElbowUp", endsAtOnce ? " 12" : " .05"}, {"WristUp", refuse ? " 5" : " .01"}});
        ui::txtReps(w)->setText(QStringLiteral("3"));

        onCode(f.h, 1, [&] {
            if (change == QStringLiteral("clear"))
                QTest::mouseClick(ui::cmdClear(w), Qt::LeftButton);
            else if (change == QStringLiteral("load"))
                QTest::mouseClick(ui::cmdLoad(w), Qt::LeftButton);
            else if (change == QStringLiteral("close"))
                w.close();
            else if (unplugged)
                f.h.arms.front()->unplug();
            else if (refuse)
                f.h.arms.front()->armInterface()->failNextWrite();
            else if (change == QStringLiteral("reps"))
                ui::txtReps(w)->setText(QStringLiteral("1"));
            if (change.endsWith(QStringLiteral("replug")))
                f.h.arms.front()->plugIn();
            if (held)
                held->release(w.session());
        });
        QVERIFY(runToEnd(w));
        QVERIFY2(!held || held->kept(), "the change did not reach the run");
        QVERIFY(!w.session().running());
        QCOMPARE(f.h.codes(), codes);
        QCOMPARE(ui::NextStep(w), nextStep);
        QCOMPARE(f.dialogs.messages.contains(QStringLiteral("Error: ") + frmMain::DisconnectedDuringRunText),
                 change.startsWith(QStringLiteral("unplug")));
        const QString refused =
            frmMain::CommandFailedDuringRunText.arg(QStringLiteral("code 4 not written: write failed (simulated)"));
        QCOMPARE(f.dialogs.messages.contains(QStringLiteral("Error: ") + refused), refuse);
        QVERIFY(f.dialogs.messages.size() <= 1);
        if (change == QStringLiteral("close")) {
            QVERIFY(!f.h.arms.front()->armInterface()->isOpen());
            QVERIFY(!w.isVisible());
            f.h.destroyWindow();
            QCOMPARE(f.h.codes(), codes);
        } else {
            QVERIFY(idle(w));
        }
    }

    // The title's mark follows the undo stack: set by a change, gone once saved or loaded, and gone
    // again when Undo and Redo come back to the saved state. Clear asks nothing: Undo brings it back.
    void titleMarksUnsavedChanges()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kept.SRP"));
        Fixture f;
        frmMain &w = *f.w;
        QVERIFY(!w.isWindowModified());
        ui::optScripting(w)->SetValue(true);
        recordStep(f.h, 3, 10);
        QVERIFY(w.isWindowModified());
        QCOMPARE(w.windowTitle(), Untitled);

        f.dialogs.saveAnswers << path;
        QTest::mouseClick(ui::cmdSaveAs(w), Qt::LeftButton);
        QVERIFY(!w.isWindowModified());
        QCOMPARE(w.windowTitle(), titled(path));
        w.Editor().Undo();
        QVERIFY(w.isWindowModified());
        w.Editor().Redo();
        QVERIFY(!w.isWindowModified());

        QTest::mouseClick(ui::cmdClear(w), Qt::LeftButton);
        QVERIFY(w.isWindowModified());
        QCOMPARE(f.dialogs.asked, QStringList{"save " + firstFolder()});
        w.Editor().Undo();
        QVERIFY(!w.isWindowModified());

        f.dialogs.openAnswers << path;
        recordStep(f.h, 4, 2);
        f.dialogs.saveChoices << ScriptDialogs::SaveChoice::Discard;
        QTest::mouseClick(ui::cmdLoad(w), Qt::LeftButton);
        QCOMPARE(ui::NextStep(w), qint16(2));
        QVERIFY(!w.isWindowModified());
    }

    // Closing the window or loading over unsaved changes asks first: Save, Discard or Cancel.
    void questionBeforeWorkIsLost_data()
    {
        QTest::addColumn<QString>("action"); // close or load; "cleared" first clears the script
        QTest::addColumn<int>("answer");     // ScriptDialogs::SaveChoice
        QTest::addColumn<bool>("saveDialogAnswered");
        QTest::addColumn<QString>("asked");  // save? or discard? (no Save offered)
        QTest::addColumn<bool>("goesOn");
        QTest::addColumn<bool>("saved");
        using C = ScriptDialogs::SaveChoice;
        QTest::newRow("close, Cancel") << "close" << int(C::Cancel) << false << "save?" << false << false;
        QTest::newRow("close, Discard") << "close" << int(C::Discard) << false << "save?" << true << false;
        QTest::newRow("close, Save") << "close" << int(C::Save) << true << "save?" << true << true;
        QTest::newRow("close, Save cancelled") << "close" << int(C::Save) << false << "save?" << false << false;
        QTest::newRow("load, Cancel") << "load" << int(C::Cancel) << false << "save?" << false << false;
        QTest::newRow("load, Save") << "load" << int(C::Save) << true << "save?" << true << true;
        QTest::newRow("cleared, close, Cancel")
            << "cleared close" << int(C::Cancel) << false << "discard?" << false << false;
        QTest::newRow("cleared, load, Discard")
            << "cleared load" << int(C::Discard) << false << "discard?" << true << false;
    }
    void questionBeforeWorkIsLost()
    {
        QFETCH(QString, action);
        QFETCH(int, answer);
        QFETCH(bool, saveDialogAnswered);
        QFETCH(QString, asked);
        QFETCH(bool, goesOn);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        const QString saveTo = dir.filePath(QStringLiteral("saved.SRP"));
        const QString other = dir.filePath(QStringLiteral("other.SRP"));
        writeFile(other, WorkedExample);
        Fixture f;
        frmMain &w = *f.w;
        ui::optScripting(w)->SetValue(true);
        recordStep(f.h, 8, 6);
        if (action.startsWith(QLatin1String("cleared")))
            QTest::mouseClick(ui::cmdClear(w), Qt::LeftButton);
        const QStringList before = cells(w, 1, 2);
        f.dialogs.saveChoices << ScriptDialogs::SaveChoice(answer);
        if (saveDialogAnswered)
            f.dialogs.saveAnswers << saveTo;
        f.dialogs.openAnswers << other;

        if (action.endsWith(QLatin1String("close")))
            w.close();
        else
            QTest::mouseClick(ui::cmdLoad(w), Qt::LeftButton);
        QVERIFY(!f.dialogs.asked.isEmpty());
        QVERIFY2(f.dialogs.asked.first().startsWith(asked), qPrintable(f.dialogs.asked.first()));
        QCOMPARE(QFileInfo::exists(saveTo), saved);
        if (action.endsWith(QLatin1String("close"))) {
            QCOMPARE(w.isVisible(), !goesOn);
            QCOMPARE(w.Unloaded(), goesOn);
        } else {
            QCOMPARE(f.dialogs.asked.last().startsWith(QLatin1String("open ")), goesOn);
        }
        if (!goesOn)
            QCOMPARE(cells(w, 1, 2), before);
        if (saved)
            QCOMPARE(fileBytes(saveTo).count('\n'), 3);
    }

    // The file dialogs open where the last script was loaded or saved, also in the next run of the
    // program (the folder is kept in the options file beside the settings).
    void dialogsOpenInTheLastScriptFolder()
    {
        QTemporaryDir dir;
        const QString loadFrom = dir.filePath(QStringLiteral("loaded"));
        const QString saveTo = dir.filePath(QStringLiteral("saved"));
        QVERIFY(QDir().mkpath(loadFrom) && QDir().mkpath(saveTo));
        writeFile(loadFrom + QStringLiteral("/in.SRP"), WorkedExample);
        WindowHarness h;
        FakeDialogs dialogs;
        const auto nextRun = [&] {
            h.destroyWindow();
            h.open().SetScriptDialogs(&dialogs);
            return &h.window();
        };
        frmMain *w = nextRun();
        dialogs.openAnswers << loadFrom + QStringLiteral("/in.SRP");
        QTest::mouseClick(ui::cmdLoad(*w), Qt::LeftButton);
        QCOMPARE(ui::NextStep(*w), qint16(3));

        w = nextRun();
        dialogs.saveAnswers << saveTo + QStringLiteral("/out.SRP");
        putScript(*w, {{"Pause", " 1"}});
        QTest::mouseClick(ui::cmdSaveAs(*w), Qt::LeftButton);
        QVERIFY(QFileInfo::exists(saveTo + QStringLiteral("/out.SRP")));

        w = nextRun();
        QTest::mouseClick(ui::cmdLoad(*w), Qt::LeftButton);
        QCOMPARE(dialogs.asked, QStringList({"open " + firstFolder(), "save " + loadFrom + "/", "open " + saveTo + "/"}));
        // The run limit in the same file is kept.
        QCOMPARE(w->Options().runLimitPercent, ControlOptions::DefaultRunLimitPercent);
    }

    // The motion panel's tooltips stay over the panel: one lying over the toolbox took the next click
    // meant for a toolbox button, which then did nothing.
    void panelTooltipsLeaveTheToolboxFree()
    {
        WindowHarness h;
        QVERIFY(openActive(h, false));
        frmMain &w = h.window();
        const QRect panel(ui::FrameMain(w)->mapToGlobal(QPoint(0, 0)), ui::FrameMain(w)->size());
        const QRect toolbox(ui::FrameTB(w)->mapToGlobal(QPoint(0, 0)), ui::FrameTB(w)->size());
        for (QWidget *widget :
             {static_cast<QWidget *>(ui::FrameMain(w)), static_cast<QWidget *>(ui::cmdControl(w)[7])}) {
            // Where the pointer rests nearest the toolbox.
            const QPoint at = widget == ui::FrameMain(w)
                                  ? QPoint(ui::FrameMain(w)->width() - 10, ui::FrameTB(w)->y() - 20)
                                  : widget->rect().center();
            QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
            QApplication::sendEvent(widget, &help);
            QWidget *tip = nullptr;
            for (QWidget *top : QApplication::topLevelWidgets()) {
                if (top->inherits("QTipLabel") && top->isVisible())
                    tip = top;
            }
            QVERIFY(tip);
            QCOMPARE(tip->property("text").toString().simplified(), widget->toolTip().simplified());
            QVERIFY2(tip->geometry().right() <= panel.right() && !tip->geometry().intersects(toolbox),
                     qPrintable(QStringLiteral("%1,%2 %3x%4")
                                    .arg(tip->x()).arg(tip->y()).arg(tip->width()).arg(tip->height())));
            QToolTip::hideText();
        }
    }

    void saveAs()
    {
        QTemporaryDir dir;
        // A name typed without an extension is given the one the Load dialog's filter shows.
        const QString path = dir.filePath(QStringLiteral("arm script.SRP"));
        Fixture f;
        frmMain &w = *f.w;
        f.dialogs.saveAnswers << dir.filePath(QStringLiteral("arm script"));
        ui::optScripting(w)->SetValue(true);
        recordStep(f.h, 3, 10);
        recordStep(f.h, 0, 4);

        QTest::mouseClick(ui::cmdSaveAs(w), Qt::LeftButton);
        QCOMPARE(fileBytes(path), WorkedExample);
        QCOMPARE(w.Editor().FileName(), path);
        QCOMPARE(w.windowTitle(), titled(path));
        QVERIFY(f.dialogs.messages.isEmpty());

        // Save writes to the remembered file, without a dialog and without touching the title.
        ui::Grid(w)->SetTextMatrix(2, 2, QStringLiteral(" 1.5"));
        w.setWindowTitle(Untitled);
        QTest::mouseClick(ui::cmdSave(w), Qt::LeftButton);
        QCOMPARE(f.dialogs.asked.size(), 1);
        QCOMPARE(w.windowTitle(), Untitled);
        QCOMPARE(fileBytes(path), QByteArray(WorkedExample).replace("\" 1\"\r\n", "\" 1.5\"\r\n"));

        // One dialog object: the name chosen to save is offered to open; both show the script filter.
        QTest::mouseClick(ui::cmdLoad(w), Qt::LeftButton);
        QCOMPARE(f.dialogs.asked, QStringList({"save " + firstFolder(), "open " + path}));
        QCOMPARE(f.dialogs.filters, QStringList(2, QStringLiteral("Script Files (*.SRP);;All Files (*)")));

        // A name with an extension of its own is kept.
        const QString text = dir.filePath(QStringLiteral("arm.txt"));
        f.dialogs.saveAnswers << text;
        QTest::mouseClick(ui::cmdSaveAs(w), Qt::LeftButton);
        QCOMPARE(w.Editor().FileName(), text);
        QVERIFY(QFileInfo::exists(text));
    }

    void loadingFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint16>("nextStep");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("cells"); // rows 0.. as far as given, three cells each
        QTest::addColumn<bool>("titled");
        QTest::addColumn<QStringList>("warning"); // what a warning names besides the file; empty: none

        const QStringList header{"Step", "Function", "Time"};
        QByteArray twenty = "\" 20\"\r\n" + Header;
        for (int i = 1; i <= 20; ++i)
            twenty += QStringLiteral("\" %1\",\"BaseCW\",\" .5\"\r\n").arg(i).toLatin1();
        QTest::newRow("as saved")
            << WorkedExample << qint16(3) << 14
            << header + QStringList{" 1", "ElbowUp", " 2.5", " 2", "Pause", " 1", "", "", ""} << true << QStringList();
        QTest::newRow("twenty steps") << twenty << qint16(21) << 26 << header << true << QStringList();
        QTest::newRow("unquoted fields")
            << QByteArray("1\r\nStep,Function,Time\r\n 1,ElbowUp, 2.5\r\n") << qint16(2) << 14
            << header + QStringList{"1", "ElbowUp", "2.5"} << true << QStringList();
        QTest::newRow("UTF-8 byte-order mark")
            << "\xEF\xBB\xBF" + WorkedExample << qint16(3) << 14
            << header + QStringList{" 1", "ElbowUp", " 2.5", " 2", "Pause", " 1"} << true << QStringList();
        QTest::newRow("zero steps") << QByteArray("\" 0\"\r\n\"S\",\"F\",\"T\"\r\n\" 1\",\"x\",\" 1\"\r\n")
                                    << qint16(1) << 14 << QStringList{"S", "F", "T", "", "", ""} << true << QStringList();
        QTest::newRow("negative count") << "\"-3\"\r\n" + Header << qint16(1) << 14
                                        << header + QStringList{"", "", ""} << true << QStringList();
        QTest::newRow("fewer steps than announced")
            << "\" 3\"\r\n" + Header + "\" 1\",\"WristUp\",\" 1\"\r\n" << qint16(4) << 14
            << header + QStringList{" 1", "WristUp", " 1", "", "", ""} << false
            << QStringList{"announces 3 steps", "holds only 1"};
        QTest::newRow("count too large") << QByteArray("\" 40000\"\r\n") << qint16(1) << 14
                                         << header + QStringList{"", "", ""} << false
                                         << QStringList{"announces 40000 steps", "at most 32766"};
    }

    void loadingFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint16, nextStep);
        QFETCH(int, rows);
        QFETCH(QStringList, cells);
        QFETCH(bool, titled);
        QFETCH(QStringList, warning);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.SRP"));
        writeFile(path, bytes);
        Fixture f;
        frmMain &w = *f.w;
        f.dialogs.openAnswers << path;
        putScript(w, {{"ElbowUp", " 1"}, {"Pause", " 2"}});
        ui::optScripting(w)->SetValue(true);

        QTest::mouseClick(ui::cmdLoad(w), Qt::LeftButton);
        if (warning.isEmpty()) {
            QCOMPARE(f.dialogs.messages, QStringList());
        } else {
            // Once, naming the file.
            QCOMPARE(f.dialogs.messages.size(), 1);
            for (const QString &part : QStringList{"Script not loaded whole: " + path} + warning)
                QVERIFY2(f.dialogs.messages.first().contains(part), qPrintable(f.dialogs.messages.first()));
        }
        QCOMPARE(ui::NextStep(w), nextStep);
        QCOMPARE(ui::Grid(w)->Rows(), rows);
        QCOMPARE(::cells(w, 0, int(cells.size()) / 3 - 1), cells);
        QCOMPARE(w.Editor().FileName(), path);
        QCOMPARE(w.windowTitle(), titled ? ::titled(path) : Untitled);
        QVERIFY(ui::optInteractive(w)->Value());
    }

    void cancelsAndEmptySaves()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.SRP"));
        writeFile(path, WorkedExample);
        Fixture f;
        frmMain &w = *f.w;
        w.Editor().FileDialog().SetFileName(QStringLiteral("/offered.SRP"));

        // Save As refuses an empty script before any dialog.
        QTest::mouseClick(ui::cmdSaveAs(w), Qt::LeftButton);
        QCOMPARE(f.dialogs.messages, QStringList{"Error: Cannot save an empty script!"});
        QVERIFY(f.dialogs.asked.isEmpty());

        // Cancelled dialogs change nothing; Save without a file name asks through Save As.
        putScript(w, {{"ElbowUp", " 1"}});
        for (MacButtonD *button : {ui::cmdLoad(w), ui::cmdSaveAs(w), ui::cmdSave(w)})
            QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(f.dialogs.asked,
                 QStringList({"open /offered.SRP", "save /offered.SRP", "save /offered.SRP"}));
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(w.Editor().FileDialog().FileName(), QStringLiteral("/offered.SRP"));
        QVERIFY(w.Editor().FileName().isEmpty());
        QCOMPARE(w.windowTitle(), Untitled);
        QCOMPARE(ui::NextStep(w), qint16(2));
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 1), QStringLiteral("ElbowUp"));

        // Save over a remembered file does not refuse an empty script: it writes the count 0 and the header.
        QTest::mouseClick(ui::cmdClear(w), Qt::LeftButton);
        w.Editor().SetFileName(path);
        QTest::mouseClick(ui::cmdSave(w), Qt::LeftButton);
        QCOMPARE(fileBytes(path), "\" 0\"\r\n" + Header);
        QCOMPARE(f.dialogs.messages.size(), 1);
    }

    void failedLoadsAndSavesChangeNothing()
    {
        QTemporaryDir dir;
        const QString old = dir.filePath(QStringLiteral("old.SRP"));
        writeFile(old, WorkedExample);
        const QString missing = dir.filePath(QStringLiteral("missing.SRP"));
        // A folder can be neither read as a script nor written over.
        const QString folder = dir.filePath(QStringLiteral("a folder"));
        QVERIFY(QDir().mkpath(folder));
        // A text file of another kind: neither the grid nor the title may go for it.
        const QString notes = dir.filePath(QStringLiteral("notes.txt"));
        writeFile(notes, "Shopping list\r\n3 apples\r\n");
        Fixture f;
        frmMain &w = *f.w;
        f.dialogs.openAnswers << missing << folder << notes;
        f.dialogs.saveAnswers << folder << dir.filePath(QStringLiteral("no such folder/x.SRP"));
        putScript(w, {{"ElbowUp", " 1"}, {"Pause", " 2"}});
        ui::optScripting(w)->SetValue(true);
        w.Editor().SetFileName(old);
        w.setWindowTitle(titled(old));

        // Three loads, then two saves.
        for (int attempt = 0; attempt < 5; ++attempt) {
            f.dialogs.messages.clear();
            QTest::mouseClick(attempt < 3 ? ui::cmdLoad(w) : ui::cmdSaveAs(w), Qt::LeftButton);
            QCOMPARE(f.dialogs.messages.size(), 1);
            const QString &text = f.dialogs.messages[0];
            QVERIFY2(text.startsWith("Error: ") && text.size() > 7, qPrintable(text));
            if (attempt < 2)
                QVERIFY2(text.contains(attempt == 0 ? missing : folder), qPrintable(text));
            if (attempt == 2)
                QCOMPARE(text, "Error: notes.txt is not a Tessaro script (its first line is not a step count)");
            QCOMPARE(cells(w, 1, 2), QStringList({" 1", "ElbowUp", " 1", " 2", "Pause", " 2"}));
            QCOMPARE(ui::NextStep(w), qint16(3));
            QCOMPARE(w.Editor().FileName(), old);
            QCOMPARE(w.windowTitle(), titled(old));
            QVERIFY(ui::optScripting(w)->Value());
        }
        QCOMPARE(fileBytes(old), WorkedExample);

        // Save onto the remembered name failing says so too.
        w.Editor().SetFileName(folder);
        f.dialogs.messages.clear();
        QTest::mouseClick(ui::cmdSave(w), Qt::LeftButton);
        QCOMPARE(f.dialogs.messages.size(), 1);
        QVERIFY(QFileInfo(folder).isDir());
    }

    void filterTranslation_data()
    {
        QTest::addColumn<QString>("pipe");
        QTest::addColumn<QString>("qt");

        QTest::newRow("script filter") << ScriptEditor::ScriptFileFilter << "Script Files (*.SRP);;All Files (*)";
        QTest::newRow("globs added") << "Scripts|*.SRP;*.TXT" << "Scripts (*.SRP *.TXT)";
        QTest::newRow("every file, dot or not") << "Everything|*.*" << "Everything (*)";
        QTest::newRow("description with other globs") << "Scripts (*.SRP)|*.SRP;*.BAK"
                                                      << "Scripts (*.SRP) (*.SRP *.BAK)";
    }

    void filterTranslation()
    {
        QFETCH(QString, pipe);
        QFETCH(QString, qt);
        QCOMPARE(QtFileFilter(pipe), qt);
    }

    void widgetFileDialogs()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("not yet.SRP"));
        WidgetScriptDialogs dialogs;
        const QString filter = QtFileFilter(ScriptEditor::ScriptFileFilter);

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
        bool stayedOpen = false, confirms = false;
        QString offered;
        whenShown([&](QFileDialog *dialog) {
            offered = dialog->selectedFiles().value(0);
            confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(dir.filePath(QStringLiteral("no folder/x.SRP")));
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
};

QTEST_MAIN(tst_ScriptWindow)
#include "tst_scriptwindow.moc"
