#include "ScriptCheck.h"
#include "StepFunctions.h"

#include <QTest>

class TestStepFunctions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void codesFollowTheMotionTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("pause") << "Pause" << 0;
        QTest::newRow("shoulder up") << "ShoulderUp" << 1;
        QTest::newRow("grip close") << "GripClose" << 5;
        QTest::newRow("shoulder down is up + 5") << "ShoulderDown" << 6;
        QTest::newRow("base cw") << "BaseCW" << 7;
        QTest::newRow("grip open") << "GripOpen" << 10;
    }
    void codesFollowTheMotionTable()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(StepFunctions::code(name), code);
        QCOMPARE(StepFunctions::name(code), name);
    }

    void exactLookupIsCaseSensitive()
    {
        QCOMPARE(StepFunctions::code(QStringLiteral("pause")), -1);
        QCOMPARE(StepFunctions::code(QStringLiteral(" Pause")), -1);
        QCOMPARE(StepFunctions::code(QString()), -1);
        QVERIFY(StepFunctions::name(11).isEmpty());
        QVERIFY(StepFunctions::name(-1).isEmpty());
    }

    void canonicalIgnoresCaseAndSurroundingBlanks()
    {
        QCOMPARE(StepFunctions::canonical(QStringLiteral("wristup")), QStringLiteral("WristUp"));
        QCOMPARE(StepFunctions::canonical(QStringLiteral("  BASECCW ")), QStringLiteral("BaseCCW"));
        QCOMPARE(StepFunctions::canonical(QStringLiteral("basecw")), QStringLiteral("BaseCW"));
        QVERIFY(StepFunctions::canonical(QStringLiteral("wrist up")).isEmpty());
        QVERIFY(StepFunctions::canonical(QString()).isEmpty());
    }

    // Steps that a run plays differently from how they read, and what is said of them.
    void unknownSteps_data()
    {
        QTest::addColumn<QStringList>("functions"); // steps 1 ..; every step lasts 1 s
        QTest::addColumn<QStringList>("told");
        QTest::newRow("all motions") << QStringList{"ElbowUp", "Pause"} << QStringList{};
        QTest::newRow("after a motion")
            << QStringList{"WristUp", "ElbowUp", "Pause", "ElbowUp", "Grab"}
            << QStringList{"Step 5 \"Grab\" is not a motion: ElbowUp keeps running through it"};
        QTest::newRow("first step, and after a pause")
            << QStringList{"Grab", "Pause", "elbowup"}
            << QStringList{"Step 1 \"Grab\" is not a motion: the arm stands still through it",
                           "Step 3 \"elbowup\" is not a motion: the arm stands still through it"};
        QTest::newRow("an unknown step does not change what runs")
            << QStringList{"BaseCW", "x", "y"}
            << QStringList{"Step 2 \"x\" is not a motion: BaseCW keeps running through it",
                           "Step 3 \"y\" is not a motion: BaseCW keeps running through it"};
        QTest::newRow("empty function with a time") << QStringList{"GripOpen", ""}
                                                    << QStringList{"Step 2 \"\" is not a motion: GripOpen keeps running through it"};
    }
    void unknownSteps()
    {
        QFETCH(QStringList, functions);
        QList<ScriptRow> steps;
        for (const QString &function : functions)
            steps.append(ScriptRow{QString(), function, QStringLiteral(" 1")});
        QStringList told;
        for (const UnknownStep &step : UnknownSteps(steps))
            told << UnknownStepText(step);
        QTEST(told, "told");
        // A row with neither function nor time, as a file cut short leaves it, is none.
        steps.append(ScriptRow{});
        QCOMPARE(UnknownSteps(steps).size(), told.size());
    }
};

QTEST_GUILESS_MAIN(TestStepFunctions)
#include "tst_stepfunctions.moc"
