#include "GridText.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "RunDisplay.h"
#include "ScriptDialogs.h"
#include "ScriptGrid.h"
#include "ScriptModel.h"
#include "HoverButton.h"
#include "ScriptRunner.h"
#include "WindowHarness.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QTemporaryDir>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>
#include <functional>

namespace {

using Steps = QList<QPair<QString, QString>>; // (function, time) per step

class FakeDialogs : public ScriptDialogs
{
public:
    QStringList openAnswers, saveAnswers, messages;
    SaveChoice askToSave(QWidget *, const QString &, bool) override { return SaveChoice::Discard; }
    QString openFileName(QWidget *, const QString &, const QString &) override
    {
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget *, const QString &, const QString &) override
    {
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
};

void putScript(frmMain &w, const Steps &steps)
{
    for (int i = 0; i < steps.size(); ++i) {
        ui::Grid(w)->SetTextMatrix(i + 1, 0, QStringLiteral(" %1").arg(i + 1));
        ui::Grid(w)->SetTextMatrix(i + 1, 1, steps[i].first);
        ui::Grid(w)->SetTextMatrix(i + 1, 2, steps[i].second);
    }
    ui::Script(w)->setNextStep(qint16(steps.size() + 1));
}

// The functions of the script's steps, then the grid's row count, file name and title: what an undo
// has to put back.
QStringList state(const frmMain &w)
{
    QStringList texts;
    for (int row = 1; row < ui::NextStep(w); ++row)
        texts << ui::Grid(w)->TextMatrix(row, 0) + QLatin1Char('|') + ui::Grid(w)->TextMatrix(row, 1) +
                     QLatin1Char('|') + ui::Grid(w)->TextMatrix(row, 2);
    texts << QStringLiteral("rows %1").arg(ui::Grid(w)->Rows()) << w.Editor().FileName() << w.windowTitle();
    return texts;
}

QStringList functions(const frmMain &w)
{
    QStringList names;
    for (int row = 1; row < ui::NextStep(w); ++row)
        names << ui::Grid(w)->TextMatrix(row, 1);
    return names;
}

QRect cellRect(const frmMain &w, int row, int col)
{
    return ui::Grid(w)->visualRect(ui::Grid(w)->model()->index(row - 1, col));
}

// Right click on `row` and pick the entry that starts with `entry` from the menu that shows.
bool chooseFromMenu(frmMain &w, int row, const QString &entry)
{
    const QPoint at = cellRect(w, row, 1).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, ui::Grid(w)->viewport()->mapToGlobal(at));
    QApplication::sendEvent(ui::Grid(w)->viewport(), &event);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
        return false;
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text().startsWith(entry))
            chosen = action;
    }
    // Hidden, not closed: the menu goes only once the event loop has it back.
    menu->hide();
    if (!chosen || !chosen->isEnabled())
        return false;
    chosen->trigger();
    return true;
}

// Shortcut keys as the window gets them with the grid focused (a text box would keep Ctrl+Z).
void keys(frmMain &w, const QKeySequence &sequence)
{
    ui::Grid(w)->setFocus();
    QTest::keySequence(&w, sequence);
}

bool activate(frmMain &w)
{
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

const Steps Three{{"ElbowUp", " 1"}, {"Pause", " .5"}, {"BaseCW", " 2"}};

} // namespace

class TestStepEditing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void editsFromKeysAndMenuUndoAndRedo_data()
    {
        QTest::addColumn<QString>("way"); // a key sequence, or "menu:" and the entry's start
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("currentAfter");

        QTest::newRow("Insert key") << "Ins" << 2 << QStringList{"ElbowUp", "Pause", "Pause", "BaseCW"} << 2;
        QTest::newRow("Insert below the script appends")
            << "Ins" << 6 << QStringList{"ElbowUp", "Pause", "BaseCW", "Pause"} << 4;
        QTest::newRow("Delete key") << "Del" << 1 << QStringList{"Pause", "BaseCW"} << 1;
        QTest::newRow("Ctrl+Up") << "Ctrl+Up" << 3 << QStringList{"ElbowUp", "BaseCW", "Pause"} << 2;
        QTest::newRow("Ctrl+Down") << "Ctrl+Down" << 1 << QStringList{"Pause", "ElbowUp", "BaseCW"} << 2;
        QTest::newRow("menu insert") << "menu:Insert" << 1
                                     << QStringList{"Pause", "ElbowUp", "Pause", "BaseCW"} << 1;
        QTest::newRow("menu duplicate")
            << "menu:Duplicate" << 3 << QStringList{"ElbowUp", "Pause", "BaseCW", "BaseCW"} << 4;
        QTest::newRow("menu delete") << "menu:Delete" << 3 << QStringList{"ElbowUp", "Pause"} << 2;
        QTest::newRow("menu move up")
            << "menu:Move up" << 2 << QStringList{"Pause", "ElbowUp", "BaseCW"} << 1;
        QTest::newRow("menu move down")
            << "menu:Move down" << 2 << QStringList{"ElbowUp", "BaseCW", "Pause"} << 3;
        QTest::newRow("menu return path")
            << "menu:Append return path" << 1
            << QStringList{"ElbowUp", "Pause", "BaseCW", "BaseCCW", "Pause", "ElbowDown"} << 4;
    }
    void editsFromKeysAndMenuUndoAndRedo()
    {
        QFETCH(QString, way);
        QFETCH(int, row);
        QFETCH(QStringList, after);

        WindowHarness h;
        frmMain &w = h.open();
        QVERIFY(activate(w));
        putScript(w, Three);
        const QStringList before = state(w);
        ui::Grid(w)->SetRow(row);
        ui::Grid(w)->SetCol(2);
        ui::Grid(w)->setFocus();
        if (way.startsWith(QLatin1String("menu:")))
            QVERIFY(chooseFromMenu(w, row, way.mid(5)));
        else
            QTest::keySequence(ui::Grid(w), QKeySequence(way));
        // An inserted step is ready to edit: its Function cell is open in the editor.
        const bool inserted = way.endsWith(QLatin1String("Ins")) || way.endsWith(QLatin1String("Insert"));
        QCOMPARE(ui::GridText(w)->isVisible(), inserted);
        if (inserted) {
            QCOMPARE(ui::GridText(w)->text(), QStringLiteral("Pause"));
            QCOMPARE(ui::Grid(w)->Col(), 1);
        }
        ui::GridText(w)->hide();
        QCOMPARE(functions(w), after);
        QTEST(ui::Grid(w)->Row(), "currentAfter");
        // Step numbers run from 1 whatever moved.
        for (int r = 1; r < ui::NextStep(w); ++r)
            QCOMPARE(ui::Grid(w)->TextMatrix(r, 0), QStringLiteral(" %1").arg(r));
        QVERIFY(ui::Grid(w)->Rows() > ui::NextStep(w));
        const QStringList changed = state(w);

        keys(w, QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(state(w), before);
        keys(w, QKeySequence(Qt::CTRL | Qt::Key_Y));
        QCOMPARE(state(w), changed);
        keys(w, QKeySequence(Qt::CTRL | Qt::Key_Z));
        keys(w, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
        QCOMPARE(state(w), changed);
    }

    void everyScriptChangeIsUndone_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("function edit") << "function";
        QTest::newRow("time edit") << "time";
        QTest::newRow("recorded step") << "record";
        QTest::newRow("recorded step on a new row") << "record long";
        QTest::newRow("clear") << "clear";
        QTest::newRow("load") << "load";
        QTest::newRow("load of a file that ends early") << "load short";
    }
    void everyScriptChangeIsUndone()
    {
        QFETCH(QString, change);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("two.SRP"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(change == QLatin1String("load short")
                      ? "\" 5\"\r\n\"S\",\"F\",\"T\"\r\n\" 1\",\"GripOpen\",\" 1\"\r\n"
                      : "\" 2\"\r\n\"S\",\"F\",\"T\"\r\n\" 1\",\"GripOpen\",\" "
                        "1\"\r\n\" 2\",\"Pause\",\" 2\"\r\n");
        out.close();

        WindowHarness h;
        frmMain &w = h.open();
        QVERIFY(activate(w));
        FakeDialogs dialogs;
        dialogs.openAnswers << file;
        w.SetScriptDialogs(&dialogs);
        QVERIFY(activate(w));
        putScript(w, change == QLatin1String("record long") ? Steps(13, {"WristUp", " 1"}) : Three);
        w.Editor().SetFileName(QStringLiteral("/kept.SRP"));
        w.setWindowTitle(QStringLiteral("Tessaro (/kept.SRP)"));
        const QStringList before = state(w) << ui::Grid(w)->TextMatrix(0, 1);

        if (change == QLatin1String("function") || change == QLatin1String("time")) {
            const int col = change == QLatin1String("function") ? 1 : 2;
            QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, 2, col).center());
            QTest::keyClicks(ui::GridText(w), col == 1 ? "gripclose" : "7");
            QTest::keyClick(ui::GridText(w), Qt::Key_Return);
        } else if (change.startsWith(QLatin1String("record"))) {
            ui::optScripting(w)->SetValue(true);
            h.click(4);
            QMetaObject::invokeMethod(w.session().stepTimer(), "timeout");
            // While the step is being recorded nothing is undone.
            keys(w, QKeySequence(Qt::CTRL | Qt::Key_Z));
            QCOMPARE(ui::Grid(w)->TextMatrix(ui::NextStep(w), 1), QStringLiteral("WristUp"));
            h.click(4);
        } else if (change == QLatin1String("clear")) {
            QTest::mouseClick(ui::cmdClear(w), Qt::LeftButton);
        } else {
            QTest::mouseClick(ui::cmdLoad(w), Qt::LeftButton);
        }
        const QStringList changed = state(w) << ui::Grid(w)->TextMatrix(0, 1);
        QVERIFY(changed != before);
        QCOMPARE(w.Editor().UndoStack()->count(), 1);

        keys(w, QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(state(w) << ui::Grid(w)->TextMatrix(0, 1), before);
        keys(w, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
        QCOMPARE(state(w) << ui::Grid(w)->TextMatrix(0, 1), changed);
    }

    void editsRefusedWhileRunningOrEditing()
    {
        WindowHarness h;
        h.addArm();
        frmMain &w = h.open();
        QVERIFY(activate(w));
        putScript(w, {{"ElbowUp", " 1"}, {"Pause", " .05"}});
        ui::Grid(w)->SetRow(1);
        ui::Grid(w)->SetCol(1);
        QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, 1, 1).center());
        QVERIFY(ui::GridText(w)->isVisible());
        // Keys typed into the cell editor stay there.
        ui::Grid(w)->setFocus();
        QTest::keyClick(ui::Grid(w), Qt::Key_Delete);
        QCOMPARE(ui::NextStep(w), qint16(3));
        ui::GridText(w)->hide();

        // During a run: no key, menu entry or undo changes the script; the menu still offers nothing
        // but what a run allows.
        ui::txtReps(w)->setText(QStringLiteral("1"));
        QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, 1, 2).center());
        QTest::keyClicks(ui::GridText(w), "3");
        QTest::keyClick(ui::GridText(w), Qt::Key_Return);
        QCOMPARE(w.Editor().UndoStack()->count(), 1);
        QStringList enabledInRun;
        QTimer::singleShot(0, &w, [&] {
            ui::Grid(w)->setFocus();
            for (const QKeySequence &key : {QKeySequence(Qt::Key_Insert), QKeySequence(Qt::Key_Delete),
                                            QKeySequence(Qt::CTRL | Qt::Key_Down)})
                QTest::keySequence(ui::Grid(w), key);
            keys(w, QKeySequence(Qt::CTRL | Qt::Key_Z));
            std::unique_ptr<QMenu> menu(w.Editor().StepMenu(1));
            for (QAction *action : menu->actions()) {
                if (action->isEnabled() && !action->isSeparator())
                    enabledInRun << action->text();
            }
            w.session().stopRun();
        });
        QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        QVERIFY(enabledInRun.isEmpty());
        QCOMPARE(functions(w), QStringList({"ElbowUp", "Pause"}));
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 2), QStringLiteral(" 3"));
    }

    void runFromHere()
    {
        WindowHarness h;
        h.addArm();
        frmMain &w = h.open();
        putScript(w, {{"ElbowUp", " .01"}, {"WristUp", " .01"}, {"GripOpen", " .01"}});
        ui::txtReps(w)->setText(QStringLiteral("2"));
        QVERIFY(chooseFromMenu(w, 2, QStringLiteral("Run from here")));
        QCOMPARE(h.codes(), QList<int>({4, 10, 3, 4, 10, 0}));
        // The next Run starts at step 1 again.
        ui::txtReps(w)->setText(QStringLiteral("1"));
        QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        QCOMPARE(h.codes().mid(6), QList<int>({3, 4, 10, 0}));
    }

    void totalsFollowTheScript()
    {
        WindowHarness h;
        frmMain &w = h.open();
        QCOMPARE(w.Editor().TotalsLine(), QStringLiteral("Total 0 s"));
        putScript(w, {{"ElbowUp", " 2.5"}, {"Pause", " 1"}, {"ElbowUp", " .25"}, {"BaseCW", " 1"}});
        QCOMPARE(w.Editor().TotalsLine(),
                 QStringLiteral("Total 4.75 s \u00b7 ElbowUp 2.75 s \u00b7 Pause 1 s \u00b7 BaseCW 1 s"));
        // The line shows as much as fits; the tooltips of the line and the header have all of it.
        QTRY_VERIFY(
            ui::lblTotals(w)->text().startsWith(QStringLiteral("Total 4.75 s \u00b7 ElbowUp 2.75 s")));
        const QString tip = ui::lblTotals(w)->toolTip();
        // Cut short, the line ends in "…" and its tooltip starts with the whole of it.
        QVERIFY(ui::lblTotals(w)->text().endsWith(QChar(0x2026)) &&
                tip.startsWith("Total 4.75 s\nElbowUp 2.75 s\n"));
        QVERIFY2(tip.contains(QStringLiteral("Elbow: Up 2.75 s, Down 0 s")), qPrintable(tip));
        QVERIFY2(tip.contains(QStringLiteral("Base: CCW 0 s, CW 1 s")), qPrintable(tip));
        QVERIFY2(tip.contains(QStringLiteral("Pause: 1 s")), qPrintable(tip));
        QVERIFY(tip.endsWith(ui::Grid(w)->horizontalHeader()->viewport()->toolTip()));
        QVERIFY(ui::pctFrame(w)->rect().contains(ui::lblTotals(w)->geometry()));
        QVERIFY(!ui::lblTotals(w)->geometry().intersects(ui::Grid(w)->geometry()));

        w.Editor().DeleteStep(1);
        QCOMPARE(w.Editor().TotalsLine(),
                 QStringLiteral("Total 2.25 s \u00b7 Pause 1 s \u00b7 ElbowUp 0.25 s \u00b7 BaseCW 1 s"));
        QTRY_VERIFY(ui::lblTotals(w)->text().startsWith(QStringLiteral("Total 2.25 s")));
    }

    void functionNamesOffered()
    {
        WindowHarness h;
        frmMain &w = h.open();
        QVERIFY(activate(w));
        putScript(w, Three);
        QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, 1, 1).center());
        QAbstractItemView *offers = ui::GridText(w)->completer()->popup();
        QTest::keyClicks(ui::GridText(w), "sh");
        QTRY_VERIFY(offers->isVisible());
        QStringList offered;
        for (int i = 0; i < offers->model()->rowCount(); ++i)
            offered << offers->model()->index(i, 0).data().toString();
        QCOMPARE(offered, QStringList({"ShoulderUp", "ShoulderDown"}));
        // Escape closes the list and keeps the edit; picking an offer and Enter stores it.
        QTest::keyClick(offers, Qt::Key_Escape);
        QVERIFY(!offers->isVisible());
        QVERIFY(ui::GridText(w)->isVisible());
        QTest::keyClicks(ui::GridText(w), "o");
        QTRY_VERIFY(offers->isVisible());
        QTest::keyClick(offers, Qt::Key_Down);
        QTest::keyClick(offers, Qt::Key_Down);
        QTest::keyClick(offers, Qt::Key_Return);
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 1), QStringLiteral("ShoulderDown"));
        QVERIFY(!ui::GridText(w)->isVisible());
        QVERIFY(!offers->isVisible());
        // A whole name is not offered again, and the Time column offers nothing.
        QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, 2, 1).center());
        QTest::keyClicks(ui::GridText(w), "gripopen");
        QVERIFY(!offers->isVisible());
        QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, 2, 2).center());
        QCOMPARE(ui::Grid(w)->TextMatrix(2, 1), QStringLiteral("GripOpen"));
        QTest::keyClicks(ui::GridText(w), "1.5");
        QVERIFY(!offers->isVisible());
    }

    // The step the operator points at is the one the keys act on: a click on its number makes it
    // current, and the current step is framed in the grid.
    void clickOnAStepNumber()
    {
        WindowHarness h;
        frmMain &w = h.open();
        QVERIFY(activate(w));
        ui::optScripting(w)->SetValue(true);
        for (int code : {3, 8}) {
            h.click(code);
            QMetaObject::invokeMethod(w.session().stepTimer(), "timeout");
            h.click(code);
        }
        QCOMPARE(functions(w), QStringList({"ElbowUp", "ElbowDown"}));
        QCOMPARE(ui::Grid(w)->Row(), 2);
        QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, 1, 0).center());
        QCOMPARE(ui::Grid(w)->Row(), 1);
        QVERIFY(!ui::GridText(w)->isVisible());
        const QImage shot = ui::Grid(w)->viewport()->grab().toImage();
        const auto framed = [&](int row) {
            const QRect cell = cellRect(w, row, 1);
            return shot.pixelColor(cell.center().x(), cell.top()) == ScriptGrid::currentFrameColour();
        };
        QVERIFY(framed(1));
        QVERIFY(!framed(2));
        QTest::keyClick(ui::Grid(w), Qt::Key_Escape);
        QTest::keyClick(ui::Grid(w), Qt::Key_Delete);
        QCOMPARE(functions(w), QStringList({"ElbowDown"}));
    }

    // A whole script put in (Load, and Undo or Redo of Clear or Load) is shown from its first step.
    void wholeScriptsShownFromTheirFirstStep()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("long.SRP"));
        QByteArray bytes = "\" 40\"\r\n\"Step\",\"Function\",\"Time\"\r\n";
        for (int step = 1; step <= 40; ++step)
            bytes += "\" " + QByteArray::number(step) + "\",\"WristUp\",\" 1\"\r\n";
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        out.close();

        WindowHarness h;
        frmMain &w = h.open();
        QVERIFY(activate(w));
        FakeDialogs dialogs;
        dialogs.openAnswers << file;
        w.SetScriptDialogs(&dialogs);
        ui::Grid(w)->SetRows(32);
        putScript(w, Steps(30, {"BaseCW", " 1"}));
        const auto scrolledDown = [&w] {
            ui::Grid(w)->SetRow(28);
            ui::Grid(w)->SetTopRow(25);
        };
        const auto shownFromStepOne = [&w] {
            QCoreApplication::processEvents();
            return ui::Grid(w)->TopRow() == 1 && ui::Grid(w)->Row() == 1;
        };
        const std::function<void()> changes[] = {
            [&] { QTest::mouseClick(ui::cmdLoad(w), Qt::LeftButton); },
            [&] { w.Editor().Undo(); },
            [&] { w.Editor().Redo(); },
            [&] { QTest::mouseClick(ui::cmdClear(w), Qt::LeftButton); },
            [&] { w.Editor().Undo(); },
            [&] { w.Editor().Redo(); },
            [&] { w.Editor().Undo(); },
        };
        for (const auto &change : changes) {
            // A cleared script has no rows to scroll.
            if (ui::NextStep(w) > 1) {
                scrolledDown();
                QVERIFY(ui::Grid(w)->TopRow() > 1);
            }
            change();
            QVERIFY(shownFromStepOne());
        }
        QCOMPARE(ui::NextStep(w), qint16(41));
    }

    // While a step is being recorded nothing is edited, and the window says why; a step left behind by
    // a change of mode holds nothing up.
    void recordingLocksEditingOnlyWhileItLasts()
    {
        WindowHarness h;
        frmMain &w = h.open();
        QVERIFY(activate(w));
        putScript(w, Three);
        ui::optScripting(w)->SetValue(true);
        h.click(4);
        QVERIFY(w.Editor().RecordingStep());
        ui::Grid(w)->setFocus();
        QTest::keyClick(ui::Grid(w), Qt::Key_Delete);
        QCOMPARE(ui::lblDisp(w)->text(), frmMain::RecordingLockText);
        QTest::mouseClick(ui::Grid(w)->viewport(), Qt::LeftButton, {}, cellRect(w, 1, 2).center());
        QVERIFY(!ui::GridText(w)->isVisible());
        QCOMPARE(functions(w), QStringList({"ElbowUp", "Pause", "BaseCW"}));

        // The mode changes while the motion runs, then the motion stops: the step is never ended.
        ui::optInteractive(w)->SetValue(true);
        h.click(4);
        QVERIFY(!w.Editor().RecordingStep());
        ui::Grid(w)->SetRow(1);
        QTest::keyClick(ui::Grid(w), Qt::Key_Delete);
        QCOMPARE(functions(w), QStringList({"Pause", "BaseCW"}));
        keys(w, QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(functions(w), QStringList({"ElbowUp", "Pause", "BaseCW"}));

        // Left behind with its motion still on, the step is given up by an edit: ending it in Scripting
        // mode afterwards records nothing into the row the edit used.
        ui::optScripting(w)->SetValue(true);
        h.click(5);
        ui::optInteractive(w)->SetValue(true);
        w.Editor().InsertStep(4);
        ui::GridText(w)->hide();
        ui::optScripting(w)->SetValue(true);
        h.click(5);
        QCOMPARE(functions(w), QStringList({"ElbowUp", "Pause", "BaseCW", "Pause"}));
        QCOMPARE(ui::Grid(w)->TextMatrix(4, 2), QStringLiteral(" 0"));
    }

    // The line under the grid gives one pass and the whole run, in m:ss from a minute.
    void totalsGiveTheWholeRun_data()
    {
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<QString>("reps");
        QTest::addColumn<QString>("total");
        QTest::newRow("three passes")
            << QStringList{" 10", " 2.5"} << "3" << QStringLiteral("Total 12.5 s \u00d7 3 = 37.5 s");
        QTest::newRow("minutes") << QStringList{" 65"} << "2" << QStringLiteral("Total 1:05 \u00d7 2 = 2:10");
        QTest::newRow("repetitions being typed") << QStringList{" 1"} << "" << QStringLiteral("Total 1 s");
    }
    void totalsGiveTheWholeRun()
    {
        QFETCH(QStringList, times);
        QFETCH(QString, reps);
        QFETCH(QString, total);
        WindowHarness h;
        frmMain &w = h.open();
        Steps steps;
        for (const QString &time : times)
            steps.append({QStringLiteral("ElbowUp"), time});
        putScript(w, steps);
        ui::txtReps(w)->setText(reps);
        const QString line = w.Editor().TotalsLine();
        QVERIFY2(line == total || line.startsWith(total + QStringLiteral(" \u00b7")), qPrintable(line));
        QTRY_VERIFY2(ui::lblTotals(w)->text().startsWith(total.left(12)),
                     qPrintable(ui::lblTotals(w)->text()));
    }

    // While a run lasts the window shows its repetition, step and time left; when it ends, how.
    void runShowsWhereItStands_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("status");
        QTest::newRow("finished") << false << QStringLiteral("Run finished: 3 repetitions, ");
        QTest::newRow("stopped") << true << QStringLiteral("Run stopped at step 2 of repetition 2");
    }
    void runShowsWhereItStands()
    {
        QFETCH(bool, stop);
        QFETCH(QString, status);
        WindowHarness h;
        h.addArm();
        frmMain &w = h.open();
        putScript(w, {{"ElbowUp", " .15"}, {"WristUp", " .15"}});
        ui::txtReps(w)->setText(QStringLiteral("3"));
        QStringList shown;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, &w, [&] {
            const RunDisplay &display = w.runDisplay();
            if (!display.isVisible())
                return;
            shown << display.text();
            // Stopped from the window's thread once the second repetition is on its second step.
            if (stop && display.progress().repetition() == 2 && display.progress().step() == 2)
                QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        });
        poll.start();
        QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        poll.stop();
        QVERIFY(!w.runDisplay().isVisible());
        QVERIFY2(!shown.isEmpty(), "the progress was never shown");
        QVERIFY2(shown.first().startsWith(QStringLiteral("1 of 3")), qPrintable(shown.first()));
        QVERIFY2(std::any_of(shown.begin(), shown.end(),
                             [](const QString &t) { return t.startsWith("2 of 3 \u00b7 Step 2 of 2"); }),
                 qPrintable(shown.join(QLatin1Char('|'))));
        QVERIFY2(ui::lblDisp(w)->text().startsWith(status), qPrintable(ui::lblDisp(w)->text()));
        // The status line gives the connection state back after a while.
        QTRY_COMPARE_WITH_TIMEOUT(ui::lblDisp(w)->text(), frmMain::ReadyText, 6000);
    }

    // Return to start is a run as the operator sees it: panel locked, Run reading Stop, the progress
    // line naming it, Esc stopping it, its ending told; a run's ending comes before its cut steps.
    void returnToStartIsARun_data()
    {
        QTest::addColumn<bool>("esc");
        QTest::addColumn<QString>("told");
        QTest::newRow("to the end") << false << "Back at the start pose (estimated)";
        QTest::newRow("Esc") << true << "Return to start stopped at step 1 of 1";
    }
    void returnToStartIsARun()
    {
        WindowHarness h;
        h.addArm();
        frmMain &w = h.open();
        QVERIFY(activate(w));
        keys(w, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
        h.click(3);
        QTest::qWait(400);
        h.click(3);
        QCOMPARE(ui::cmdControl(w)[3]->bordercolor(), frmMain::IdleBorderColor);
        const qsizetype sent = h.codes().size();
        QStringList during;
        QTimer::singleShot(150, &w, [&] {
            h.click(4);
            during << ui::cmdRun(w)->Caption()
                   << w.runDisplay().text().section(QStringLiteral(" \u00b7 "), 0, 1);
            if (QTest::currentDataTag() == QLatin1String("Esc"))
                QTest::keyClick(ui::Grid(w), Qt::Key_Escape);
        });
        keys(w, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
        QCOMPARE(during, QStringList({"Stop", "Returning to start \u00b7 Step 1 of 1"}));
        // Elbow Down back, then the stop; the click on Wrist Up sent nothing and lit nothing.
        QCOMPARE(h.codes().mid(sent), QList<int>({8, 0}));
        QCOMPARE(ui::cmdRun(w)->Caption(), QStringLiteral("Run"));
        QCOMPARE(ui::cmdControl(w)[4]->backcolor(), frmMain::IdleBackColor);
        QTEST(ui::lblDisp(w)->text(), "told");

        // The gripper known at its open end (as the calibration's key leaves it): a step opening it is
        // cut at once.
        w.session().markAtEnd(10);
        putScript(w, {{"GripOpen", " .3"}, {"WristUp", " .2"}});
        QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
        const QStringList told = ui::lblDisp(w)->toolTip().split(QLatin1Char('\n'));
        QVERIFY2(told.value(0).startsWith("Run finished: 1 repetition, 0.") &&
                     told.value(0).endsWith(" s; 1 step cut short at an end"), qPrintable(told.value(0)));
        QCOMPARE(told.value(1), "Step 1 (GripOpen) of repetition 1 cut short: Gripper at its open end (estimated)");
    }

    // Undo and Redo work wherever the keyboard is in the window (after Save As from the toolbox, say),
    // except in a text field, which keeps them for its text.
    void undoFromAnywhere()
    {
        QTemporaryDir dir;
        WindowHarness h;
        frmMain &w = h.open();
        FakeDialogs dialogs;
        w.SetScriptDialogs(&dialogs);
        QVERIFY(activate(w));
        putScript(w, Three);
        w.Editor().DeleteStep(2);
        dialogs.saveAnswers << dir.filePath(QStringLiteral("undo.SRP"));
        QTest::mouseClick(ui::cmdSaveAs(w), Qt::LeftButton);
        for (QWidget *holder : {static_cast<QWidget *>(ui::Grid(w)), static_cast<QWidget *>(ui::FrameMain(w)),
                                static_cast<QWidget *>(ui::txtReps(w)), static_cast<QWidget *>(nullptr)}) {
            holder ? holder->setFocus() : QApplication::focusWidget()->clearFocus();
            QTest::keySequence(w.windowHandle(), QKeySequence(Qt::CTRL | Qt::Key_Z));
            QCOMPARE(functions(w).size(), holder == ui::txtReps(w) ? 2 : 3);
            QTest::keySequence(w.windowHandle(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
            QCOMPARE(functions(w).size(), 2);
        }
    }

    // What a new operator reads off the window: the Recording badge in Scripting mode, what Undo and
    // Redo would do, and Ctrl+S and Ctrl+O doing what Save and Load do.
    void modeAndKeysAreShown()
    {
        QTemporaryDir dir;
        WindowHarness h;
        frmMain &w = h.open();
        QVERIFY(activate(w));
        FakeDialogs dialogs;
        w.SetScriptDialogs(&dialogs);
        const auto badgeShown = [&w] {
            const auto badges = ui::FrameMain(w)->findChildren<QLabel *>();
            return std::any_of(badges.begin(), badges.end(), [](QLabel *l) {
                return l->accessibleName() == QStringLiteral("Recording") && l->isVisible();
            });
        };
        QVERIFY(!badgeShown());
        ui::optScripting(w)->SetValue(true);
        QVERIFY(badgeShown());
        ui::optInteractive(w)->SetValue(true);
        QVERIFY(!badgeShown());

        putScript(w, Three);
        w.Editor().DeleteStep(2);
        const auto entries = [&w] {
            std::unique_ptr<QMenu> menu(w.Editor().StepMenu(1));
            QStringList texts;
            for (QAction *action : menu->actions())
                if (action->text().startsWith(QStringLiteral("Undo")) ||
                    action->text().startsWith(QStringLiteral("Redo")))
                    texts << action->text();
            return texts;
        };
        QCOMPARE(entries(), QStringList({"Undo Delete step\tCtrl+Z", "Redo\tCtrl+Y"}));
        w.Editor().Undo();
        QCOMPARE(entries(), QStringList({"Undo\tCtrl+Z", "Redo Delete step\tCtrl+Y"}));

        const QString file = dir.filePath(QStringLiteral("keys.SRP"));
        dialogs.saveAnswers << file;
        keys(w, QKeySequence(Qt::CTRL | Qt::Key_S));
        QVERIFY(QFile::exists(file));
        QCOMPARE(w.Editor().FileName(), file);
        w.Editor().DeleteStep(1);
        dialogs.openAnswers << file;
        keys(w, QKeySequence(Qt::CTRL | Qt::Key_O));
        QCOMPARE(functions(w), QStringList({"ElbowUp", "Pause", "BaseCW"}));
        QVERIFY(dialogs.openAnswers.isEmpty());

        // A closed Virtual Arm window comes back with its key, and from the arm picture's menu.
        QWidget armWindow;
        w.SetVirtualArmWindow(&armWindow);
        QVERIFY(activate(w));
        keys(w, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
        QTRY_VERIFY(armWindow.isVisible());
        armWindow.close();
        QCOMPARE(ui::FrameMain(w)->contextMenuPolicy(), Qt::ActionsContextMenu);
        const QList<QAction *> pictureMenu = ui::FrameMain(w)->actions();
        const auto named = [&pictureMenu](const char *text) -> QAction * {
            for (QAction *action : pictureMenu) {
                if (action->text() == QLatin1String(text))
                    return action;
            }
            return nullptr;
        };
        QVERIFY(named("Show the Virtual Arm window"));
        named("Show the Virtual Arm window")->trigger();
        QVERIFY(armWindow.isVisible());

        // The pose commands are in the same menu: Return to start says why it does nothing (no arm
        // here), the start pose makes every joint known from the start, as the lines in the picture's
        // corner say, and Forget the pose forgets it again.
        const auto *poseLine = ui::FrameMain(w)->findChild<QLabel *>(QStringLiteral("poseStatus"));
        QVERIFY(poseLine);
        QCOMPARE(poseLine->text(), QStringLiteral("Pose unknown"));
        QVERIFY(named("Return to start"));
        named("Return to start")->trigger();
        QCOMPARE(ui::lblDisp(w)->text(), QStringLiteral("No arm to return to its start pose"));
        QVERIFY(named("This is the start pose"));
        named("This is the start pose")->trigger();
        QVERIFY2(poseLine->text().startsWith(QStringLiteral("Base \u00B10\u00B0 from start\n")),
                 qPrintable(poseLine->text()));
        QVERIFY2(poseLine->toolTip().startsWith(QStringLiteral("Base: known from the start \u00B1 0\u00B0\n")),
                 qPrintable(poseLine->toolTip()));
        QVERIFY(named("Forget the pose"));
        named("Forget the pose")->trigger();
        QCOMPARE(poseLine->text(), QStringLiteral("Pose unknown"));
    }

    // Append return path on a script too long for it says why instead of doing nothing.
    void returnPathBeyondTheLimitSaysWhy()
    {
        WindowHarness h;
        frmMain &w = h.open();
        FakeDialogs dialogs;
        w.SetScriptDialogs(&dialogs);
        ScriptModel::Snapshot full = ui::Script(w)->snapshot();
        full.rows = QList<ScriptRow>(
            20000, ScriptRow{QStringLiteral(" 1"), QStringLiteral("ElbowUp"), QStringLiteral(" 1")});
        full.nextStep = 20001;
        ui::Script(w)->restore(full);
        QVERIFY(chooseFromMenu(w, 1, QStringLiteral("Append return path")));
        QCOMPARE(ui::NextStep(w), qint16(20001));
        QCOMPARE(dialogs.messages,
                 QStringList{"Error: The return path was not appended: it takes 20000 steps, and the script "
                             "has room for 12766 more (a script holds at most 32766 steps)."});
    }
};

QTEST_MAIN(TestStepEditing)
#include "tst_stepediting.moc"
