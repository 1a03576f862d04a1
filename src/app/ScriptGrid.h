#pragma once

#include <QColor>
#include <QPair>
#include <QPersistentModelIndex>
#include <QTableView>

class ScriptModel;

// The script grid: a view of a ScriptModel addressed the way the window's script code thinks of it.
// Row 0 is the fixed header row (shown as the table's header, still read and written as row 0) and
// column 0 the fixed Step column; steps live in rows 1 and below. The cells are the model's: a grid
// made without one keeps its own. The operator can make only a Function or Time
// cell of row 1 or below the current cell, by clicking or with the arrow keys; the program can set any
// cell current.
//
// Click() is raised when the operator clicks a Function or Time cell (on release); a click on a step's
// number makes its row current and raises no Click. LeaveCell() is raised just before the operator
// moves the current cell elsewhere, so an open edit can be committed while Row() and Col() still name
// its cell; a handler that calls RefuseLeave() keeps the current cell where it is. Changes made
// through SetRow, SetCol or SelectWholeRow raise nothing.
//
// The current step's row is always framed, in a dark shade of the grid lines; a step whose Function
// names no motion is drawn in unknownStepColour.
//
// The step edit keys (Insert, Delete, Ctrl+Up, Ctrl+Down) and a right click on a row are handed on
// as StepKey and StepMenu; the window decides what they do.
//
// Nothing is shown in the selection colour while HighLight() is off; the script runner switches it on
// and calls SelectWholeRow to mark the step being run.
class ScriptGrid : public QTableView
{
    Q_OBJECT
public:
    explicit ScriptGrid(QWidget *parent = nullptr, ScriptModel *script = nullptr);

    ScriptModel *Script() const { return m_script; }

    // Row count including the header row; SetRows keeps at least the header row.
    int Rows() const;
    void SetRows(int rows);
    int Cols() const;

    // Cell text; row 0 is the header. Out-of-range cells read as empty and ignore writes.
    QString TextMatrix(int row, int col) const;
    void SetTextMatrix(int row, int col, const QString &text);

    // The current cell. Row() is 0 only when the grid has no row below the header.
    int Row() const;
    int Col() const;
    void SetRow(int row);
    void SetCol(int col);

    // First step row in view; SetTopRow scrolls as far towards it as the rows below allow.
    int TopRow() const;
    void SetTopRow(int row);

    // Appends an empty row at the bottom; removes row `row` (1 or below).
    void AddItem();
    void RemoveItem(int row);

    // Column widths in twips, 15 to the pixel.
    int ColWidthTwips(int col) const;
    void SetColWidthTwips(int col, int twips);

    // Geometry of the current cell in pixels, relative to this widget.
    int CellLeft() const;
    int CellTop() const;
    int CellWidth() const;
    int CellHeight() const;

    // Selection colour as a Windows colour value (red in bits 0-7, green 8-15, blue 16-23).
    quint32 BackColorSel() const;
    void SetBackColorSel(quint32 winColour);

    bool HighLight() const { return m_highLight; }
    void SetHighLight(bool on);

    // Makes `row` current and selects it from the Step column to the last column.
    void SelectWholeRow(int row);

    // Step 1 current and at the top of the view, as a script newly put in is shown.
    void ShowFromFirstStep();

    // For a LeaveCell handler: the operator's move is not made.
    void RefuseLeave();

    // Colours of the grid's cosmetics.
    static QColor outsideColour() { return QColor(230, 230, 230); }
    static QColor gridLineColour() { return QColor(192, 192, 192); }
    static QColor currentFrameColour() { return QColor(96, 96, 96); }
    static QColor unknownStepColour() { return QColor(192, 0, 0); }

    enum class StepKey { Insert, Delete, MoveUp, MoveDown };

Q_SIGNALS:
    void Click();
    void LeaveCell();
    // A step edit key pressed on the grid itself (no cell editor has the keys then).
    void StepKeyPressed(ScriptGrid::StepKey key);
    // A right click on row `row` (1 or below), after it was made the current row.
    void StepMenu(int row, const QPoint &globalPos);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void keyboardSearch(const QString &search) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    // Raises LeaveCell; false when its handler refused the move.
    bool leaveCell();
    QRect currentCellRect() const;
    void setCurrent(int modelRow, int col);
    void ensureCurrent();

    ScriptModel *m_script = nullptr;
    QPair<int, int> m_currentBeforeReset{1, 1};
    bool m_highLight = false;
    bool m_leaveRefused = false;
    QColor m_backColorSel;
    QPersistentModelIndex m_pressed;
};
