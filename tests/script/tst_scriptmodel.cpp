#include "ScriptModel.h"
#include "ScriptNumbers.h"

#include <QSignalSpy>
#include <QTest>

namespace {

using Steps = QList<ScriptModel::Step>;

// A grid of `rows` rows holding `steps` numbered from 1, the header as the window writes it.
void fill(ScriptModel &model, const Steps &steps, int rows = ScriptModel::StartRows,
          const QStringList &numbers = {})
{
    model.setRows(rows);
    model.setRowTexts(0, {"Step", "Function", "Time"});
    for (int i = 0; i < steps.size(); ++i) {
        const QString number = numbers.isEmpty() ? NumberText(i + 1) : numbers[i];
        model.setRowTexts(i + 1, {number, steps[i].function, steps[i].time});
    }
    model.setNextStep(qint16(steps.size() + 1));
}

// Cells of rows 1 .. NextStep (one past the last step), "Step Function Time" each.
QStringList rowsUpToNextStep(const ScriptModel &model)
{
    QStringList texts;
    for (int row = 1; row <= model.nextStep() && row < model.rows(); ++row)
        texts << QStringList{model.text(row, 0), model.text(row, 1), model.text(row, 2)}.join(QLatin1Char('|'));
    return texts;
}

const Steps Three{{"ElbowUp", " 1"}, {"Pause", " .5"}, {"BaseCW", " 2"}};

// Applies a step edit told as text; returns the edit that takes it back ("" when it was refused).
QString apply(ScriptModel &model, const QString &edit, ScriptModel::DeletedStep *deleted)
{
    const QStringList words = edit.split(QLatin1Char(' '));
    const int row = words.value(1).toInt();
    if (words[0] == QLatin1String("insert"))
        return model.insertStep(row, {"GripOpen", " 3"}) ? QStringLiteral("uninsert %1").arg(row) : QString();
    if (words[0] == QLatin1String("duplicate"))
        return model.insertStep(row + 1, model.step(row)) ? QStringLiteral("uninsert %1").arg(row + 1) : QString();
    if (words[0] == QLatin1String("delete"))
        return model.deleteStep(row, deleted) ? QStringLiteral("undelete %1").arg(row) : QString();
    if (words[0] == QLatin1String("swap"))
        return model.swapSteps(row) ? edit : QString();
    if (words[0] == QLatin1String("return")) {
        const Steps path = model.returnPath();
        return model.appendSteps(path) ? QStringLiteral("unappend %1").arg(path.size()) : QString();
    }
    if (words[0] == QLatin1String("uninsert"))
        return model.uninsertStep(row) ? edit : QString();
    if (words[0] == QLatin1String("undelete"))
        return model.undeleteStep(row, *deleted) ? edit : QString();
    if (words[0] == QLatin1String("unappend"))
        return model.unappendSteps(row) ? edit : QString();
    return QString();
}

bool sameScript(const ScriptModel::Snapshot &a, const ScriptModel::Snapshot &b)
{
    return a.header == b.header && a.rows == b.rows && a.nextStep == b.nextStep;
}

} // namespace

class TestScriptModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stepEditsAndTheirInverses_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("numbers"); // Step texts of the three steps; empty: 1, 2, 3
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QStringList>("after"); // rows 1 .. NextStep; empty: refused
        QTest::addColumn<int>("rowsAfter");

        const QStringList canonical;
        QTest::newRow("insert at the top")
            << 14 << canonical << "insert 1"
            << QStringList{" 1|GripOpen| 3", " 2|ElbowUp| 1", " 3|Pause| .5", " 4|BaseCW| 2", "||"} << 15;
        QTest::newRow("insert in the middle")
            << 14 << canonical << "insert 3"
            << QStringList{" 1|ElbowUp| 1", " 2|Pause| .5", " 3|GripOpen| 3", " 4|BaseCW| 2", "||"} << 15;
        QTest::newRow("insert at NextStep appends")
            << 14 << canonical << "insert 4"
            << QStringList{" 1|ElbowUp| 1", " 2|Pause| .5", " 3|BaseCW| 2", " 4|GripOpen| 3", "||"} << 15;
        QTest::newRow("insert below NextStep refused") << 14 << canonical << "insert 5" << QStringList() << 14;
        QTest::newRow("insert at the header refused") << 14 << canonical << "insert 0" << QStringList() << 14;
        QTest::newRow("duplicate the last step")
            << 14 << canonical << "duplicate 3"
            << QStringList{" 1|ElbowUp| 1", " 2|Pause| .5", " 3|BaseCW| 2", " 4|BaseCW| 2", "||"} << 15;
        QTest::newRow("delete the first step keeps 14 rows")
            << 14 << canonical << "delete 1" << QStringList{" 1|Pause| .5", " 2|BaseCW| 2", "||"} << 14;
        QTest::newRow("delete the last step of a long grid")
            << 20 << canonical << "delete 3" << QStringList{" 1|ElbowUp| 1", " 2|Pause| .5", "||"} << 19;
        QTest::newRow("delete after the script refused") << 14 << canonical << "delete 4" << QStringList() << 14;
        QTest::newRow("swap moves step 1 down")
            << 14 << canonical << "swap 1" << QStringList{" 1|Pause| .5", " 2|ElbowUp| 1", " 3|BaseCW| 2", "||"}
            << 14;
        QTest::newRow("swap of the last step refused") << 14 << canonical << "swap 3" << QStringList() << 14;
        QTest::newRow("return path")
            << 14 << canonical << "return"
            << QStringList{" 1|ElbowUp| 1", " 2|Pause| .5", " 3|BaseCW| 2", " 4|BaseCCW| 2", " 5|Pause| .5",
                           " 6|ElbowDown| 1", "||"}
            << 17;
        // Numbers a file brought in stay on their rows; only a new last row gets a number written.
        QTest::newRow("file numbers stay on their rows")
            << 14 << QStringList{"7", "x", ""} << "insert 1"
            << QStringList{"7|GripOpen| 3", "x|ElbowUp| 1", "|Pause| .5", " 4|BaseCW| 2", "||"} << 15;
        QTest::newRow("file numbers come back after a delete")
            << 14 << QStringList{"7", "x", "last"} << "delete 2" << QStringList{"7|ElbowUp| 1", "x|BaseCW| 2", "||"}
            << 14;
    }
    void stepEditsAndTheirInverses()
    {
        QFETCH(int, rows);
        QFETCH(QStringList, numbers);
        QFETCH(QString, edit);
        QFETCH(QStringList, after);
        QFETCH(int, rowsAfter);

        ScriptModel model;
        fill(model, Three, rows, numbers);
        model.setText(5, 1, "begun"); // a step begun and never ended, after the script
        const ScriptModel::Snapshot before = model.snapshot();
        ScriptModel::DeletedStep deleted;
        const QString inverse = apply(model, edit, &deleted);
        QCOMPARE(model.rows(), rowsAfter);
        if (after.isEmpty()) {
            QVERIFY(inverse.isEmpty());
            QVERIFY(sameScript(model.snapshot(), before));
            return;
        }
        QCOMPARE(rowsUpToNextStep(model), after);
        QCOMPARE(model.nextStep(), qint16(after.size()));
        // Rows after the script move with its end.
        QCOMPARE(model.text(5 + model.nextStep() - 4, 1), QStringLiteral("begun"));

        QVERIFY(!apply(model, inverse, &deleted).isEmpty());
        QVERIFY(sameScript(model.snapshot(), before));
    }

    void editsRefusedOnAFullScript()
    {
        ScriptModel model;
        model.setRows(ScriptModel::MaxNextStep + 4);
        model.setNextStep(ScriptModel::MaxNextStep - 1);
        QVERIFY(model.insertStep(1, {"Pause", " 0"}));
        QCOMPARE(model.nextStep(), ScriptModel::MaxNextStep);
        QVERIFY(!model.insertStep(1, {"Pause", " 0"}));
        QVERIFY(!model.appendSteps({{"Pause", " 0"}}));
        QVERIFY(model.deleteStep(2));
        QVERIFY(!model.appendSteps(Steps(2, {"Pause", " 0"})));
        QCOMPARE(model.nextStep(), qint16(ScriptModel::MaxNextStep - 1));
    }

    void returnPath_data()
    {
        QTest::addColumn<QStringList>("functions"); // each step's time is its position in tenths
        QTest::addColumn<QStringList>("path");      // "Function time"

        QTest::newRow("every motion turns round")
            << QStringList{"ShoulderUp", "BaseCCW", "ElbowUp", "WristUp", "GripClose"}
            << QStringList{"GripOpen .5", "WristDown .4", "ElbowDown .3", "BaseCW .2", "ShoulderDown .1"};
        QTest::newRow("and back again")
            << QStringList{"ShoulderDown", "BaseCW", "ElbowDown", "WristDown", "GripOpen"}
            << QStringList{"GripClose .5", "WristUp .4", "ElbowUp .3", "BaseCCW .2", "ShoulderUp .1"};
        QTest::newRow("pauses keep their reversed place")
            << QStringList{"Pause", "ElbowUp", "Pause"} << QStringList{"Pause .3", "ElbowDown .2", "Pause .1"};
        QTest::newRow("an unknown name returns the motion it kept going")
            << QStringList{"WristUp", "wristup", "Pause"} << QStringList{"Pause .3", "WristDown .2", "WristDown .1"};
        QTest::newRow("an unknown name first is a pause") << QStringList{"?", "BaseCW"}
                                                          << QStringList{"BaseCCW .2", "Pause .1"};
        QTest::newRow("empty script") << QStringList() << QStringList();
    }
    void returnPath()
    {
        QFETCH(QStringList, functions);
        ScriptModel model;
        Steps steps;
        for (int i = 0; i < functions.size(); ++i)
            steps.append({functions[i], NumberText((i + 1) / 10.0)});
        fill(model, steps);
        QStringList path;
        for (const ScriptModel::Step &step : model.returnPath())
            path << step.function + step.time;
        QTEST(path, "path");
    }

    void totals_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QList<double>>("perCode"); // codes 0 .. 10

        QTest::newRow("each code its own")
            << Steps{{"ElbowUp", " 2.5"}, {"Pause", " 1"}, {"ElbowUp", " .5"}, {"GripOpen", " .25"}} << 4.25
            << QList<double>{1, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0.25};
        QTest::newRow("times that are no wait count nothing")
            << Steps{{"BaseCW", "-3"}, {"BaseCW", ""}, {"BaseCW", "x"}, {"BaseCW", " 0"}} << 0.0
            << QList<double>(11, 0);
        QTest::newRow("an unknown name keeps the motion before it")
            << Steps{{"x", " 1"}, {"WristDown", " 1"}, {"y", " 2"}} << 4.0
            << QList<double>{1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0};
    }
    void totals()
    {
        QFETCH(Steps, steps);
        QFETCH(QList<double>, perCode);
        ScriptModel model;
        fill(model, steps);
        // The row after the script does not count.
        model.setRowTexts(int(steps.size()) + 1, {" 9", "ElbowUp", " 9"});
        const ScriptModel::Totals totals = model.totals();
        QTEST(totals.seconds, "seconds");
        QCOMPARE(QList<double>(totals.perCode.begin(), totals.perCode.end()), perCode);
    }

    void gridAddressingAndViewSignals()
    {
        ScriptModel model;
        fill(model, Three);
        QCOMPARE(model.rowCount(), 13);
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Function"));
        QCOMPARE(model.data(model.index(2, 2)).toString(), QStringLiteral(" 2"));
        QCOMPARE(model.text(3, 1), QStringLiteral("BaseCW"));
        QCOMPARE(model.text(14, 1), QString());
        model.setText(14, 1, "outside");
        model.setText(1, 3, "outside");
        QCOMPARE(model.rows(), 14);

        // Views hear of every cell a step edit changes.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy next(&model, &ScriptModel::nextStepChanged);
        QVERIFY(model.insertStep(2, {"GripOpen", " 1"}));
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted[0][1].toInt(), 3);
        QCOMPARE(next.count(), 1);
        const QModelIndex from = changed.last()[0].value<QModelIndex>();
        const QModelIndex to = changed.last()[1].value<QModelIndex>();
        QCOMPARE(QList<int>({from.row(), from.column(), to.row(), to.column()}), QList<int>({1, 1, 3, 2}));

        // A snapshot does not follow later edits, and putting it back is one reset.
        const ScriptModel::Snapshot kept = model.snapshot();
        model.setText(1, 1, "changed");
        QVERIFY(model.swapSteps(1));
        QCOMPARE(kept.rows[0][1], QStringLiteral("ElbowUp"));
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.restore(kept);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model.text(1, 1), QStringLiteral("ElbowUp"));
        QCOMPARE(model.nextStep(), qint16(5));
    }
};

QTEST_MAIN(TestScriptModel)
#include "tst_scriptmodel.moc"
