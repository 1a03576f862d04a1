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
        QTest::addColumn<QString>("cell"); // empty: refused, the editor stays open
        QTest::newRow("wristup") << FunctionColumn << "wristup" << "WristUp";
        QTest::newRow("basecw") << FunctionColumn << "basecw" << "BaseCW";
        QTest::newRow("BASECCW") << FunctionColumn << "BASECCW" << "BaseCCW";
        QTest::newRow("surrounding blanks") << FunctionColumn << "  pause " << "Pause";
        QTest::newRow("no step function name") << FunctionColumn << "grab" << "";
        QTest::newRow("emptied function") << FunctionColumn << "" << "";
        QTest::newRow("time 1.5") << TimeColumn << "1.5" << " 1.5";
        QTest::newRow("time 0.50") << TimeColumn << "0.50" << " .5";
        QTest::newRow("time .5") << TimeColumn << ".5" << " .5";
        QTest::newRow("time 1.") << TimeColumn << "1." << " 1";
        QTest::newRow("time with blanks round it") << TimeColumn << " 2 " << " 2";
        QTest::newRow("large time shown whole") << TimeColumn << "99999" << " 99999";
        QTest::newRow("largest time") << TimeColumn << "1000000000" << " 1000000000";
        QTest::newRow("time beyond the largest") << TimeColumn << "1000000000.5" << "";
        QTest::newRow("exponent") << TimeColumn << "1e3" << "";
        QTest::newRow("negative") << TimeColumn << "-2" << "";
        QTest::newRow("decimal comma") << TimeColumn << "1,5" << "";
        QTest::newRow("letters") << TimeColumn << "3x" << "";
        QTest::newRow("emptied time") << TimeColumn << "" << "";
        QTest::newRow("lone point") << TimeColumn << "." << "";
        QTest::newRow("two points") << TimeColumn << "1.2.5" << "";
    }
    void commit()
    {
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(QString, cell);
        const Commit c = CommitCellEdit(2, col, 4, true, typed);
        QCOMPARE(c.writeCell, !cell.isEmpty());
        QCOMPARE(c.cellText, cell);
        QCOMPARE(c.hideEditor, !cell.isEmpty());
        // A refusal keeps the text as typed and says what the cell takes.
        QCOMPARE(c.refusal.isEmpty(), !cell.isEmpty());
        if (cell.isEmpty()) {
            QCOMPARE(c.editorText, typed);
            QVERIFY2(c.refusal.contains(col == FunctionColumn ? "ShoulderUp, BaseCCW" : "from 0 to 1000000000"),
                     qPrintable(c.refusal));
        }
    }

    void repetitions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value"); // 0: refused
        QTest::newRow("one") << "1" << 1;
        QTest::newRow("leading zeros") << "007" << 7;
        QTest::newRow("largest") << "32767" << 32767;
        QTest::newRow("beyond the counter") << "40000" << 0;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("sign") << "-1" << 0;
        QTest::newRow("six digits") << "000001" << 0;
    }
    void repetitions()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(Repetitions(text).value_or(0), value);
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
        // Escape hides the editor first; the commit then changes nothing and refuses nothing.
        const Commit c = CommitCellEdit(1, FunctionColumn, 3, false, QStringLiteral("grab"));
        QVERIFY(!c.writeCell);
        QVERIFY(!c.hideEditor);
        QVERIFY(c.refusal.isEmpty());
        QVERIFY(!CommitCellEdit(1, TimeColumn, 3, false, QStringLiteral("4")).writeCell);
    }
};

QTEST_GUILESS_MAIN(TestScriptEditing)
#include "tst_scriptediting.moc"
