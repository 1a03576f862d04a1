#include "GridText.h"
#include "ScriptGrid.h"
#include "ScriptModel.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>

#include <tuple>

namespace {

// A grid laid out like the window's: three columns, header texts, 14 rows, in its 253 x 302 frame.
void setUp(ScriptGrid &grid, int rows = 14)
{
    grid.SetColWidthTwips(0, 440);
    grid.SetColWidthTwips(1, 2150);
    grid.SetColWidthTwips(2, 625);
    grid.SetTextMatrix(0, 0, QStringLiteral("Step"));
    grid.SetTextMatrix(0, 1, QStringLiteral("Function"));
    grid.SetTextMatrix(0, 2, QStringLiteral("Time"));
    grid.SetRows(rows);
    grid.resize(253, 302);
}

QPoint cellCentre(const ScriptGrid &grid, int row, int col)
{
    return grid.visualRect(grid.model()->index(row - 1, col)).center();
}

// A point inside the cell away from its text and its grid lines.
QPoint cellBlankSpot(const ScriptGrid &grid, int row, int col)
{
    const QRect r = grid.visualRect(grid.model()->index(row - 1, col));
    return QPoint(r.left() + 3, r.top() + 3) + grid.viewport()->geometry().topLeft();
}

// Key presses carrying any character, as a keyboard layout with that letter would send them.
void type(QWidget &editor, const QString &text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
        QApplication::sendEvent(&editor, &press);
    }
}

} // namespace

class TestScriptGrid : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void editorFilters_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        const int letters = int(GridText::Filter::Letters);
        const int number = int(GridText::Filter::Number);
        for (const auto &[tag, filter, typed, text] :
             std::initializer_list<std::tuple<const char *, int, const char *, const char *>>{
                 {"letters pass in Function", letters, "WristUp", "WristUp"},
                 {"digits blanks points dropped in Function", letters, "Wr 1st.Up-2", "WrstUp"},
                 {"non-ASCII letter dropped in Function", letters, "Gr\u00fcn", "Grn"},
                 {"digits and point pass in Time", number, "1.25", "1.25"},
                 {"everything typed stays in sight in Time", number, "-1 x.5e3", "-1 x.5e3"},
                 {"two points are typed as they come", number, "1..2", "1..2"}})
            QTest::newRow(tag) << filter << QString::fromUtf8(typed) << QString::fromUtf8(text);
    }
    void editorFilters()
    {
        QFETCH(int, filter);
        QFETCH(QString, typed);
        GridText editor;
        editor.SetCharFilter(GridText::Filter(filter));
        editor.show();
        type(editor, typed);
        QTEST(editor.text(), "text");
    }

    void editorKeys()
    {
        QWidget window;
        GridText editor(&window);
        window.show();
        QVERIFY(editor.isHidden());
        QVERIFY(!editor.hasFrame());
        editor.show();
        editor.SetCharFilter(GridText::Filter::Number);
        QTest::keyClicks(&editor, QStringLiteral("123"));
        QTest::keyClick(&editor, Qt::Key_Backspace);
        QCOMPARE(editor.text(), QStringLiteral("12"));
        QTest::keyClick(&editor, Qt::Key_Home);
        QTest::keyClick(&editor, Qt::Key_Delete);
        QTest::keyClick(&editor, Qt::Key_End);
        QTest::keyClick(&editor, Qt::Key_Left);
        QTest::keyClicks(&editor, QStringLiteral("9"));
        QCOMPARE(editor.text(), QStringLiteral("92"));

        QSignalSpy enter(&editor, &GridText::EnterPressed);
        QSignalSpy escape(&editor, &GridText::EscapePressed);
        QTest::keyClick(&editor, Qt::Key_Return);
        QTest::keyClick(&editor, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(enter.count(), 2);
        QCOMPARE(escape.count(), 0);
        QTest::keyClick(&editor, Qt::Key_Escape);
        QCOMPARE(escape.count(), 1);
        QCOMPARE(editor.text(), QStringLiteral("92"));

        // Focus selects everything, so the next key replaces it.
        editor.setText(QStringLiteral(" 2.5"));
        editor.setCursorPosition(4);
        QFocusEvent focus(QEvent::FocusIn, Qt::OtherFocusReason);
        QApplication::sendEvent(&editor, &focus);
        QCOMPARE(editor.selectedText(), QStringLiteral(" 2.5"));
        QTest::keyClicks(&editor, QStringLiteral("7"));
        QCOMPARE(editor.text(), QStringLiteral("7"));
    }

    void editorDropsPasting()
    {
        GridText editor;
        editor.SetCharFilter(GridText::Filter::Letters);
        editor.show();
        QApplication::clipboard()->setText(QStringLiteral("12 34"));
        if (QApplication::clipboard()->text() != QStringLiteral("12 34"))
            QSKIP("no clipboard on this platform");
        QTest::keyClicks(&editor, QStringLiteral("ab"));
        QTest::keyClick(&editor, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(&editor, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(editor.text(), QStringLiteral("ab"));
    }

    void textMatrixAddressesHeaderAsRowZero()
    {
        ScriptGrid grid;
        setUp(grid);
        QCOMPARE(grid.Rows(), 14);
        QCOMPARE(grid.Cols(), 3);
        QCOMPARE(grid.model()->rowCount(), 13);
        QCOMPARE(grid.model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Time"));
        QCOMPARE(grid.columnWidth(0), 29);
        QCOMPARE(grid.columnWidth(1), 143);
        QCOMPARE(grid.ColWidthTwips(2), 630);

        grid.SetTextMatrix(0, 1, QStringLiteral("Motion"));
        QCOMPARE(grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Motion"));
        grid.SetTextMatrix(1, 1, QStringLiteral("ElbowUp"));
        QCOMPARE(grid.model()->index(0, 1).data().toString(), QStringLiteral("ElbowUp"));
        QCOMPARE(grid.TextMatrix(1, 1), QStringLiteral("ElbowUp"));
        // Outside the grid nothing is read or written.
        grid.SetTextMatrix(14, 1, QStringLiteral("x"));
        grid.SetTextMatrix(1, 3, QStringLiteral("x"));
        QCOMPARE(grid.Rows(), 14);
        QCOMPARE(grid.Cols(), 3);
        QCOMPARE(grid.TextMatrix(14, 1), QString());
        QCOMPARE(grid.TextMatrix(-1, 0), QString());
    }

    void rowsAreAppendedAndRemoved()
    {
        ScriptGrid grid;
        setUp(grid);
        for (int r = 1; r <= 13; ++r)
            grid.SetTextMatrix(r, 0, QString::number(r));
        grid.AddItem();
        QCOMPARE(grid.Rows(), 15);
        QCOMPARE(grid.TextMatrix(14, 0), QString());
        QCOMPARE(grid.TextMatrix(13, 0), QStringLiteral("13"));
        grid.RemoveItem(3);
        QCOMPARE(grid.Rows(), 14);
        QCOMPARE(grid.TextMatrix(3, 0), QStringLiteral("4"));
        QCOMPARE(grid.TextMatrix(0, 0), QStringLiteral("Step"));
        grid.RemoveItem(0);
        QCOMPARE(grid.Rows(), 14);
        grid.SetRows(1);
        QCOMPARE(grid.Rows(), 1);
        QCOMPARE(grid.Row(), 0);
        QCOMPARE(grid.TextMatrix(0, 2), QStringLiteral("Time"));
    }

    void currentCellFollowsTheProgram()
    {
        ScriptGrid grid;
        setUp(grid);
        QCOMPARE(grid.Row(), 1);
        QCOMPARE(grid.Col(), 1);
        QSignalSpy leave(&grid, &ScriptGrid::LeaveCell);
        grid.SetRow(5);
        grid.SetCol(0);
        grid.SetRow(14);
        QCOMPARE(grid.Row(), 5);
        QCOMPARE(grid.Col(), 0);
        QCOMPARE(leave.count(), 0);
    }

    void clicksAndArrowKeysReachOnlyFunctionAndTimeCells()
    {
        ScriptGrid grid;
        setUp(grid);
        grid.show();
        grid.SetRow(2);
        grid.SetCol(1);
        using Cells = QList<QPair<int, int>>;
        Cells leftFrom;
        connect(&grid, &ScriptGrid::LeaveCell, &grid, [&] { leftFrom.append({grid.Row(), grid.Col()}); });
        QSignalSpy click(&grid, &ScriptGrid::Click);
        const auto clickCell = [&grid](int row, int col) {
            QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(grid, row, col));
        };

        // A step's number makes its row current, in the column that was current, and opens no edit.
        clickCell(4, 0);
        QCOMPARE(grid.Row(), 4);
        QCOMPARE(grid.Col(), 1);
        QCOMPARE(click.count(), 0);
        QCOMPARE(leftFrom, (Cells{{2, 1}}));
        grid.SetRow(2);
        leftFrom.clear();
        clickCell(4, 2);
        QCOMPARE(grid.Row(), 4);
        QCOMPARE(grid.Col(), 2);
        QCOMPARE(click.count(), 1);
        QCOMPARE(leftFrom, (Cells{{2, 1}}));
        // A click on the current cell leaves nothing.
        clickCell(4, 2);
        QCOMPARE(click.count(), 2);
        QCOMPARE(leftFrom.size(), 1);

        QTest::keyClick(&grid, Qt::Key_Left);
        QTest::keyClick(&grid, Qt::Key_Left);
        QCOMPARE(grid.Col(), 1);
        QTest::keyClick(&grid, Qt::Key_Down);
        QTest::keyClick(&grid, Qt::Key_Right);
        QTest::keyClicks(&grid, QStringLiteral("B"));
        QCOMPARE(grid.Row(), 5);
        QCOMPARE(grid.Col(), 2);
        QCOMPARE(leftFrom, (Cells{{2, 1}, {4, 2}, {4, 1}, {5, 1}}));

        // A LeaveCell handler that refuses keeps the current cell for clicks, keys and the number column.
        QMetaObject::Connection refuse = connect(&grid, &ScriptGrid::LeaveCell, &grid, [&grid] { grid.RefuseLeave(); });
        clickCell(1, 2);
        clickCell(3, 0);
        QTest::keyClick(&grid, Qt::Key_Up);
        QCOMPARE(grid.Row(), 5);
        QCOMPARE(grid.Col(), 2);
        QCOMPARE(click.count(), 2);
        disconnect(refuse);

        // Below the last row there is no cell.
        grid.SetRows(3);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, QPoint(100, grid.viewport()->height() - 3));
        QCOMPARE(click.count(), 2);
    }

    void topRowScrolls()
    {
        ScriptGrid grid;
        setUp(grid, 40);
        grid.show();
        QCOMPARE(grid.TopRow(), 1);
        grid.SetTopRow(20);
        QCOMPARE(grid.TopRow(), 20);
        QCOMPARE(grid.rowAt(0), 19);
        grid.AddItem();
        // The last rows cannot reach the top; the view stops with the last row at the bottom.
        grid.SetTopRow(40);
        const int top = grid.TopRow();
        QVERIFY(top > 20 && top < 40);
        QVERIFY(grid.rowViewportPosition(top - 1) >= 0);
        QVERIFY(grid.rowViewportPosition(top - 2) < 0);
        const int last = grid.model()->rowCount() - 1;
        QVERIFY(grid.rowViewportPosition(last) + grid.rowHeight(last) <= grid.viewport()->height());
        grid.SetTopRow(1);
        QCOMPARE(grid.TopRow(), 1);
    }

    void wholeRowShowsInSelectionColourOnlyWithHighlight()
    {
        ScriptGrid grid;
        setUp(grid);
        grid.show();
        grid.SetBackColorSel(0x00FF8000); // blue 255, green 128, red 0
        QCOMPARE(grid.palette().color(QPalette::Inactive, QPalette::Highlight), QColor(0, 128, 255));
        grid.SetRow(1);
        grid.SetCol(2);
        grid.SelectWholeRow(3);
        QCOMPARE(grid.Row(), 3);
        QCOMPARE(grid.Col(), 2);
        QCOMPARE(grid.selectionModel()->selectedIndexes().size(), 3);
        for (const QModelIndex &i : grid.selectionModel()->selectedIndexes())
            QCOMPARE(i.row(), 2);
        // Cell geometry is relative to the grid; the line at the cell's right belongs to the column.
        QVERIFY(grid.CellWidth() >= 41 && grid.CellWidth() <= 42);
        QVERIFY(grid.CellHeight() > 10);
        const QPoint inside(grid.CellLeft() + grid.CellWidth() / 2, grid.CellTop() + grid.CellHeight() / 2);
        QCOMPARE(grid.childAt(inside), grid.viewport());
        QCOMPARE(grid.indexAt(grid.viewport()->mapFrom(&grid, inside)), grid.model()->index(2, 2));
        QVERIFY(grid.CellTop() >= grid.horizontalHeader()->height() + 2 * grid.CellHeight());

        const auto shot = [&grid] { return grid.grab().toImage(); };
        QCOMPARE(shot().pixelColor(cellBlankSpot(grid, 3, 1)), QColor(Qt::white));
        QCOMPARE(shot().pixelColor(cellBlankSpot(grid, 3, 0)), grid.palette().color(QPalette::Button));
        grid.SetHighLight(true);
        const QImage lit = shot();
        for (int col = 0; col < 3; ++col)
            QCOMPARE(lit.pixelColor(cellBlankSpot(grid, 3, col)), QColor(0, 128, 255));
        QCOMPARE(lit.pixelColor(cellBlankSpot(grid, 2, 1)), QColor(Qt::white));
        grid.SetHighLight(false);
        QCOMPARE(shot().pixelColor(cellBlankSpot(grid, 3, 1)), QColor(Qt::white));
    }

    void numbersStayReadable_data()
    {
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("next");
        QTest::newRow("two digits") << 0 << QStringLiteral("98") << QStringLiteral("99");
        QTest::newRow("three digits") << 0 << QStringLiteral("100") << QStringLiteral("101");
        QTest::newRow("four digits") << 0 << QStringLiteral("1000") << QStringLiteral("1001");
        QTest::newRow("the last step") << 0 << QStringLiteral("32765") << QStringLiteral("32766");
        QTest::newRow("time of five digits") << 2 << QStringLiteral(" 99998") << QStringLiteral(" 99999");
        QTest::newRow("longest time") << 2 << QStringLiteral(" 999999999.5") << QStringLiteral(" 999999999.6");
    }

    // Numbers in the narrow Step and Time columns are shown whole, never cut to an ellipsis.
    void numbersStayReadable()
    {
        QFETCH(int, col);
        QFETCH(QString, step);
        QFETCH(QString, next);
        ScriptGrid grid;
        setUp(grid);
        grid.SetRow(5);
        grid.show();
        grid.SetTextMatrix(1, col, step);
        grid.SetTextMatrix(2, col, next);
        const QImage shot = grid.grab().toImage();
        const QPoint viewport = grid.viewport()->geometry().topLeft();
        const auto cell = [&](int row) {
            // Inside the grid lines, which belong to the cell's right and bottom.
            const QRect r = grid.visualRect(grid.model()->index(row - 1, col)).translated(viewport);
            return shot.copy(r.adjusted(0, 0, -1, -1));
        };
        const QImage first = cell(1);
        // Two numbers that differ only in their last digit are drawn differently: nothing is cut off.
        QVERIFY(first != cell(2));

        // The ink stays clear of the cell's left and right edges.
        const QColor background = col == 0 ? grid.palette().color(QPalette::Button) : QColor(Qt::white);
        int left = first.width(), right = -1;
        for (int y = 0; y < first.height(); ++y) {
            for (int x = 0; x < first.width(); ++x) {
                if (first.pixelColor(x, y) != background) {
                    left = qMin(left, x);
                    right = qMax(right, x);
                }
            }
        }
        QVERIFY2(left > 0 && right < first.width() - 1 && right > left,
                 qPrintable(QStringLiteral("ink from %1 to %2 in %3").arg(left).arg(right).arg(first.width())));
    }

    // A step whose Function names no motion is drawn in a colour of its own and says why in its
    // tooltip; rows below the script are not steps and are not marked.
    void unknownStepsAreMarked()
    {
        ScriptGrid grid;
        setUp(grid);
        grid.SetRow(6);
        grid.show();
        const QStringList functions{"ElbowUp", "Grab", "elbowup", "Grab"};
        for (int row = 1; row <= functions.size(); ++row) {
            grid.SetTextMatrix(row, 1, functions[row - 1]);
            grid.SetTextMatrix(row, 2, QStringLiteral(" 1"));
        }
        grid.Script()->setNextStep(4);
        const QImage shot = grid.viewport()->grab().toImage();
        const auto marked = [&](int row) {
            const QRect r = grid.visualRect(grid.model()->index(row - 1, 1));
            for (int y = r.top(); y < r.bottom(); ++y) {
                for (int x = r.left(); x < r.right(); ++x) {
                    const QColor c = shot.pixelColor(x, y);
                    if (c.red() > c.green() + 80)
                        return true;
                }
            }
            return false;
        };
        QCOMPARE((QList<bool>{marked(1), marked(2), marked(3), marked(4)}), (QList<bool>{false, true, true, false}));
        QVERIFY(grid.model()->index(1, 1).data(Qt::ToolTipRole).toString().contains("Not a motion"));
        QVERIFY(grid.model()->index(0, 1).data(Qt::ToolTipRole).isNull());
    }

    void noTraceOfTheHighlightAfterIt()
    {
        QWidget window;
        auto *grid = new ScriptGrid(&window);
        setUp(*grid);
        grid->SetBackColorSel(0x00FF8000);
        grid->SetTextMatrix(3, 1, QStringLiteral("BaseCW"));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // As after the operator moved the focus with the Tab key, which makes the style draw frames.
        window.setAttribute(Qt::WA_KeyboardFocusChange);
        grid->setFocus(Qt::TabFocusReason);
        QVERIFY(grid->hasFocus());
        grid->SetRow(3);
        grid->SetCol(1);

        grid->SetHighLight(true);
        grid->SelectWholeRow(3);
        grid->SetHighLight(false);
        const QImage shot = grid->grab().toImage();
        const QPoint viewport = grid->viewport()->geometry().topLeft();
        // Black text on white, grey lines and the grey Step column: any colour is left-over highlight.
        for (int col = 0; col < 3; ++col) {
            const QRect r = grid->visualRect(grid->model()->index(2, col)).translated(viewport);
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    const QColor c = shot.pixelColor(x, y);
                    QVERIFY2(c.red() == c.green() && c.green() == c.blue(),
                             qPrintable(QStringLiteral("column %1 at %2,%3: %4").arg(col).arg(x).arg(y).arg(c.name())));
                }
            }
        }
    }

    void outsideAreaAndGridLines()
    {
        ScriptGrid grid;
        setUp(grid, 3);
        grid.show();
        const QImage shot = grid.grab().toImage();
        const QRect viewport = grid.viewport()->geometry();
        QCOMPARE(shot.pixelColor(viewport.left() + 100, viewport.bottom() - 3), QColor(230, 230, 230));
        QCOMPARE(shot.pixelColor(viewport.right() - 3, viewport.top() + 3), QColor(230, 230, 230));
        const QRect cell = grid.visualRect(grid.model()->index(0, 1)).translated(viewport.topLeft());
        QCOMPARE(shot.pixelColor(cell.center().x(), cell.bottom() + 1), QColor(192, 192, 192));
    }
};

QTEST_MAIN(TestScriptGrid)
#include "tst_scriptgrid.moc"
