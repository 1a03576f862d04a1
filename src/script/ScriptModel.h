#pragma once

#include "ScriptFile.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

#include <array>

// The script: the cells of the grid and its end marker NextStep. Row 0 is the header row (the
// view's horizontal header), step rows start at 1 and are the model's rows from 0 (grid row r is
// model row r - 1). Columns: Step, Function, Time. The script is rows 1 .. NextStep - 1; the rows
// below it are empty, or hold a step that was begun and never ended.
//
// There are two kinds of change. The grid's own, as the window's script code makes them: texts,
// row count, NextStep. And whole-step edits (insert, delete, swap, append) that keep the step
// numbers and NextStep in order and have exact inverses, so an undo needs to keep only the step it
// took away. Every change reaches views through the usual model signals.
//
// The step numbers stay where they are when steps move: a step edit shifts the Function and Time
// cells, adds or removes the last step's row, and writes the number of a new last step. A script
// numbered as recorded stays numbered 1, 2, 3, ...; numbers a file brought in stay on their rows.
class ScriptModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int Columns = 3;
    // The grid's size at start and after Clear; deleting steps never takes it below that.
    static constexpr int StartRows = 14;
    // NextStep is a 16-bit counter, so a script holds at most 32766 steps.
    static constexpr qint16 MaxNextStep = 32767;

    struct Step
    {
        QString function;
        QString time;
        bool operator==(const Step &) const = default;
    };

    // Everything that makes up the script, to put it back as it was. Copies share the texts.
    struct Snapshot
    {
        ScriptRow header;
        QList<ScriptRow> rows; // grid rows 1 ..
        qint16 nextStep = 1;
    };

    // What deleteStep took away, for undeleteStep.
    struct DeletedStep
    {
        Step step;
        QString lastNumber; // the Step text of the row that went with the last step
        bool padded = false; // an empty row was added to keep StartRows
    };

    explicit ScriptModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Rows counting the header row, as the grid counts them; setRows keeps at least the header.
    int rows() const { return int(m_rows.size()) + 1; }
    void setRows(int rows);
    void appendRow();
    void removeRow(int row);

    // Cell texts with the header as row 0; out-of-range cells read as empty and ignore writes.
    QString text(int row, int col) const;
    void setText(int row, int col, const QString &text);
    ScriptRow rowTexts(int row) const;
    void setRowTexts(int row, const ScriptRow &texts);

    qint16 nextStep() const { return m_nextStep; }
    void setNextStep(qint16 nextStep);
    // Steps in the script, as far as the grid has rows for them.
    int stepCount() const;
    Step step(int row) const;
    // The cells of steps 1 .. stepCount().
    QList<ScriptRow> stepRows() const;
    // Whether step `row` names no step function (IsUnknownStep); such a Function cell's tooltip says
    // what a run makes of it.
    bool unknownStep(int row) const;
    // Whether step `row`'s Time text is one the cell editor refuses (IsBadStepTime); its tooltip says
    // how long a run makes the step.
    bool badTime(int row) const;

    Snapshot snapshot() const;
    void restore(Snapshot snapshot);

    // Whole-step edits; `row` is a step row, 1 .. NextStep - 1. Each returns false, and changes
    // nothing, when the rows named are not steps or the script is full.
    //
    // insertStep puts a step at `row` (NextStep appends), moving the steps from there down by one.
    bool insertStep(int row, const Step &step);
    // The inverse of insertStep(row, ...).
    bool uninsertStep(int row);
    // Takes the step at `row` out, moving the steps below it up by one; the grid keeps StartRows.
    bool deleteStep(int row, DeletedStep *deleted = nullptr);
    bool undeleteStep(int row, const DeletedStep &deleted);
    // Swaps steps `row` and `row` + 1: moving a step down, or the one below it up. Its own inverse.
    bool swapSteps(int row);
    // Appends steps after the last one; all of them or none.
    bool appendSteps(const QList<Step> &steps);
    bool unappendSteps(int count);

    // The steps that bring the arm back from where the script leaves it: the script's motions in
    // reverse order, each turned into its opposite (Up and Down, CCW and CW, Open and Close), with
    // the same times. A Pause stays a Pause in its reversed place. A Function text that names no step
    // function keeps the motion of the step before it going (as a run does), so its time is returned
    // as that motion's opposite; at the start of the script it is a pause.
    QList<Step> returnPath() const;

    // Seconds the script takes (steps whose time is not positive take none) and how long each command
    // code is in effect; code 0 (Pause) is the time standing still.
    struct Totals
    {
        double seconds = 0;
        std::array<double, 11> perCode{};
        // The codes with time, in the order they first run in the script.
        QList<int> order;
    };
    Totals totals() const;

Q_SIGNALS:
    // NextStep changed through setNextStep or a step edit.
    void nextStepChanged();

private:
    bool validStep(int row) const;
    bool canAdd(int count) const;
    bool removeStep(int row, bool keepStartRows, DeletedStep *deleted);
    void shiftDown(int from, int to);
    void shiftUp(int from, int to);
    void emitCells(int firstRow, int lastRow, int firstCol, int lastCol);

    ScriptRow m_header;
    QList<ScriptRow> m_rows;
    qint16 m_nextStep = 1;
};
