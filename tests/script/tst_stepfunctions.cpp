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
};

QTEST_GUILESS_MAIN(TestStepFunctions)
#include "tst_stepfunctions.moc"
