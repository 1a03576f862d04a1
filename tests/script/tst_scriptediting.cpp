#include "ScriptEditing.h"

#include <QTest>

using namespace ScriptEditing;

class TestScriptEditing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void editStartsWithCellTextOrTypedCharacter_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("start");
        QTest::newRow("click starts with the blank") << 32 << " 2.5";
        QTest::newRow("control code") << 0 << " 2.5";
        QTest::newRow("letter") << int('W') << "W";
        QTest::newRow("first printable after blank") << int('!') << "!";
        QTest::newRow("digit") << int('7') << "7";
    }
    void editStartsWithCellTextOrTypedCharacter()
    {
        QFETCH(int, key);
        QFETCH(QString, start);
        QCOMPARE(EditStartText(qint16(key), QStringLiteral(" 2.5")), start);
    }

    void commit_data()
    {
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("write");
        QTest::addColumn<QString>("cell");
        QTest::newRow("wristup") << FunctionColumn << "wristup" << true << "WristUp";
        QTest::newRow("basecw") << FunctionColumn << "basecw" << true << "BaseCW";
        QTest::newRow("BASECCW") << FunctionColumn << "BASECCW" << true << "BaseCCW";
        QTest::newRow("surrounding blanks") << FunctionColumn << "  pause " << true << "Pause";
        QTest::newRow("no step function name") << FunctionColumn << "wiggle" << true << "BaseCCW";
        QTest::newRow("emptied function") << FunctionColumn << "" << true << "BaseCCW";
        QTest::newRow("time 1.5") << TimeColumn << "1.5" << true << " 1.5";
        QTest::newRow("time 0.50") << TimeColumn << "0.50" << true << " .5";
        QTest::newRow("time 3") << TimeColumn << "3" << true << " 3";
        QTest::newRow("time .5") << TimeColumn << ".5" << true << " .5";
        QTest::newRow("time 1.") << TimeColumn << "1." << true << " 1";
        QTest::newRow("negative time becomes zero") << TimeColumn << "-2" << true << " 0";
        QTest::newRow("emptied time keeps the cell") << TimeColumn << "" << false << "";
        QTest::newRow("lone point keeps the cell") << TimeColumn << "." << false << "";
        QTest::newRow("two points keep the cell") << TimeColumn << "1.2.5" << false << "";
        QTest::newRow("step column is never written") << StepColumn << "5" << false << "";
    }
    void commit()
    {
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(bool, write);
        QFETCH(QString, cell);
        const Commit c = CommitCellEdit(2, col, 4, true, typed);
        QCOMPARE(c.writeCell, write);
        QCOMPARE(c.cellText, cell);
        QVERIFY(c.hideEditor);
    }

    void rowAfterTheLastStepChangesNothing()
    {
        const Commit c = CommitCellEdit(3, FunctionColumn, 3, true, QStringLiteral("GripOpen"));
        QVERIFY(!c.writeCell);
        QVERIFY(!c.hideEditor);
        QCOMPARE(c.editorText, QString());
        QVERIFY(!CommitCellEdit(7, TimeColumn, 1, true, QStringLiteral("2")).writeCell);
    }

    void escapedEditChangesNoCell()
    {
        // Escape hides the editor first; the commit then still rewrites the editor's text only.
        const Commit c = CommitCellEdit(1, FunctionColumn, 3, false, QStringLiteral("elbowdown"));
        QVERIFY(!c.writeCell);
        QVERIFY(!c.hideEditor);
        QCOMPARE(c.editorText, QStringLiteral("ElbowDown"));
        QVERIFY(!CommitCellEdit(1, TimeColumn, 3, false, QStringLiteral("4")).writeCell);
    }
};

QTEST_GUILESS_MAIN(TestScriptEditing)
#include "tst_scriptediting.moc"
